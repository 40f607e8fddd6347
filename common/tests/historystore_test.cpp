#include "common/historystore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/tests/scratchdir.h"

namespace {

// The message a step hands back for main to print.
std::string Message;

bool Resolve(const std::string& cfg, std::string& storePath) {
  Result<std::string, PathFault> found = ResolveHistoryDb(cfg.c_str());
  Message = found.Message();
  if (found.Ok()) storePath = found.Value();
  return found.Ok();
}

// Each row as "stamp|text|text...", "~" for a null text, into the vector
// that the context points to.
void CollectRow(void* context, const HistoryRow& row) {
  std::string text = std::to_string(row.stamp);
  for (int i = 1; i < row.columnCount; ++i) {
    text += std::string("|") + (row.texts[i] ? row.texts[i] : "~");
    EXPECT_EQ(row.lengths[i], row.texts[i] ? std::strlen(row.texts[i]) : 0);
  }
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

std::vector<std::string> Rows;

// How a run went: Ran, or the kind of its fault.
enum class Outcome { Ran, Missing, OpenFailed, Failed };

Outcome RunStore(const std::string& store, const std::string& sql,
                 MissingStore missing = MissingStore::Unreadable) {
  Result<Done, StoreFault> run = RunHistoryStatement(store, sql, missing, {CollectRow, &Rows});
  Message = run.Message();
  if (run.Ok()) return Outcome::Ran;
  switch (run.Fault().kind) {
    case StoreFault::Missing:
      return Outcome::Missing;
    case StoreFault::OpenFailed:
      return Outcome::OpenFailed;
    case StoreFault::Failed:
    case StoreFault::Busy:
      break;
  }
  return Outcome::Failed;
}

void MakeStore(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "create table HISTORY (TimeStamp integer, ObjName text, Typ text, "
                         "Value text, Val2 text, Source text, State text);"
                         "insert into HISTORY values (10, 'A', 'N', '1', '1', 'S', '');"
                         "insert into HISTORY values (20, 'B', 'N', '2', '2', 'S', 'X');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
}

}  // namespace

TEST(ResolveHistoryDb, FirstLineNamesTheDirectory) {
  ScratchDir dir;
  struct Case {
    std::string content;
    std::string expected;
  } cases[] = {
      {"/mnt/data  \n", "/mnt/data/history.db"},
      {"/mnt/data/\n", "/mnt/data/history.db"},
      {"/mnt/data", "/mnt/data/history.db"},
      {"/mnt/data \n \n", "/mnt/data/history.db"},
      {"/mnt/data\r\n", "/mnt/data\r/history.db"},
      {"/mnt/data\n/other\n", "/mnt/data/history.db"},
      {std::string(300, 'd') + "\n", std::string(254, 'd') + "/history.db"},
  };
  for (const Case& c : cases) {
    dir.Write("HistPath.cfg", c.content);
    std::string storePath;
    EXPECT_TRUE(Resolve(dir.Path("HistPath.cfg"), storePath));
    EXPECT_EQ(storePath, c.expected);
    EXPECT_EQ(Message, "");
  }
}

TEST(ResolveHistoryDb, MissingOrEmptyConfiguration) {
  ScratchDir dir;
  std::string storePath;
  EXPECT_FALSE(Resolve(dir.Path("none.cfg"), storePath));
  EXPECT_EQ(Message, "Error opening HistPath.cfg");
  for (const char* content : {"", "\n", "  \n \n"}) {
    dir.Write("HistPath.cfg", content);
    EXPECT_FALSE(Resolve(dir.Path("HistPath.cfg"), storePath));
    EXPECT_EQ(Message, "Datei HistPath.cfg ist leer");
  }
}

TEST(RunHistoryStatement, RowsMissingStoreAndErrors) {
  ScratchDir dir;
  std::string store = dir.Path("history.db");
  Rows.clear();
  EXPECT_EQ(RunStore(store, "select * from HISTORY"), Outcome::Missing);
  EXPECT_NE(access(store.c_str(), F_OK), 0) << "a missing store must not be created";

  MakeStore(store);
  EXPECT_EQ(RunStore(store, "select * from HISTORY where State <> \"X\""), Outcome::Ran);
  ASSERT_EQ(Rows.size(), 1u);
  EXPECT_EQ(Rows[0], "10|A|N|1|1|S|");

  Rows.clear();
  EXPECT_EQ(RunStore(store, "select * from HISTORY where TimeStamp > 99"), Outcome::Ran);
  EXPECT_TRUE(Rows.empty());

  EXPECT_EQ(RunStore(store, "select * from NOTHERE"), Outcome::Failed);
  EXPECT_EQ(Message, "SQL error creating table: no such table: NOTHERE");

  dir.Write("junk.db", std::string(4096, 'j'));
  EXPECT_EQ(RunStore(dir.Path("junk.db"), "select * from HISTORY"), Outcome::Failed);
  EXPECT_EQ(Message, "SQL error creating table: file is not a database");
}

// The rows as the runner hands them on, statement after statement of the
// text: the first column read as strtol reads its text (an integer taken as
// it is), rows without a stamp left out.
TEST(RunHistoryStatement, EveryStatementAndTheStampOfEachRow) {
  ScratchDir dir;
  std::string store = dir.Path("history.db");
  MakeStore(store);
  std::string big = std::to_string(static_cast<int32_t>(std::strtol("3000000000", nullptr, 10)));
  struct Case {
    const char* sql;
    std::vector<std::string> rows;
    Outcome outcome;
    const char* message;
  } cases[] = {
      {"select TimeStamp, ObjName from HISTORY order by TimeStamp",
       {"10|A", "20|B"},
       Outcome::Ran,
       ""},
      {"select null, 1 union all select 'NULL', 2 union all select '123abc', 3 union all "
       "select 1.9, 4 union all select 'LICHT1', 5 union all select 3000000000, 6 union all "
       "select -7, null union all select x'3132', x'41'",
       {"123|3", "1|4", "0|5", big + "|6", "-7|~", "12|A"},
       Outcome::Ran,
       ""},
      {"-- first\n select 1, 'a'; /* then */ select 2, 'b';  \n", {"1|a", "2|b"}, Outcome::Ran, ""},
      {"update HISTORY set Val2 = 'x' where TimeStamp = 10; select TimeStamp, Val2 from HISTORY "
       "where TimeStamp = 10",
       {"10|x"},
       Outcome::Ran,
       ""},
      {"select 1, 'a'; select * from NOTHERE; select 2, 'b'",
       {"1|a"},
       Outcome::Failed,
       "SQL error creating table: no such table: NOTHERE"},
  };
  for (const Case& c : cases) {
    Rows.clear();
    EXPECT_EQ(RunStore(store, c.sql), c.outcome) << c.sql;
    EXPECT_EQ(Rows, c.rows) << c.sql;
    EXPECT_EQ(Message, c.message) << c.sql;
  }
}

// Only a store file that does not exist is no store at all, unless the
// caller takes any that cannot be opened for one.
TEST(RunHistoryStatement, WhichStoreIsMissing) {
  ScratchDir dir;
  dir.Write("file", "");
  std::string store = dir.Path("file/history.db");  // cannot be opened: not a directory
  EXPECT_EQ(RunStore(store, "select 1", MissingStore::Unreadable), Outcome::Missing);
  EXPECT_EQ(Message, "");
  EXPECT_EQ(RunStore(store, "select 1", MissingStore::OnlyAbsent), Outcome::OpenFailed);
  EXPECT_EQ(Message, "Error opening " + store + " : Not a directory");
  EXPECT_EQ(RunStore(dir.Path("none.db"), "select 1", MissingStore::OnlyAbsent), Outcome::Missing);
}

TEST(RunHistoryStatement, WaitsForAWriterThatHoldsTheLock) {
#ifdef CCU_TESTS_EMULATED
  GTEST_SKIP() << "the emulator cannot fork; the report's end-to-end tests cover this";
#endif
  ScratchDir dir;
  std::string store = dir.Path("history.db");
  MakeStore(store);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    // Another process writes: it holds the database for 300 ms, then commits.
    close(ready[0]);
    sqlite3* writer = nullptr;
    if (sqlite3_open(store.c_str(), &writer) != SQLITE_OK ||
        sqlite3_exec(writer, "begin exclusive", nullptr, nullptr, nullptr) != SQLITE_OK) {
      _exit(1);
    }
    (void)!write(ready[1], "x", 1);
    usleep(300 * 1000);
    sqlite3_exec(writer, "insert into HISTORY values (30, 'C', 'N', '3', '3', 'S', ''); commit",
                 nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    _exit(0);
  }
  close(ready[1]);
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the writer could not take the lock";
  close(ready[0]);
  Rows.clear();
  EXPECT_EQ(RunStore(store, "select * from HISTORY where State <> 'X'"), Outcome::Ran);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(Rows.size(), 2u);
}
