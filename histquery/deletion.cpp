#include "histquery/deletion.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "common/historyreader.h"
#include "histquery/sqllimits.h"

namespace {

// How long the search for the first and last matching row may take.
constexpr std::chrono::milliseconds kNarrowingTime{20};

// One slice: the matching rows with rowids from `from` to `to`, in a
// transaction of their own; the rows it deleted, or SQLite's message.
// Without an index the rowid range is the cheap walk; an index on the
// condition's columns would make SQLite search the whole period in every
// slice.
Result<int64_t, StoreFault> DeleteSlice(sqlite3* connection, sqlite3_stmt* slice, int64_t from,
                                        int64_t to) {
  TRY(RunHistoryStatements(connection, "begin immediate"));
  sqlite3_bind_int64(slice, 1, from);
  sqlite3_bind_int64(slice, 2, to);
  int rc = sqlite3_step(slice);
  sqlite3_reset(slice);
  if (rc != SQLITE_DONE) return Failure<StoreFault>{StoreFault::Failed, sqlite3_errmsg(connection)};
  int64_t deleted = sqlite3_changes(connection);
  TRY(RunHistoryStatements(connection, "commit"));
  return deleted;
}

// The lowest or highest rowid that matches (`any` false where no row
// does), where SQLite finds it in a moment (an index on the condition's
// columns). Without such an index it would read the whole table in one go:
// false, `value` stays as it was, and the walk covers the whole table.
bool NarrowTo(sqlite3* connection, const std::string& sql, int64_t& value, bool& any) {
  SliceClock::time_point deadline = SliceClock::now() + kNarrowingTime;
  sqlite3_progress_handler(connection, 1000, PastDeadline, &deadline);
  Result<std::optional<int64_t>, StoreFault> found = QueryInteger(connection, sql.c_str());
  sqlite3_progress_handler(connection, 0, nullptr, nullptr);
  any = !found.Ok() || found.Value().has_value();
  if (found.Ok() && found.Value()) value = *found.Value();
  return found.Ok();
}

Failure<DeletionStop> Stopped(const std::string& error, int64_t deleted) {
  // Closing rolls back the slice that failed: no lock outlives it.
  CloseHistoryStore();
  return {{StoreFault::Failed, deleted, error}, StatementFailure(error)};
}

}  // namespace

std::string DeletionSliceStatement(const std::string& condition) {
  return "delete from HISTORY not indexed where rowid >= ?1 and rowid <= ?2 and " + condition;
}

Result<int64_t, DeletionStop> DeleteInSlices(const std::string& storePath,
                                             const std::string& condition, ConnectionSetup setup) {
  Result<sqlite3*, StoreFault> opened =
      OpenHistoryStore(storePath, MissingStore::OnlyAbsent, setup);
  if (!opened.Ok()) {
    Failure<DeletionStop> stop;
    stop.kind.fault = opened.Fault().kind;
    stop.message = opened.Fault().message;
    return stop;
  }
  sqlite3* connection = opened.Value();

  // Read before the first: a row the recorder adds in between lies above it.
  Result<std::optional<int64_t>, StoreFault> highest =
      QueryInteger(connection, "select max(rowid) from HISTORY");
  if (!highest.Ok()) {
    if (sqlite3_errcode(connection) != SQLITE_ERROR) return Stopped(highest.Fault().message, 0);
    // No rowid to walk by (or no table at all: then this fails the same way).
    Result<Done, StoreFault> all =
        RunHistoryStatements(connection, "delete from HISTORY where " + condition);
    if (!all.Ok()) return Stopped(all.Fault().message, 0);
    return int64_t{sqlite3_changes(connection)};
  }
  if (!highest.Value()) return int64_t{0};  // an empty table
  int64_t last = *highest.Value();
  Result<std::optional<int64_t>, StoreFault> lowest =
      QueryInteger(connection, "select min(rowid) from HISTORY");
  if (!lowest.Ok()) return Stopped(lowest.Fault().message, 0);
  if (!lowest.Value()) return int64_t{0};
  int64_t first = *lowest.Value();
  int64_t lastMatch = last;
  bool any = true;
  if (NarrowTo(connection, "select min(rowid) from HISTORY where " + condition, first, any) &&
      any &&
      NarrowTo(connection, "select max(rowid) from HISTORY where " + condition, lastMatch, any))
    last = std::min(last, lastMatch);
  if (!any || first > last) return int64_t{0};  // nothing matches

  std::string sql = DeletionSliceStatement(condition);
  sqlite3_stmt* slice = nullptr;
  if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &slice, nullptr) != SQLITE_OK)
    return Stopped(sqlite3_errmsg(connection), 0);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(slice, sqlite3_finalize);
  int64_t deleted = 0;
  SliceClock::time_point longPaused = SliceClock::now();
  Result<bool, StoreFault> walked = WalkRowidSlices(
      connection, first, last, {},
      [&](int64_t from, int64_t to) -> Result<bool, StoreFault> {
        deleted += TRY(DeleteSlice(connection, slice, from, to));
        return true;
      },
      [&](SliceClock::duration took) {
        SliceClock::duration pause = PauseAfterSlice(took, SliceClock::now() - longPaused);
        std::this_thread::sleep_for(pause);
        if (pause == kLongPause) longPaused = SliceClock::now();
      });
  owned.reset();  // before Stopped closes the connection, which it cannot with a statement open
  if (!walked.Ok()) return Stopped(walked.Fault().message, deleted);
  return deleted;
}

Result<int64_t, DeletionStop> RunDeletion(const std::string& storePath,
                                          const std::string& condition,
                                          const StatementLimits& limits) {
  StatementGuard guard;
  guard.limits = limits;
  return DeleteInSlices(storePath, condition, {SetUpConnection, &guard});
}
