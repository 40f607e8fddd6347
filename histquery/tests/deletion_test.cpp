#include "histquery/deletion.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "common/tests/scratchdir.h"

namespace {

void Exec(const std::string& store, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// Every row of the table as "rowid|TimeStamp|ObjName".
std::vector<std::string> Rows(const std::string& store) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_open(store.c_str(), &db);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "select TimeStamp, ObjName from HISTORY order by 1, 2", -1, &statement,
                     nullptr);
  while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW)
    rows.push_back(std::to_string(sqlite3_column_int64(statement, 0)) + "|" +
                   reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

const char kTable[] =
    "create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, "
    "ValueText text, Source text, State text);";

// Rows at `rowids`, each of object A or B in turn, a time stamp each.
std::string Rows(const std::vector<long long>& rowids) {
  std::string sql = "begin;";
  for (size_t k = 0; k < rowids.size(); ++k)
    sql += "insert into HISTORY (rowid, TimeStamp, ObjName, State) values (" +
           std::to_string(rowids[k]) + ", " + std::to_string(100 + k) + ", '" + "AB"[k % 2] +
           "', '');";
  return sql + "commit;";
}

// The slices delete exactly the rows that one statement deletes: rowids far
// apart and below zero (many slices of one row or none), a range an index
// narrows, a table without rowids (one statement), no match, no rows.
TEST(DeleteInSlices, TheRowsOfOneStatement) {
  std::vector<long long> sparse;
  for (long long k = -300; k < 300; ++k) sparse.push_back(k * k * k * 7919);
  std::vector<long long> dense;
  for (long long k = 1; k <= 20000; ++k) dense.push_back(k);
  struct Case {
    const char* name;
    std::string history;
    const char* condition;
  } cases[] = {
      {"negative and sparse rowids", kTable + Rows(sparse), "ObjName = 'A'"},
      {"an index narrows the walk", kTable + Rows(dense) + "create index T on HISTORY (TimeStamp);",
       "(TimeStamp >= 5000 and TimeStamp <= 9000) and ObjName = 'B'"},
      {"no rowids",
       "create table HISTORY (TimeStamp integer, ObjName text, primary key (TimeStamp, ObjName)) "
       "without rowid; insert into HISTORY values (1, 'A'), (2, 'B'), (3, 'A');",
       "ObjName = 'A'"},
      {"nothing matches", kTable + Rows(dense) + "create index T on HISTORY (TimeStamp);",
       "TimeStamp > 1e9"},
      {"no rows", kTable, "ObjName = 'A'"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::string sliced = dir.Path("sliced.db");
    std::string whole = dir.Path("whole.db");
    Exec(sliced, c.history);
    Exec(whole, c.history);
    size_t before = Rows(whole).size();
    Exec(whole, std::string("delete from HISTORY where ") + c.condition);
    Result<int64_t, DeletionStop> deleted = DeleteInSlices(sliced, c.condition);
    ASSERT_TRUE(deleted.Ok()) << c.name << ": " << deleted.Message();
    EXPECT_EQ(Rows(sliced), Rows(whole)) << c.name;
    EXPECT_EQ(static_cast<size_t>(deleted.Value()), before - Rows(whole).size()) << c.name;
  }
}

}  // namespace
