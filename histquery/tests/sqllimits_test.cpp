#include "histquery/sqllimits.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

TEST(AuthorizeAction, OnlyRowsOfHistoryAndCoreFunctions) {
  struct Case {
    int action;
    const char* first;
    const char* second;
    const char* database;
    int expected;
  } cases[] = {
      {SQLITE_SELECT, nullptr, nullptr, nullptr, SQLITE_OK},
      {SQLITE_READ, "HISTORY", "ObjName", "main", SQLITE_OK},
      {SQLITE_READ, "history", "ObjName", "main", SQLITE_OK},
      {SQLITE_READ, "sqlite_master", "sql", "main", SQLITE_DENY},
      {SQLITE_READ, "pragma_table_info", "name", "main", SQLITE_DENY},
      {SQLITE_READ, "c", "", nullptr, SQLITE_OK},  // a WITH table
      {SQLITE_READ, "sqlite_master", "", nullptr, SQLITE_DENY},
      {SQLITE_READ, "PRAGMA_table_list", "", nullptr, SQLITE_DENY},
      {SQLITE_FUNCTION, nullptr, "count", nullptr, SQLITE_OK},
      {SQLITE_FUNCTION, nullptr, "strftime", nullptr, SQLITE_OK},
      {SQLITE_FUNCTION, nullptr, "row_number", nullptr, SQLITE_OK},
      {SQLITE_FUNCTION, nullptr, "->>", nullptr, SQLITE_OK},
      {SQLITE_FUNCTION, nullptr, "JSON_EXTRACT", nullptr, SQLITE_OK},
      {SQLITE_FUNCTION, nullptr, "load_extension", nullptr, SQLITE_DENY},
      {SQLITE_FUNCTION, nullptr, "fts3_tokenizer", nullptr, SQLITE_DENY},
      {SQLITE_FUNCTION, nullptr, "sqlite_compileoption_get", nullptr, SQLITE_DENY},
      {SQLITE_FUNCTION, nullptr, "readfile", nullptr, SQLITE_DENY},
      {SQLITE_FUNCTION, nullptr, "", nullptr, SQLITE_DENY},
      {SQLITE_FUNCTION, nullptr, nullptr, nullptr, SQLITE_DENY},
      {SQLITE_RECURSIVE, nullptr, nullptr, nullptr, SQLITE_OK},
      {SQLITE_INSERT, "HISTORY", nullptr, "main", SQLITE_OK},
      {SQLITE_UPDATE, "HISTORY", "State", "main", SQLITE_OK},
      {SQLITE_DELETE, "HISTORY", nullptr, "main", SQLITE_OK},
      {SQLITE_INSERT, "sqlite_master", nullptr, "main", SQLITE_DENY},
      {SQLITE_INSERT, "HISTORY", nullptr, "vacuum_db", SQLITE_DENY},
      {SQLITE_ATTACH, "copy.db", nullptr, nullptr, SQLITE_DENY},
      {SQLITE_DETACH, "x", nullptr, nullptr, SQLITE_DENY},
      {SQLITE_PRAGMA, "journal_mode", "off", nullptr, SQLITE_DENY},
      {SQLITE_CREATE_TABLE, "T", nullptr, "main", SQLITE_DENY},
      {SQLITE_CREATE_TRIGGER, "T", "HISTORY", "main", SQLITE_DENY},
      {SQLITE_DROP_TABLE, "HISTORY", nullptr, "main", SQLITE_DENY},
      {SQLITE_ALTER_TABLE, "main", "HISTORY", nullptr, SQLITE_DENY},
      {SQLITE_CREATE_VTABLE, "T", "fts5", "main", SQLITE_DENY},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AuthorizeAction(c.action, c.first, c.second, c.database), c.expected)
        << c.action << " " << (c.first ? c.first : "-") << " " << (c.second ? c.second : "-");
  }
}

}  // namespace
