#include "common/slicepace.h"

#include <algorithm>

int64_t ScaledToSlice(int64_t value, SliceClock::duration took, int64_t minimum, int64_t maximum) {
  double target = static_cast<double>(SliceClock::duration(kSliceTarget).count());
  double factor = target / std::max<double>(static_cast<double>(took.count()), 1.0);
  factor = std::clamp(factor, 0.25, 4.0);
  return std::clamp(static_cast<int64_t>(static_cast<double>(value) * factor), minimum, maximum);
}

int64_t NextSliceSpan(int64_t span, SliceClock::duration took) {
  return ScaledToSlice(span, took, kMinSliceSpan, kMaxSliceSpan);
}

SliceClock::duration PauseAfterSlice(SliceClock::duration took, SliceClock::duration sinceLong) {
  if (sinceLong >= kLongPauseEvery) return kLongPause;
  return std::clamp<SliceClock::duration>(took, std::chrono::milliseconds(1), kSlicePause);
}

int64_t SliceEnd(int64_t from, int64_t span, int64_t last) {
  if (static_cast<uint64_t>(last) - static_cast<uint64_t>(from) < static_cast<uint64_t>(span))
    return last;
  return from + span - 1;
}

int PastDeadline(void* deadline) {
  return SliceClock::now() > *static_cast<SliceClock::time_point*>(deadline) ? 1 : 0;
}
