#include "histquery/sqllimits.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

TEST(AuthorizeAction, OnlyRowsOfHistory) {
  struct Case {
    int action;
    const char* first;
    const char* second;
    const char* database;
    bool readOnly;
    int expected;
    bool writeRefused;
  } cases[] = {
      {SQLITE_SELECT, nullptr, nullptr, nullptr, false, SQLITE_OK, false},
      {SQLITE_READ, "HISTORY", "ObjName", "main", true, SQLITE_OK, false},
      {SQLITE_READ, "history", "ObjName", "main", false, SQLITE_OK, false},
      {SQLITE_READ, "sqlite_master", "sql", "main", false, SQLITE_DENY, false},
      {SQLITE_READ, "pragma_table_info", "name", "main", false, SQLITE_DENY, false},
      {SQLITE_READ, "c", "", nullptr, false, SQLITE_OK, false},  // a WITH table
      {SQLITE_READ, "sqlite_master", "", nullptr, false, SQLITE_DENY, false},
      {SQLITE_READ, "PRAGMA_table_list", "", nullptr, false, SQLITE_DENY, false},
      {SQLITE_FUNCTION, nullptr, "count", nullptr, false, SQLITE_OK, false},
      {SQLITE_FUNCTION, nullptr, "load_extension", nullptr, false, SQLITE_DENY, false},
      {SQLITE_RECURSIVE, nullptr, nullptr, nullptr, false, SQLITE_OK, false},
      {SQLITE_INSERT, "HISTORY", nullptr, "main", false, SQLITE_OK, false},
      {SQLITE_UPDATE, "HISTORY", "State", "main", false, SQLITE_OK, false},
      {SQLITE_DELETE, "HISTORY", nullptr, "main", false, SQLITE_OK, false},
      {SQLITE_DELETE, "HISTORY", nullptr, "main", true, SQLITE_DENY, true},
      {SQLITE_UPDATE, "HISTORY", "State", "main", true, SQLITE_DENY, true},
      {SQLITE_INSERT, "sqlite_master", nullptr, "main", false, SQLITE_DENY, false},
      {SQLITE_INSERT, "HISTORY", nullptr, "vacuum_db", false, SQLITE_DENY, false},
      {SQLITE_ATTACH, "copy.db", nullptr, nullptr, false, SQLITE_DENY, false},
      {SQLITE_DETACH, "x", nullptr, nullptr, false, SQLITE_DENY, false},
      {SQLITE_PRAGMA, "journal_mode", "off", nullptr, false, SQLITE_DENY, false},
      {SQLITE_CREATE_TABLE, "T", nullptr, "main", false, SQLITE_DENY, false},
      {SQLITE_CREATE_TRIGGER, "T", "HISTORY", "main", false, SQLITE_DENY, false},
      {SQLITE_DROP_TABLE, "HISTORY", nullptr, "main", false, SQLITE_DENY, false},
      {SQLITE_ALTER_TABLE, "main", "HISTORY", nullptr, false, SQLITE_DENY, false},
      {SQLITE_CREATE_VTABLE, "T", "fts5", "main", false, SQLITE_DENY, false},
  };
  for (const Case& c : cases) {
    StatementGuard guard;
    guard.readOnly = c.readOnly;
    EXPECT_EQ(AuthorizeAction(guard, c.action, c.first, c.second, c.database), c.expected)
        << c.action << " " << (c.first ? c.first : "-") << " " << (c.second ? c.second : "-");
    EXPECT_EQ(guard.writeRefused, c.writeRefused) << c.action;
  }
}

}  // namespace
