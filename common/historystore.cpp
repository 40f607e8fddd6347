#include "historystore.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/readahead.h"

namespace {

sqlite3* StoreHandle = nullptr;
char* StoreError = nullptr;

}  // namespace

bool ResolveHistoryDb(const char* cfgPath, std::string& storePath) {
  FILE* cfg = std::fopen(cfgPath, "r");
  if (cfg == nullptr) {
    std::printf("Error opening HistPath.cfg<br>");
    return false;
  }
  char line[256];
  bool read = std::fgets(line, 255, cfg) != nullptr;
  std::fclose(cfg);
  std::string dir = read ? line : "";
  while (!dir.empty() && (dir.back() == '\n' || dir.back() == ' ')) dir.pop_back();
  // A first line of only line feeds and blanks names no directory either.
  if (dir.empty()) {
    std::printf("Datei HistPath.cfg ist leer<br>");
    return false;
  }
  if (dir.back() != '/') dir += '/';
  storePath = dir + "history.db";
  return true;
}

namespace {

// One thread per process: SQLite need not lock its own structures. Must come
// before SQLite starts; a process in which it already runs (the tests) keeps
// its setting.
void UseOneThread() {
  static const bool done = sqlite3_config(SQLITE_CONFIG_SINGLETHREAD) == SQLITE_OK;
  (void)done;
}

StoreOutcome RunStatement(const std::string& storePath, const std::string& sql,
                          HistoryRowHandler handler, HistoryConnectionSetup setup, void* context,
                          bool onlyAbsentIsMissing) {
  // A missing store is never created: probe it as a plain file first.
  FILE* probe = std::fopen(storePath.c_str(), "r");
  if (probe == nullptr) {
    if (!onlyAbsentIsMissing || errno == ENOENT) return StoreOutcome::Missing;
    std::fprintf(stderr, "Error opening %s : %s\n", storePath.c_str(), std::strerror(errno));
    return StoreOutcome::OpenFailed;
  }
  std::fclose(probe);

  UseOneThread();
  // One statement per run; a second call in the same process (the tests)
  // closes the connection the first one left open.
  if (StoreHandle != nullptr) {
    sqlite3_close(StoreHandle);
    StoreHandle = nullptr;
  }
  if (sqlite3_open_v2(storePath.c_str(), &StoreHandle, SQLITE_OPEN_READWRITE, ReadAheadVfsName()) !=
      SQLITE_OK) {
    std::fprintf(stderr, "Error opening %s : %s\n", storePath.c_str(), sqlite3_errmsg(StoreHandle));
    sqlite3_close(StoreHandle);
    StoreHandle = nullptr;
    return StoreOutcome::OpenFailed;
  }
  sqlite3_busy_timeout(StoreHandle, kHistoryBusyTimeoutMs);
  if (setup != nullptr && !setup(StoreHandle, context)) {
    std::fprintf(stderr, "Error opening %s : %s\n", storePath.c_str(), sqlite3_errmsg(StoreHandle));
    sqlite3_close(StoreHandle);
    StoreHandle = nullptr;
    return StoreOutcome::Failed;
  }

  if (sqlite3_exec(StoreHandle, sql.c_str(), handler, nullptr, &StoreError) != SQLITE_OK) {
    // Kept for compatibility: one wording for every statement; error watchers grep for it.
    std::fprintf(stderr, "SQL error creating table: %s\n", StoreError ? StoreError : "");
    sqlite3_free(StoreError);
    StoreError = nullptr;
    // Closing rolls back what the text left open: no lock outlives a failure.
    sqlite3_close(StoreHandle);
    StoreHandle = nullptr;
    return StoreOutcome::Failed;
  }
  return StoreOutcome::Ran;
}

}  // namespace

StoreOutcome RunHistoryStatement(const std::string& storePath, const std::string& sql,
                                 HistoryRowHandler handler) {
  return RunStatement(storePath, sql, handler, nullptr, nullptr, false);
}

StoreOutcome RunLimitedHistoryStatement(const std::string& storePath, const std::string& sql,
                                        HistoryRowHandler handler, HistoryConnectionSetup setup,
                                        void* context) {
  return RunStatement(storePath, sql, handler, setup, context, true);
}
