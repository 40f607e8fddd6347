#include "common/historystore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/tests/scratchdir.h"

namespace {

std::string CapturedStdout;

bool Resolve(const std::string& cfg, std::string& storePath) {
  testing::internal::CaptureStdout();
  bool ok = ResolveHistoryDb(cfg.c_str(), storePath);
  CapturedStdout = testing::internal::GetCapturedStdout();
  return ok;
}

std::vector<std::string> Rows;

int CollectRow(void*, int count, char** values, char**) {
  std::string row;
  for (int i = 0; i < count; ++i) row += std::string(i ? "|" : "") + (values[i] ? values[i] : "~");
  Rows.push_back(row);
  return 0;
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
    EXPECT_EQ(CapturedStdout, "");
  }
}

TEST(ResolveHistoryDb, MissingOrEmptyConfiguration) {
  ScratchDir dir;
  std::string storePath;
  EXPECT_FALSE(Resolve(dir.Path("none.cfg"), storePath));
  EXPECT_EQ(CapturedStdout, "Error opening HistPath.cfg<br>");
  for (const char* content : {"", "\n", "  \n \n"}) {
    dir.Write("HistPath.cfg", content);
    EXPECT_FALSE(Resolve(dir.Path("HistPath.cfg"), storePath));
    EXPECT_EQ(CapturedStdout, "Datei HistPath.cfg ist leer<br>");
  }
}

TEST(RunHistoryStatement, RowsMissingStoreAndErrors) {
  ScratchDir dir;
  std::string store = dir.Path("history.db");
  Rows.clear();
  EXPECT_EQ(RunHistoryStatement(store, "select * from HISTORY", CollectRow), StoreOutcome::Missing);
  EXPECT_NE(access(store.c_str(), F_OK), 0) << "a missing store must not be created";

  MakeStore(store);
  EXPECT_EQ(RunHistoryStatement(store, "select * from HISTORY where State <> \"X\"", CollectRow),
            StoreOutcome::Ran);
  ASSERT_EQ(Rows.size(), 1u);
  EXPECT_EQ(Rows[0], "10|A|N|1|1|S|");

  Rows.clear();
  EXPECT_EQ(RunHistoryStatement(store, "select * from HISTORY where TimeStamp > 99", CollectRow),
            StoreOutcome::Ran);
  EXPECT_TRUE(Rows.empty());

  testing::internal::CaptureStderr();
  EXPECT_EQ(RunHistoryStatement(store, "select * from NOTHERE", CollectRow), StoreOutcome::Failed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "SQL error creating table: no such table: NOTHERE\n");

  dir.Write("junk.db", std::string(4096, 'j'));
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunHistoryStatement(dir.Path("junk.db"), "select * from HISTORY", CollectRow),
            StoreOutcome::Failed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "SQL error creating table: file is not a database\n");
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
  EXPECT_EQ(RunHistoryStatement(store, "select * from HISTORY where State <> 'X'", CollectRow),
            StoreOutcome::Ran);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(Rows.size(), 2u);
}
