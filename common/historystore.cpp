#include "historystore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "common/readahead.h"
#include "common/textops.h"

namespace {

sqlite3* StoreHandle = nullptr;

}  // namespace

Result<std::string, PathFault> ResolveHistoryDb(const char* cfgPath) {
  FILE* cfg = std::fopen(cfgPath, "r");
  if (cfg == nullptr)
    return Failure<PathFault>{PathFault::Unreadable, "Error opening HistPath.cfg"};
  char line[256];
  bool read = std::fgets(line, 255, cfg) != nullptr;
  std::fclose(cfg);
  std::string dir = read ? line : "";
  while (!dir.empty() && (dir.back() == '\n' || dir.back() == ' ')) dir.pop_back();
  // A first line of only line feeds and blanks names no directory either.
  if (dir.empty()) return Failure<PathFault>{PathFault::Empty, "Datei HistPath.cfg ist leer"};
  if (dir.back() != '/') dir += '/';
  return dir + "history.db";
}

namespace {

// One thread per process: SQLite need not lock its own structures. Must come
// before SQLite starts; a process in which it already runs (the tests) keeps
// its setting.
void UseOneThread() {
  static const bool done = sqlite3_config(SQLITE_CONFIG_SINGLETHREAD) == SQLITE_OK;
  (void)done;
}

// The rows of one prepared statement, stepped to its end. SQLITE_DONE, or
// the code of what stopped it; the statement is left to the caller.
int StepRows(sqlite3_stmt* statement, HistoryRows rows) {
  // The row's cells, fetched as sqlite3_exec fetches them: every column as
  // text, except a time stamp that is an integer already.
  std::vector<const char*> texts;
  std::vector<size_t> lengths;
  std::vector<const char*> names;
  HistoryRow row;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    if (rows.handler == nullptr) continue;
    if (names.empty()) {
      row.columnCount = sqlite3_column_count(statement);
      texts.assign(static_cast<size_t>(row.columnCount), nullptr);
      lengths.assign(static_cast<size_t>(row.columnCount), 0);
      names.assign(static_cast<size_t>(row.columnCount), nullptr);
      for (int i = 0; i < row.columnCount; ++i) names[i] = sqlite3_column_name(statement, i);
      row.texts = texts.data();
      row.lengths = lengths.data();
      row.names = names.data();
    }
    StampRead stamp = ReadRowStamp(statement, 0, row.stamp);
    if (stamp == StampRead::OutOfMemory) return SQLITE_NOMEM;
    row.stampInteger = sqlite3_column_type(statement, 0) == SQLITE_INTEGER;
    for (int i = 0; i < row.columnCount; ++i) {
      texts[i] = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
      // A text that cannot be made is SQLite out of memory.
      if (texts[i] == nullptr && sqlite3_column_type(statement, i) != SQLITE_NULL)
        return SQLITE_NOMEM;
      lengths[i] =
          texts[i] != nullptr ? static_cast<size_t>(sqlite3_column_bytes(statement, i)) : 0;
    }
    if (stamp == StampRead::Read) rows.handler(rows.context, row);
  }
  return rc;
}

// Runs the statements of `sql` one after another, as sqlite3_exec does:
// white space and comments between them skipped, the first failure ending
// the run. The message is SQLite's for that failure.
bool RunStatements(sqlite3* connection, const char* sql, HistoryRows rows, std::string& error) {
  while (*sql != '\0') {
    sqlite3_stmt* statement = nullptr;
    const char* rest = nullptr;
    if (sqlite3_prepare_v2(connection, sql, -1, &statement, &rest) != SQLITE_OK) {
      error = sqlite3_errmsg(connection);
      return false;
    }
    if (statement == nullptr) {  // only white space or a comment
      sql = rest;
      continue;
    }
    int stepped = StepRows(statement, rows);
    int finalized = sqlite3_finalize(statement);
    if (stepped == SQLITE_NOMEM) {
      error = sqlite3_errstr(SQLITE_NOMEM);
      return false;
    }
    if (finalized != SQLITE_OK) {
      error = sqlite3_errmsg(connection);
      return false;
    }
    sql = rest;
    while (IsSqlSpace(*sql)) ++sql;
  }
  return true;
}

}  // namespace

