// Access to the history database: history.db in the directory that the first
// line of HistPath.cfg names, table HISTORY (TimeStamp, ObjName, ..., State).
// The programs read and delete rows; they never create or alter a table.
#pragma once

#include <string>

// The per-row function in the form sqlite3_exec calls it:
// (user pointer, column count, column values, column names), 0 to go on.
using HistoryRowHandler = int (*)(void*, int, char**, char**);

// Reads the first line of `cfgPath` and returns the store path in `storePath`:
// the directory with trailing line feeds and blanks removed, "/" and
// "history.db" appended. On failure the message has been printed to standard
// output ("Error opening HistPath.cfg<br>" or "Datei HistPath.cfg ist leer<br>").
// Prints its message itself: both programs rely on it and only end their run.
bool ResolveHistoryDb(const char* cfgPath, std::string& storePath);

// How one statement went.
enum class StoreOutcome {
  Ran,         // the statement ran to its end
  Missing,     // no store file: nothing created, nothing reported
  OpenFailed,  // SQLite could not open the store (reported on standard error)
  Failed,      // the statement failed (reported on standard error)
};

// Opens the store and runs `sql`, calling `handler` once per row with a null
// user pointer. Waits up to kHistoryBusyTimeoutMs for a writer that holds the
// database. A successful connection stays open until the process ends.
// Reports open and statement errors on standard error itself: both programs
// rely on it and only look at the outcome.
StoreOutcome RunHistoryStatement(const std::string& storePath, const std::string& sql,
                                 HistoryRowHandler handler);

struct sqlite3;

// A caller's limits for the connection, applied after it opened and before
// the statement runs; false stops the run as Failed.
using HistoryConnectionSetup = bool (*)(sqlite3* connection, void* context);

// RunHistoryStatement with `setup` (unless null) applied to the connection first. Only a
// store file that does not exist counts as Missing here: one that exists but
// cannot be opened (permission denied) is OpenFailed, reported on standard
// error, so that a caller never shows it as an empty history. Reports its
// errors itself, as RunHistoryStatement does: HistQuery relies on it.
StoreOutcome RunLimitedHistoryStatement(const std::string& storePath, const std::string& sql,
                                        HistoryRowHandler handler, HistoryConnectionSetup setup,
                                        void* context);

// The history is written by another process all the time: wait for it this
// long rather than fail at once.
constexpr int kHistoryBusyTimeoutMs = 5000;
