// What a statement of the report may do and use.
//
// The free SQL text comes from whoever can reach the page, so it is confined
// as SQLite advises for untrusted SQL: it may select, insert, update and
// delete rows of HISTORY and nothing else (no attach, no VACUUM INTO, no
// schema change, no pragma, no extension), within a time and memory bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct sqlite3;

// A free SQL text runs at most this long (the history writer is locked out
// meanwhile). The object report and its deletion have no such bound: they
// are bounded by the table, and a deletion cut short would be no deletion.
constexpr int64_t kSqlDeadlineMs = 60 * 1000;
// SQLite's heap, for every statement: room for the report's sort over a
// history of 10 million rows (the sorter spills to temporary files).
constexpr int64_t kStatementHeapLimit = 64LL * 1024 * 1024;
// The longest text or blob a statement may make.
constexpr int kValueLengthLimit = 1000 * 1000;

struct StatementLimits {
  int64_t deadlineMs = kSqlDeadlineMs;
  int64_t heapLimit = kStatementHeapLimit;
  int valueLengthLimit = kValueLengthLimit;
};

// The state of one run's guard, passed to SQLite's callbacks.
struct StatementGuard {
  StatementLimits limits;
  bool freeText = false;      // the free SQL text: authorizer and deadline apply
  bool readOnly = false;      // rows may not be changed either (a request from another site)
  bool writeRefused = false;  // a change of rows was refused because of readOnly
  std::chrono::steady_clock::time_point deadline;
};

// Applies the guard to a connection just opened: defensive mode, no trusted
// schema, no attached database, the value length and heap limits, and for a
// free text the authorizer and the deadline. False when SQLite refused one.
bool SetUpConnection(sqlite3* connection, void* guard);

// The authorizer's decision (SQLITE_OK or SQLITE_DENY) for one action, with
// the arguments SQLite passes; sets `writeRefused` when readOnly turns a
// change of rows down.
int AuthorizeAction(StatementGuard& guard, int action, const char* first, const char* second,
                    const char* database);
