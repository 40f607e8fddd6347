// Reading the history in slices.
//
// Every program that reads rows of the history (the report, the chart data,
// the download, the series export) reads them here, never in one long
// statement: a read transaction of a few tens of milliseconds at a time, the
// rows of each slice copied out and handed on only after its lock is gone.
// So a writer waiting to commit gets in between two slices (slicepace.h),
// and a client or pipe that stops reading holds nothing but this process.
//
// The rows and their order are those of one statement
//   select * from HISTORY where (TimeStamp >= FROM and TimeStamp <= TO)
//     and State is not "X" [and (ObjName = ... or ...) order by TimeStamp]
// as SQLite runs it on the history's indexes:
// - with objects, by time; the rows of one second by name and then as
//   stored where an index on (ObjName, TimeStamp) serves the objects, else
//   as stored;
// - without objects, as stored, or by time where an index on TimeStamp
//   serves the period.
// Without indexes (the history as the recorder creates it) a time order
// needs no sort: the rows are stored in time order but where the clock went
// back or rows were stored late, and the reader merges those runs
// (timeruns.h), found by a walk over the time stamps alone. Rows stored
// while the read goes on (above the highest rowid at its start) are left
// out, as a statement begun at the start would leave them out. A row that
// another process deletes or changes meanwhile is read as it is when its
// slice comes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/historystore.h"

// A row's place in the order of a read: its time stamp and its rowid (where
// rows of one second are ordered by name first, the reader finds the name
// by the rowid).
struct HistoryPlace {
  double time = 0;
  int64_t rowid = 0;
};

// What a reader asks of the history.
struct HistoryRead {
  int32_t from = 0;  // the period, both ends inclusive
  int32_t to = 0;
  // The objects' names as ObjName holds them (already upper-cased); empty
  // for every object. A name given twice reads its rows once.
  std::vector<std::string> names;
  // A page of the rows: from this row on (it included), or, `backwards`,
  // the rows before it, the nearest first; and at most `limit` shown rows
  // (0: all). A place needs the objects' time order (names given).
  std::optional<HistoryPlace> at;
  bool backwards = false;
  size_t limit = 0;
  // Also the rows the report does not show (State "X"), marked `hidden`;
  // they do not count towards the limit.
  bool withHidden = false;
};

// Called around each slice's read transaction: a caller that bounds how many
// processes read the store at once takes and gives back its turn there.
// `enter` returning false ends the run as Busy.
struct SliceGate {
  bool (*enter)(void* context) = nullptr;
  void (*leave)(void* context) = nullptr;
  void* context = nullptr;
};

// Walks the rowids `first` to `last` of HISTORY in slices, for those who
// read or change the table by rowid: `slice(from, to)` handles one slice in
// a transaction of its own (true: go on; false: stop there) and should take
// about kSliceTarget, the span of the next following its time; `between`
// (may be empty) runs after each slice but the last, with its time; the next
// slice begins at the next rowid there is, across any gap. The gate is taken
// around each slice and around the look for the next rowid (Busy where it
// refuses). True where the walk reached `last`.
Result<bool, StoreFault> WalkRowidSlices(
    sqlite3* connection, int64_t first, int64_t last, SliceGate gate,
    const std::function<Result<bool, StoreFault>(int64_t from, int64_t to)>& slice,
    const std::function<void(std::chrono::steady_clock::duration took)>& between = {});

// Reads the rows `read` asks for from the store and hands each to `rows`,
// with the columns of "select *". Missing, OpenFailed and Failed as
// RunHistoryStatement gives them; Busy where the gate refused a slice.
// A table without rowids is read in one statement.
Result<Done, StoreFault> ReadHistory(const std::string& storePath, const HistoryRead& read,
                                     HistoryRows rows, ConnectionSetup setup = {},
                                     SliceGate gate = {});

// The most bytes of cells one slice copies out (a row larger than that is
// read alone), and the most rows.
constexpr size_t kSliceBytes = 1024 * 1024;
constexpr size_t kSliceRows = 16 * 1024;
// The most runs of time order a period may hold; a history with more runs
// in it is refused rather than merged (Failed).
constexpr size_t kMaxTimeRuns = 64 * 1024;
