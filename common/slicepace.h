// The pace of work on the history in slices.
//
// The recorder keeps writing history while our programs read or delete it,
// with a busy time-out of its own (often a second). In SQLite's rollback
// journal mode a writer commits only when no reader is left, so one long
// statement holds it off for its whole run and its rows of that time are
// lost. So reads and deletions go in slices, each its own short
// transaction: a writer waiting in its busy handler gets in between them.
#pragma once

#include <chrono>
#include <cstdint>

using SliceClock = std::chrono::steady_clock;

// How long a slice should hold its lock. A writer waiting with SQLite's busy
// handler tries again after 1, 2, 5, 10, 15, 20, 25, 25, 25 ms, then every
// 50 and 100 ms.
constexpr std::chrono::milliseconds kSliceTarget{40};
// Between two slices that write, a pause as long as the slice (at most this):
// a waiting writer's next try falls into it as likely as into the slice. A
// reader needs none: a writer that waits to commit holds SQLite's pending
// lock, which keeps the reader's next slice out until the writer is done.
constexpr std::chrono::milliseconds kSlicePause{30};
// Short pauses alone can keep missing a writer that waits for its own write
// lock (the recorder beside a deletion): its tries and our slices may keep
// coinciding. A pause longer than its longest wait between two tries (100
// ms), at least every kLongPauseEvery, takes one of its tries whatever the
// rhythm of both. Any second holds one whole long pause (600 ms, a slice of
// about 40 ms and two pauses of 120 ms), so a busy time-out of 1 s gets it in.
constexpr std::chrono::milliseconds kLongPause{120};
constexpr std::chrono::milliseconds kLongPauseEvery{600};

// The span of rowids a slice covers: the first is small, so that its time
// tells how large the next may be.
constexpr int64_t kFirstSliceSpan = 4096;
constexpr int64_t kMinSliceSpan = 1024;
constexpr int64_t kMaxSliceSpan = int64_t{1} << 22;

// The span of the next slice from the span and time of the last one: about
// kSliceTarget whatever the disk and the share of matching rows, changed by
// at most a factor of 4 from one slice to the next (one slow or quick slice,
// a cache or a sync, does not swing it far).
int64_t NextSliceSpan(int64_t span, SliceClock::duration took);

// `value` (a span, a number of rows) scaled the same way, within
// [minimum, maximum].
int64_t ScaledToSlice(int64_t value, SliceClock::duration took, int64_t minimum, int64_t maximum);

// The pause after a slice that wrote and took `took`, `sinceLong` after the
// end of the last long pause (or the start).
SliceClock::duration PauseAfterSlice(SliceClock::duration took, SliceClock::duration sinceLong);

// A progress handler of SQLite (sqlite3_progress_handler) whose argument
// points to a SliceClock::time_point: non-zero, which ends the statement,
// once that time has passed.
int PastDeadline(void* deadline);

// The last rowid of the slice that begins at `from`, `span` rowids long, in
// a walk that ends at `last`: `last` itself where the rest is shorter
// (rowids may be negative: the distance is taken without overflow).
int64_t SliceEnd(int64_t from, int64_t span, int64_t last);
