// What a statement of the report may do and use.
//
// The free SQL text comes from whoever can reach the page, so it is confined
// as SQLite advises for untrusted SQL: it may select, insert, update and
// delete rows of HISTORY and nothing else (no attach, no VACUUM INTO, no
// schema change, no pragma, no extension, only SQLite's core functions),
// within bounds of time, memory, temporary storage and database growth.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct sqlite3;

// A free SQL text runs at most this long (the history writer is locked out
// meanwhile). The object report and its deletion have no such bound: they
// are bounded by the table, and the deletion lets the writer in between its
// slices.
constexpr int64_t kSqlDeadlineMs = 60 * 1000;
// SQLite's heap, for every statement: room for the report's sort over a
// history of 10 million rows (the sorter spills to temporary files). A free
// text sorts and keeps its temporary tables in this heap too, so that with
// the page written in pieces a run stays well under 128 MiB of address space.
constexpr int64_t kStatementHeapLimit = 64LL * 1024 * 1024;
// The longest text or blob a statement may make.
constexpr int kValueLengthLimit = 1000 * 1000;
// How much a free text may grow the database in one run: every statement of
// it commits, and the SD card is shared with the recorder.
constexpr int64_t kSqlGrowthLimit = 64LL * 1024 * 1024;

struct StatementLimits {
  int64_t deadlineMs = kSqlDeadlineMs;
  int64_t heapLimit = kStatementHeapLimit;
  int valueLengthLimit = kValueLengthLimit;
  int64_t growthLimit = kSqlGrowthLimit;
};

// The state of one run's guard, passed to SQLite's callbacks.
struct StatementGuard {
  StatementLimits limits;
  bool freeText = false;  // the free SQL text: the bounds of a free text apply
  std::chrono::steady_clock::time_point deadline;
};

// Applies the guard to a connection just opened: defensive mode, no trusted
// schema, no extension or FTS3 tokenizer, no attached database, the value
// length and heap limits; for a free text also temporary storage in memory,
// the growth bound, the authorizer and the deadline. False when SQLite
// refused one.
bool SetUpConnection(sqlite3* connection, void* guard);

// The authorizer's decision (SQLITE_OK or SQLITE_DENY) for one action, with
// the arguments SQLite passes.
int AuthorizeAction(int action, const char* first, const char* second, const char* database);

// Whether a function of that name is one of SQLite's core scalar, aggregate,
// window, date and time, math or JSON functions that a free text may call.
bool IsAllowedFunction(const char* name);