StampRead ReadRowStamp(sqlite3_stmt* statement, int column, int32_t& stamp) {
  int type = sqlite3_column_type(statement, column);
  if (type == SQLITE_INTEGER) {
    sqlite3_int64 value = std::clamp<sqlite3_int64>(sqlite3_column_int64(statement, column),
                                                    std::numeric_limits<long>::min(),
                                                    std::numeric_limits<long>::max());
    stamp = static_cast<int32_t>(static_cast<long>(value));
    return StampRead::Read;
  }
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (text == nullptr) return type == SQLITE_NULL ? StampRead::None : StampRead::OutOfMemory;
  if (std::strcmp(text, "NULL") == 0) return StampRead::None;
  stamp = static_cast<int32_t>(std::strtol(text, nullptr, 10));
  return StampRead::Read;
}

Result<sqlite3*, StoreFault> OpenHistoryStore(const std::string& storePath, MissingStore missing,
                                              ConnectionSetup setup) {
  // A missing store is never created: probe it as a plain file first.
  FILE* probe = std::fopen(storePath.c_str(), "r");
  if (probe == nullptr) {
    if (missing == MissingStore::Unreadable || errno == ENOENT)
      return Failure<StoreFault>{StoreFault::Missing, ""};
    return Failure<StoreFault>{
        StoreFault::OpenFailed,
        Formatted("Error opening %s : %s", storePath.c_str(), std::strerror(errno))};
  }
  std::fclose(probe);

  UseOneThread();
  // One connection per run; a second one in the same process (the tests)
  // closes the connection the first one left open.
  CloseHistoryStore();
  if (sqlite3_open_v2(storePath.c_str(), &StoreHandle, SQLITE_OPEN_READWRITE, ReadAheadVfsName()) !=
      SQLITE_OK) {
    std::string message =
        Formatted("Error opening %s : %s", storePath.c_str(), sqlite3_errmsg(StoreHandle));
    CloseHistoryStore();
    return Failure<StoreFault>{StoreFault::OpenFailed, message};
  }
  sqlite3_busy_timeout(StoreHandle, kHistoryBusyTimeoutMs);
  if (setup.apply != nullptr && !setup.apply(StoreHandle, setup.context)) {
    std::string message =
        Formatted("Error opening %s : %s", storePath.c_str(), sqlite3_errmsg(StoreHandle));
    CloseHistoryStore();
    return Failure<StoreFault>{StoreFault::Failed, message};
  }
  return StoreHandle;
}

void CloseHistoryStore() {
  if (StoreHandle == nullptr) return;
  sqlite3_close(StoreHandle);
  StoreHandle = nullptr;
}

Result<std::optional<int64_t>, StoreFault> QueryInteger(sqlite3* connection, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(connection, sql, -1, &statement, nullptr) != SQLITE_OK)
    return Failure<StoreFault>{StoreFault::Failed, sqlite3_errmsg(connection)};
  std::optional<int64_t> value;
  if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
    value = sqlite3_column_int64(statement, 0);
  if (sqlite3_finalize(statement) != SQLITE_OK)
    return Failure<StoreFault>{StoreFault::Failed, sqlite3_errmsg(connection)};
  return value;
}

Result<std::optional<int64_t>, StoreFault> NextRowid(sqlite3* connection, int64_t rowid,
                                                     bool above) {
  std::string sql = above ? "select min(rowid) from HISTORY where rowid > "
                          : "select max(rowid) from HISTORY where rowid < ";
  return QueryInteger(connection, (sql + std::to_string(rowid)).c_str());
}

std::string StatementFailure(const std::string& error) {
  // Kept for compatibility: one wording for every statement; error watchers grep for it.
  return Formatted("SQL error creating table: %s", error.c_str());
}

void PrintMessageLine(FILE* out, const std::string& message) {
  if (message.empty()) return;
  std::fputs(message.c_str(), out);
  std::fputc('\n', out);
}

Result<Done, StoreFault> RunHistoryStatements(sqlite3* connection, const std::string& sql,
                                              HistoryRows rows) {
  std::string error;
  if (!RunStatements(connection, sql.c_str(), rows, error))
    return Failure<StoreFault>{StoreFault::Failed, error};
  return Done{};
}

Result<Done, StoreFault> RunHistoryStatement(const std::string& storePath, const std::string& sql,
                                             MissingStore missing, HistoryRows rows,
                                             ConnectionSetup setup) {
  sqlite3* connection = TRY(OpenHistoryStore(storePath, missing, setup));
  Result<Done, StoreFault> ran = RunHistoryStatements(connection, sql, rows);
  if (!ran.Ok()) {
    // Closing rolls back what the text left open: no lock outlives a failure.
    CloseHistoryStore();
    return Failure<StoreFault>{StoreFault::Failed, StatementFailure(ran.Fault().message)};
  }
  return Done{};
}
