#include "common/readahead.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "common/tests/scratchdir.h"

namespace {

// A table of a few megabytes: scans run through many buffer fills. Another
// table comes first, so that no read of HISTORY follows the first page's.
const char kFill[] =
    "create table FIRST (x); insert into FIRST values (zeroblob(10000));"
    "create table HISTORY (TimeStamp integer, ObjName text, Value text);"
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 30000)"
    " insert into HISTORY select i, 'OBJ' || (i % 50), printf('%.*c', 40 + i % 90, 'v') from n;";

// The newest row first: a read that jumps to the file's end, where the last
// scan left the buffer, before any other read has moved it on.
const char* const kDigest[] = {
    "select TimeStamp || Value from HISTORY order by rowid desc limit 1",
    "select count(*) || '/' || total(TimeStamp) || '/' || total(length(Value)) from HISTORY",
};

sqlite3* Open(const std::string& path, const char* vfs) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs),
            SQLITE_OK);
  sqlite3_busy_timeout(db, 2000);
  return db;
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << sql << ": " << (error ? error : "");
  sqlite3_free(error);
}

std::string Digest(sqlite3* db) {
  std::string digest;
  for (const char* query : kDigest) {
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, query, -1, &statement, nullptr), SQLITE_OK);
    if (sqlite3_step(statement) == SQLITE_ROW) {
      digest += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    } else {
      digest += std::string("error: ") + sqlite3_errmsg(db);
    }
    digest += "|";
    sqlite3_finalize(statement);
  }
  return digest;
}

}  // namespace

// The buffer must never show a page as it was before another connection
// changed it: the recorder writes the history while reports read it.
TEST(ReadAheadVfs, ReadsSeeEveryChangeOfAnotherWriter) {
  ASSERT_NE(ReadAheadVfsName(), nullptr);
  struct Case {
    const char* journal;
    const char* change;
  } cases[] = {
      {"delete", "update HISTORY set Value = Value || 'w' where TimeStamp % 1000 = 0"},
      {"delete", "delete from HISTORY where TimeStamp > 2000; vacuum"},  // the file shrinks
      {"delete", "insert into HISTORY select TimeStamp + 30000, ObjName, Value from HISTORY"},
      {"wal", "update HISTORY set Value = Value || 'w' where TimeStamp % 1000 = 0"},
      {"wal",
       "update HISTORY set Value = 'x' where TimeStamp % 1000 = 0;"
       "pragma wal_checkpoint(truncate)"},  // the pages move from the log into the file
      {"wal",
       "delete from HISTORY where TimeStamp > 2000; vacuum; pragma wal_checkpoint(truncate)"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.journal) + ": " + c.change);
    std::string path = dir.Path("history.db");
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((path + suffix).c_str());
    sqlite3* writer = Open(path, nullptr);
    Exec(writer, std::string("pragma journal_mode=") + c.journal);
    Exec(writer, kFill);
    sqlite3* reader = Open(path, ReadAheadVfsName());
    std::string before = Digest(reader);
    EXPECT_EQ(before, Digest(writer));

    Exec(writer, c.change);
    std::string after = Digest(writer);
    EXPECT_NE(after, before);
    EXPECT_EQ(Digest(reader), after);
    EXPECT_EQ(Digest(reader), after);  // and again, from a filled buffer
    sqlite3_close(reader);
    sqlite3_close(writer);
  }
}

// Under write-ahead logging a reader keeps its snapshot while the writer goes
// on, and sees the new rows with its next transaction.
TEST(ReadAheadVfs, OpenReadTransactionKeepsItsSnapshot) {
  ScratchDir dir;
  std::string path = dir.Path("history.db");
  sqlite3* writer = Open(path, nullptr);
  Exec(writer, "pragma journal_mode=wal");
  Exec(writer, kFill);
  sqlite3* reader = Open(path, ReadAheadVfsName());
  Exec(reader, "begin");
  std::string before = Digest(reader);
  Exec(writer, "update HISTORY set Value = 'changed' where TimeStamp % 2 = 0");
  Exec(writer, "pragma wal_checkpoint(passive)");
  EXPECT_EQ(Digest(reader), before);
  Exec(reader, "commit");
  EXPECT_EQ(Digest(reader), Digest(writer));
  EXPECT_NE(Digest(reader), before);
  sqlite3_close(reader);
  sqlite3_close(writer);
}

// What a power cut leaves of a deletion caught in the middle (a small cache
// has written some of its pages to the file already): the file and its
// journal roll back to the rows before, as they do with the default file
// system.
TEST(ReadAheadVfs, AnInterruptedDeletionRollsBackFromItsJournal) {
  for (const char* vfs : {static_cast<const char*>(nullptr), ReadAheadVfsName()}) {
    SCOPED_TRACE(vfs != nullptr ? vfs : "default");
    ScratchDir dir;
    sqlite3* db = Open(dir.Path("history.db"), vfs);
    Exec(db, "pragma journal_mode=delete");
    Exec(db, kFill);
    std::string before = Digest(db);
    std::string file = dir.Read("history.db");
    Exec(db, "pragma cache_size=10");
    Exec(db, "begin; delete from HISTORY where TimeStamp % 3 = 0");
    ASSERT_NE(dir.Read("history.db"), file) << "no page was written before the commit";
    dir.Write("crash.db", dir.Read("history.db"));
    dir.Write("crash.db-journal", dir.Read("history.db-journal"));
    Exec(db, "rollback");
    sqlite3_close(db);
    sqlite3* crashed = Open(dir.Path("crash.db"), nullptr);
    EXPECT_EQ(Digest(crashed), before);
    sqlite3_close(crashed);
  }
}

// A journal that cannot be written (a full card) fails the deletion, and
// the history stays as it was.
TEST(ReadAheadVfs, ADeletionWhoseJournalCannotBeWrittenFails) {
  for (const char* vfs : {static_cast<const char*>(nullptr), ReadAheadVfsName()}) {
    SCOPED_TRACE(vfs != nullptr ? vfs : "default");
    ScratchDir dir;
    sqlite3* db = Open(dir.Path("history.db"), vfs);
    Exec(db, "pragma journal_mode=delete");
    Exec(db, kFill);
    std::string before = Digest(db);
    Exec(db, "pragma cache_size=10");
    // Files may not grow past the database's size: the journal of a
    // deletion that touches every page must.
    struct stat file;
    ASSERT_EQ(stat(dir.Path("history.db").c_str(), &file), 0);
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    struct rlimit small = limit;
    small.rlim_cur = static_cast<rlim_t>(file.st_size) + 4096;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int rc =
        sqlite3_exec(db, "delete from HISTORY where TimeStamp % 2 = 0", nullptr, nullptr, nullptr);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(rc, SQLITE_OK);
    EXPECT_EQ(Digest(db), before);
    sqlite3_close(db);
    sqlite3* again = Open(dir.Path("history.db"), nullptr);
    EXPECT_EQ(Digest(again), before);
    sqlite3_close(again);
  }
}
