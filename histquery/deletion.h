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

#include <cstdint>
#include <string>

#include "common/historystore.h"
#include "common/slicepace.h"
#include "histquery/sqllimits.h"

// Why a deletion stopped: the store's fault, the rows of the slices
// committed before (they stay deleted), and SQLite's own message.
struct DeletionStop {
  StoreFault fault;
  int64_t deleted = 0;
  std::string reason;
};

// The statement of one slice: the rows with rowids from ?1 to ?2 that match
// `condition`, walked by rowid (an index on the condition's columns would
// make SQLite search the whole period in every slice).
std::string DeletionSliceStatement(const std::string& condition);

// Deletes the rows of HISTORY that match `condition` (the text of a where
// clause) in slices; the number of rows deleted. A failure keeps the slices
// before it and rolls back its own; its message is the store's line for
// standard error. A table without rowids is deleted from in one statement.
Result<int64_t, DeletionStop> DeleteInSlices(const std::string& storePath,
                                             const std::string& condition,
                                             ConnectionSetup setup = {});

// The report's deletion of the rows that match `condition`, within `limits`.
Result<int64_t, DeletionStop> RunDeletion(const std::string& storePath,
                                          const std::string& condition,
                                          const StatementLimits& limits);
