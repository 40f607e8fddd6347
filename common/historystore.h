// Access to the history database: history.db in the directory that the first
// line of HistPath.cfg names, table HISTORY (TimeStamp, ObjName, ..., State).
// The programs read and delete rows; they never create or alter a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/result.h"

// Why HistPath.cfg names no store.
enum class PathFault {
  Unreadable,  // "Error opening HistPath.cfg"
  Empty,       // "Datei HistPath.cfg ist leer": no line, or only blanks and line feeds
};

// The store path that the first line of `cfgPath` names: the directory with
// trailing line feeds and blanks removed, "/" and "history.db" appended. Both
// programs print the failure's message on standard output, followed by
// "<br>".
Result<std::string, PathFault> ResolveHistoryDb(const char* cfgPath);

// One row of a statement, as the runner hands it to a row handler. The first
// column is the row's time stamp: a row whose first column is SQL NULL or the
// text "NULL" is no row of the history and is not handed on. Both programs
// read any other first column as strtol reads its text (so a name reads as
// 0); an integer column is taken as it is, with strtol's bounds.
struct HistoryRow {
  int32_t stamp = 0;
  // Where the row stands in the history (historyreader.h): its time stamp
  // as SQLite orders it and its rowid; rows the sliced reader hands on only.
  double time = 0;
  int64_t rowid = 0;
  // A row the report does not show (State "X"), handed on only to a read
  // that asks for them.
  bool hidden = false;
  // The statement runner only: whether the first column is an integer (its
  // text is texts[0]).
  bool stampInteger = false;
  int columnCount = 0;
  // Per column from the second on: its text (null for SQL NULL) and length
  // in bytes, and per column its name. The first column's text is handed on
  // by the statement runner only: `stamp` stands for it.
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
  // A handler that keeps every row before it answers and needs only each
  // object's rows in time order (the chart data) may be handed the rows as
  // stored first: where an object's rows go back in time, `restart` forgets
  // what came, and the rows come again in time order (historyreader.h).
  void (*restart)(void* context) = nullptr;
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

// Why a statement did not run to its end.
enum class StoreFault {
  Missing,     // no store file: nothing created; the programs read it as no rows
  OpenFailed,  // the store could not be opened
  Failed,      // a statement failed; the rows before stay handled
  Busy,        // other requests read the store: this one did not get its turn
};

// Opens the store and runs the statements of `sql` one after another as
// sqlite3_exec runs them, handing each row to `rows`. Waits up to
// kHistoryBusyTimeoutMs for a writer that holds the database. A successful
// connection stays open until the process ends. OpenFailed and Failed come
// with the line for standard error ("Error opening %s : %s", or "SQL error
// creating table: %s" with SQLite's message, the wording of every statement,
// which error watchers grep for); Missing with none.
Result<Done, StoreFault> RunHistoryStatement(const std::string& storePath, const std::string& sql,
                                             MissingStore missing, HistoryRows rows,
                                             ConnectionSetup setup = {});

// The first steps of RunHistoryStatement on their own, for a caller that
// runs its statements itself: the store probed and opened (busy time-out,
// `setup` applied). The connection stays the process's one until
// CloseHistoryStore or the end of the process; a failure is the one
// RunHistoryStatement would give.
Result<sqlite3*, StoreFault> OpenHistoryStore(const std::string& storePath, MissingStore missing,
                                              ConnectionSetup setup = {});

// Closes the connection OpenHistoryStore opened; what it left open is rolled
// back, so no lock outlives a failure.
void CloseHistoryStore();

// The statements of `sql` on an open connection, as RunHistoryStatement runs
// them; a failure is Failed with SQLite's own message.
Result<Done, StoreFault> RunHistoryStatements(sqlite3* connection, const std::string& sql,
                                              HistoryRows rows = {});

// The single integer `sql` answers on an open connection; none where it is
// NULL or there is no row. A failure is Failed with SQLite's own message.
Result<std::optional<int64_t>, StoreFault> QueryInteger(sqlite3* connection, const char* sql);

// The nearest rowid of HISTORY above `rowid` (or below it): a walk by rowid
// crosses a gap of rowids (rows deleted, a rowid set by hand) in one seek.
// None at the end of the table.
Result<std::optional<int64_t>, StoreFault> NextRowid(sqlite3* connection, int64_t rowid,
                                                     bool above = true);

// The line for standard error of a statement that failed with SQLite's
// message `error`.
std::string StatementFailure(const std::string& error);

// `message` on `out` as a line of its own; nothing for an empty one.
void PrintMessageLine(FILE* out, const std::string& message);

struct sqlite3_stmt;

// How the column `column` of a statement's row reads as a time stamp: as
// strtol reads its text, narrowed to 32 bits; an integer without the round
// trip through its text, within strtol's bounds (those of 32 bits where long
// has 32 bits). None for SQL NULL and the text "NULL": no row of the history.
enum class StampRead { Read, None, OutOfMemory };
StampRead ReadRowStamp(sqlite3_stmt* statement, int column, int32_t& stamp);

// The history is written by another process all the time: wait for it this
// long rather than fail at once.
constexpr int kHistoryBusyTimeoutMs = 5000;
