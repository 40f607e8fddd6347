// Where the history leaves time order.
//
// The recorder appends rows as the wall clock goes, so in the order rows are
// stored (by rowid) their time stamps rarely go down: where the clock was
// set back (the autumn hour) or rows were stored after later ones (an
// import). Between two such places the rows form a run in time order, and
// the rows of a period within one run lie between two rowids. So a read in
// time order needs no sort of its own: it merges the runs, each read by
// rowid, and a history that never went back is a single run.
#pragma once

#include <cstdint>
#include <vector>

// The rowids of one run's rows in the period, both ends inclusive: every
// stored row between them that has a time stamp lies in the period.
struct RowidRange {
  int64_t first;
  int64_t last;
};

class TimeRuns {
 public:
  // The period, both ends inclusive.
  TimeRuns(double from, double to) : from_(from), to_(to) {}

  // The next stored row, in rowid order: its rowid and its time stamp.
  void Note(int64_t rowid, double stamp);
  // The next stored row without a numeric time stamp: it lies in no period.
  void NoteUnstamped() {}

  // Ends the last run; call once after the last row.
  void Finish();

  // The runs that have rows in the period, in rowid order.
  const std::vector<RowidRange>& InPeriod() const { return inPeriod_; }
  // Runs of the whole table, also those without rows in the period.
  int64_t RunCount() const { return runCount_; }

 private:
  void CloseRun();

  double from_;
  double to_;
  bool started_ = false;
  double last_ = 0;
  int64_t runCount_ = 0;
  bool periodBegun_ = false;
  RowidRange period_{0, 0};
  std::vector<RowidRange> inPeriod_;
};
