#include "histquery/deletion.h"

#include <sqlite3.h>

#include <algorithm>
#include <thread>

#include "histquery/report.h"

namespace {

using Clock = std::chrono::steady_clock;

// The first slice is small: its time tells how large the next may be.
constexpr int64_t kFirstSliceSpan = 4096;
constexpr int64_t kMinSliceSpan = 1024;
constexpr int64_t kMaxSliceSpan = int64_t{1} << 22;
// How long the search for the first and last matching row may take.
constexpr std::chrono::milliseconds kNarrowingTime{20};

// The single integer of `sql`; `found` is false where it is NULL (no rows).
bool QueryRowid(sqlite3* connection, const char* sql, int64_t& value, bool& found,
                std::string& error) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(connection, sql, -1, &statement, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(connection);
    return false;
  }
  int rc = sqlite3_step(statement);
  found = rc == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL;
  if (found) value = sqlite3_column_int64(statement, 0);
  if (sqlite3_finalize(statement) != SQLITE_OK) {
    error = sqlite3_errmsg(connection);
    return false;
  }
  return true;
}

// One slice: the matching rows with rowids from `from` to `to`, in a
// transaction of their own. Without an index the rowid range is the cheap
// walk; an index on the condition's columns would make SQLite search the
// whole period in every slice.
bool DeleteSlice(sqlite3* connection, sqlite3_stmt* slice, int64_t from, int64_t to,
                 int64_t& deleted, std::string& error) {
  if (!RunHistoryStatements(connection, "begin immediate", {}, error)) return false;
  sqlite3_bind_int64(slice, 1, from);
  sqlite3_bind_int64(slice, 2, to);
  int rc = sqlite3_step(slice);
  sqlite3_reset(slice);
  if (rc != SQLITE_DONE) {
    error = sqlite3_errmsg(connection);
    return false;
  }
  deleted = sqlite3_changes(connection);
  return RunHistoryStatements(connection, "commit", {}, error);
}

// Past the deadline: ends the statement (SQLITE_INTERRUPT).
int PastDeadline(void* deadline) {
  return Clock::now() > *static_cast<Clock::time_point*>(deadline) ? 1 : 0;
}

// The lowest or highest rowid that matches (`any` false where no row
// does), where SQLite finds it in a moment (an index on the condition's
// columns). Without such an index it would read the whole table in one go:
// false, `value` stays as it was, and the walk covers the whole table.
bool NarrowTo(sqlite3* connection, const std::string& sql, int64_t& value, bool& any) {
  Clock::time_point deadline = Clock::now() + kNarrowingTime;
  sqlite3_progress_handler(connection, 1000, PastDeadline, &deadline);
  int64_t found = 0;
  any = true;
  std::string ignored;
  bool done = QueryRowid(connection, sql.c_str(), found, any, ignored);
  if (!done) any = true;
  if (done && any) value = found;
  sqlite3_progress_handler(connection, 0, nullptr, nullptr);
  return done;
}

Result<StoreOutcome> Failure(const std::string& error, DeletionRun& run) {
  // Closing rolls back the slice that failed: no lock outlives it.
  CloseHistoryStore();
  run.stopReason = error;
  return {StoreOutcome::Failed, StatementFailure(error)};
}

}  // namespace

int64_t NextSliceSpan(int64_t span, Clock::duration took) {
  double target = static_cast<double>(Clock::duration(kSliceTarget).count());
  double factor = target / std::max<double>(static_cast<double>(took.count()), 1.0);
  // Step by step: one slow or quick slice (a cache, a sync) does not swing it
  // far.
  factor = std::clamp(factor, 0.25, 4.0);
  return std::clamp(static_cast<int64_t>(static_cast<double>(span) * factor), kMinSliceSpan,
                    kMaxSliceSpan);
}

Result<StoreOutcome> DeleteInSlices(const std::string& storePath, const std::string& condition,
                                    ConnectionSetup setup, DeletionRun& run) {
  sqlite3* connection = nullptr;
  Result<StoreOutcome> opened =
      OpenHistoryStore(storePath, MissingStore::OnlyAbsent, setup, connection);
  if (opened.code != StoreOutcome::Ran) return opened;

  std::string error;
  int64_t first = 0;
  int64_t last = 0;
  bool found = false;
  // Read before the first: a row the recorder adds in between lies above it.
  if (!QueryRowid(connection, "select max(rowid) from HISTORY", last, found, error)) {
    if (sqlite3_errcode(connection) != SQLITE_ERROR) return Failure(error, run);
    // No rowid to walk by (or no table at all: then this fails the same way).
    if (!RunHistoryStatements(connection, "delete from HISTORY where " + condition, {}, error))
      return Failure(error, run);
    run.deleted = sqlite3_changes(connection);
    return {StoreOutcome::Ran, ""};
  }
  if (!found) return {StoreOutcome::Ran, ""};  // an empty table
  if (!QueryRowid(connection, "select min(rowid) from HISTORY", first, found, error))
    return Failure(error, run);
  if (!found) return {StoreOutcome::Ran, ""};
  int64_t lastMatch = last;
  bool any = true;
  if (NarrowTo(connection, "select min(rowid) from HISTORY where " + condition, first, any) &&
      any &&
      NarrowTo(connection, "select max(rowid) from HISTORY where " + condition, lastMatch, any))
    last = std::min(last, lastMatch);
  if (!any || first > last) return {StoreOutcome::Ran, ""};  // nothing matches

  std::string sql =
      "delete from HISTORY not indexed where rowid >= ?1 and rowid <= ?2 and " + condition;
  sqlite3_stmt* slice = nullptr;
  if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &slice, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(connection);
    return Failure(error, run);
  }
  int64_t span = kFirstSliceSpan;
  for (int64_t from = first;;) {
    // Rowids may be negative: the distance is taken without overflow.
    bool lastSlice =
        static_cast<uint64_t>(last) - static_cast<uint64_t>(from) < static_cast<uint64_t>(span);
    int64_t to = lastSlice ? last : from + span - 1;
    Clock::time_point begun = Clock::now();
    int64_t deleted = 0;
    if (!DeleteSlice(connection, slice, from, to, deleted, error)) {
      sqlite3_finalize(slice);
      return Failure(error, run);
    }
    run.deleted += deleted;
    if (lastSlice) break;
    Clock::duration took = Clock::now() - begun;
    span = NextSliceSpan(span, took);
    from = to + 1;
    // After a short slice a short pause will do: a waiting writer's next try
    // falls into it as likely as into the slice.
    std::this_thread::sleep_for(
        std::clamp<Clock::duration>(took, std::chrono::milliseconds(1), kSlicePause));
  }
  sqlite3_finalize(slice);
  return {StoreOutcome::Ran, ""};
}

Result<RunOutcome> RunDeletion(const std::string& storePath, const std::string& condition,
                               const StatementLimits& limits, ReportState& state) {
  StatementGuard guard;
  guard.limits = limits;
  DeletionRun run;
  Result<StoreOutcome> deletion =
      DeleteInSlices(storePath, condition, {SetUpConnection, &guard}, run);
  state.rowsDeleted = run.deleted;
  state.stopReason = run.stopReason;
  return PageOutcome(deletion);
}
