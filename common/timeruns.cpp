#include "common/timeruns.h"

void TimeRuns::Note(int64_t rowid, double stamp) {
  if (!started_ || stamp < last_) {
    CloseRun();
    ++runCount_;
    started_ = true;
  }
  last_ = stamp;
  if (stamp < from_ || stamp > to_) return;
  if (!periodBegun_) period_.first = rowid;
  period_.last = rowid;
  periodBegun_ = true;
}

void TimeRuns::Finish() {
  CloseRun();
}

void TimeRuns::CloseRun() {
  if (periodBegun_) inPeriod_.push_back(period_);
  periodBegun_ = false;
}
