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

#include "common/readahead.h"

struct sqlite3;

// A free SQL text runs at most this long (the history writer is locked out
// meanwhile), counted in wall time. The object report and its deletion have
// no such bound: they are bounded by the table, and go in slices that let
// the writer in between.
constexpr int64_t kSqlDeadlineMs = 60 * 1000;
// A free text still running this long after its deadline (inside one call of
// a function, where SQLite does not look at the deadline) ends the process.
constexpr int64_t kSqlHardStopMs = 2 * 1000;
// SQLite's heap, for every statement; with the bound of temporary files
// (readahead.h) and of a free text's page a run stays well under 128 MiB of
// address space.
constexpr int64_t kStatementHeapLimit = 64LL * 1024 * 1024;
// The page of a free text is kept until its statement has ended (so that a
// client that reads slowly never holds the store), at most this much of it.
constexpr int64_t kSqlPageLimit = 8LL * 1024 * 1024;
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
  int64_t tempLimit = kDefaultTempStorageLimit;
  int64_t pageLimit = kSqlPageLimit;
};

// The state of one run's guard, passed to SQLite's callbacks.
struct StatementGuard {
  StatementLimits limits;
  bool freeText = false;  // the free SQL text: the bounds of a free text apply
  std::chrono::steady_clock::time_point deadline;
  sqlite3* connection = nullptr;  // once set up
  // A free text: the store's path and what the page ends with should the
  // process have to end itself (ArmWallDeadline).
  std::string storePath;
  std::string lastWords;
  // A free text: called once, as the text is prepared, where it may change
  // rows (before any of its steps runs).
  void (*beforeWrite)() = nullptr;
  bool mayWrite = false;
};

// Applies the guard to a connection just opened: defensive mode, no trusted
// schema, no extension or FTS3 tokenizer, no attached database, the value
// length, heap and temporary storage limits; for a free text also the growth
// bound, the authorizer and the deadline, counted in SQLite's steps and in
// wall time (ArmWallDeadline). False when SQLite refused one.
bool SetUpConnection(sqlite3* connection, void* guard);

// The deadline of a free text in wall time: at `guard.deadline` SQLite is
// told to stop; should it still run kSqlHardStopMs later, the process gives
// up its locks on the store, writes `guard.lastWords` to standard output and
// exits with status 0. Until DisarmWallDeadline.
void ArmWallDeadline(const StatementGuard& guard);
void DisarmWallDeadline();

// Whether a free text of this process reached its deadline.
bool DeadlinePassed();

// The authorizer's decision (SQLITE_OK or SQLITE_DENY) for one action, with
// the arguments SQLite passes.
int AuthorizeAction(int action, const char* first, const char* second, const char* database);

// Whether a function of that name is one of SQLite's core scalar, aggregate,
// window, date and time, math or JSON functions that a free text may call.
bool IsAllowedFunction(const char* name);
