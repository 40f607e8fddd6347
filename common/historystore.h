// Access to the history database: history.db in the directory that the first
// line of HistPath.cfg names, table HISTORY (TimeStamp, ObjName, ..., State).
// The programs read and delete rows; they never create or alter a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/result.h"

// Reads the first line of `cfgPath` and returns the store path in `storePath`:
// the directory with trailing line feeds and blanks removed, "/" and
// "history.db" appended. False, with the message that both programs print on
// standard output ("Error opening HistPath.cfg<br>" or "Datei HistPath.cfg
// ist leer<br>"), when the file cannot be read or names no directory.
Result<bool> ResolveHistoryDb(const char* cfgPath, std::string& storePath);

// One row of a statement, as the runner hands it to a row handler. The first
// column is the row's time stamp: a row whose first column is SQL NULL or the
// text "NULL" is no row of the history and is not handed on. Both programs
// read any other first column as strtol reads its text (so a name reads as
// 0); an integer column is taken as it is, with strtol's bounds.
struct HistoryRow {
  int32_t stamp = 0;
  int columnCount = 0;
  // Per column from the second on: its text (null for SQL NULL) and length
  // in bytes, and per column its name. The first column's text is not
  // handed on: `stamp` stands for it.
  const char* const* texts = nullptr;
  const size_t* lengths = nullptr;
  const char* const* names = nullptr;

  // Column `column`'s text; null for SQL NULL and for a column the row lacks.
  const char* Text(int column) const { return column < columnCount ? texts[column] : nullptr; }
  size_t Length(int column) const { return column < columnCount ? lengths[column] : 0; }
};

// A program's handler of rows, with the record of its run that it fills.
struct HistoryRows {
  void (*handler)(void* context, const HistoryRow& row) = nullptr;
  void* context = nullptr;
};

struct sqlite3;

// A caller's limits for the connection, applied after it opened and before
// the statement runs; false stops the run as Failed.
struct ConnectionSetup {
  bool (*apply)(sqlite3* connection, void* context) = nullptr;
  void* context = nullptr;
};

// Which store file that cannot be opened counts as no store at all.
enum class MissingStore {
  OnlyAbsent,  // only one that does not exist: one that exists but cannot be
               // opened (its permissions) is OpenFailed, never an empty history
  Unreadable,  // any one that cannot be opened for reading
};

// How a statement went.
enum class StoreOutcome {
  Ran,         // every statement of the text ran to its end
  Missing,     // no store file: nothing created, nothing reported
  OpenFailed,  // the store could not be opened
  Failed,      // a statement failed; the rows before stay handled
};

// Opens the store and runs the statements of `sql` one after another as
// sqlite3_exec runs them, handing each row to `rows`. Waits up to
// kHistoryBusyTimeoutMs for a writer that holds the database. A successful
// connection stays open until the process ends. OpenFailed and Failed come
// with the message for standard error ("Error opening %s : %s\n", or "SQL
// error creating table: %s\n" with SQLite's message, the wording of every
// statement, which error watchers grep for).
Result<StoreOutcome> RunHistoryStatement(const std::string& storePath, const std::string& sql,
                                         MissingStore missing, HistoryRows rows,
                                         ConnectionSetup setup = {});

// The first steps of RunHistoryStatement on their own, for a caller that
// runs its statements itself: the store probed and opened (busy time-out,
// `setup` applied). Ran with the connection, which stays the process's one
// until CloseHistoryStore or the end of the process; otherwise the outcome
// and message RunHistoryStatement would give.
Result<StoreOutcome> OpenHistoryStore(const std::string& storePath, MissingStore missing,
                                      ConnectionSetup setup, sqlite3*& connection);

// Closes the connection OpenHistoryStore opened; what it left open is rolled
// back, so no lock outlives a failure.
void CloseHistoryStore();

// The statements of `sql` on an open connection, as RunHistoryStatement runs
// them; false with SQLite's message in `error`.
bool RunHistoryStatements(sqlite3* connection, const std::string& sql, HistoryRows rows,
                          std::string& error);

// The message of a failed statement for standard error.
std::string StatementFailure(const std::string& error);

// The history is written by another process all the time: wait for it this
// long rather than fail at once.
constexpr int kHistoryBusyTimeoutMs = 5000;
