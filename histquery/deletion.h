// The deletion of the report's rows, in slices.
//
// The recorder keeps writing history while a deletion runs, with a busy
// time-out of its own (often a second). One delete statement over a year of
// a large history holds the write lock for seconds, and the recorder's rows
// of those seconds are lost. So the deletion walks the table by rowid in
// slices, each its own short transaction, and pauses between them so that a
// waiting writer gets in. The rows deleted are exactly those one statement
// would have deleted when the run began: the rows that match the condition
// and whose rowid is not above the highest rowid at the start. The
// recorder's rows of the meantime get higher rowids and are never touched.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "common/historystore.h"
#include "histquery/reportstate.h"
#include "histquery/sqllimits.h"

// How long a slice should hold the write lock, and the longest pause after
// it. A writer waiting with SQLite's busy handler tries again after 1, 2, 5,
// 10, 15, 20, 25, 25, 25 ms, then every 50 and 100 ms: a pause longer than
// 25 ms after slices of this length lets it in within its first tenth of a
// second.
constexpr std::chrono::milliseconds kSliceTarget{40};
constexpr std::chrono::milliseconds kSlicePause{30};

// What a deletion did: the rows of the slices that were committed, and
// SQLite's message where a slice failed (its rows stay).
struct DeletionRun {
  int64_t deleted = 0;
  std::string stopReason;
};

// The rowids one slice covers next, from the time the last one took: about
// kSliceTarget whatever the disk and the share of matching rows.
int64_t NextSliceSpan(int64_t span, std::chrono::steady_clock::duration took);

// Deletes the rows of HISTORY that match `condition` (the text of a where
// clause) in slices. Ran when every slice went through; a failure keeps the
// slices before it (run.deleted) and rolls back its own. A table without
// rowids is deleted from in one statement.
Result<StoreOutcome> DeleteInSlices(const std::string& storePath, const std::string& condition,
                                    ConnectionSetup setup, DeletionRun& run);

// The report's deletion of the chosen rows within `limits`; the rows deleted
// and the reason of a stop go into `state` for the closing section.
Result<RunOutcome> RunDeletion(const std::string& storePath, const std::string& condition,
                               const StatementLimits& limits, ReportState& state);
