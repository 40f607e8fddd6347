#include "histquery/chartseries.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "histquery/viewtext.h"

ChartSeries::ChartSeries(int32_t from, int32_t to, int width, size_t rawLimit)
    : from_(from),
      span_(std::max<int64_t>(1, int64_t{to} - from + 1)),
      width_(std::max(0, width)),
      rawLimit_(rawLimit) {
  // The whole room at once: a series never grows past it.
  if (width_ > 0) points_.reserve(4 * static_cast<size_t>(width_));
}

int ChartSeries::ColumnOf(int32_t time) const {
  int64_t offset = std::clamp<int64_t>(time - from_, 0, span_ - 1);
  return static_cast<int>(offset * width_ / span_);
}

void ChartSeries::Add(int32_t time, const char* text, size_t length, const char* valueText,
                      size_t valueTextLength) {
  double value;
  if (!ReadValueNumber(text, length, value)) value = kNullValue;
  bool number = !std::isnan(value);
  if (number && !textsDropped_) NoteText(value, text, length, valueText, valueTextLength);

  // The row before holds its value up to this row.
  if (stats_.count > 0 && !std::isnan(stats_.lastValue)) {
    int64_t held = std::max<int64_t>(0, int64_t{time} - stats_.last);
    weightedSum_ += stats_.lastValue * static_cast<double>(held);
    weightSeconds_ += held;
  }
  if (stats_.count == 0) stats_.first = time;
  ++stats_.count;
  stats_.last = time;
  stats_.lastValue = value;
  if (number) {
    ++numberCount_;
    numberSum_ += value;
    if (std::isnan(stats_.min) || value < stats_.min) {
      stats_.min = value;
      stats_.minTime = time;
    }
    if (std::isnan(stats_.max) || value > stats_.max) {
      stats_.max = value;
      stats_.maxTime = time;
    }
  }

  if (width_ == 0) {
    if (points_.size() < rawLimit_)
      points_.push_back({time, value});
    else
      cut_ = true;
    return;
  }
  int column = std::max(ColumnOf(time), column_);
  if (column != column_) {
    CloseColumn();
    column_ = column;
    order_ = 0;
    columnHasNumber_ = false;
  }
  Kept row{time, value, order_++};
  if (row.order == 0) first_ = row;
  last_ = row;
  if (number) {
    if (!columnHasNumber_ || value < min_.value) min_ = row;
    if (!columnHasNumber_ || value > max_.value) max_ = row;
    columnHasNumber_ = true;
  }
}

void ChartSeries::NoteText(double value, const char* number, size_t numberLength, const char* text,
                           size_t length) {
  auto known = std::find_if(texts_.begin(), texts_.end(),
                            [value](const ValueText& entry) { return entry.value == value; });
  if (known == texts_.end()) {
    if (texts_.size() == kValueTextLimit) return DropTexts();
    texts_.push_back({value, std::string()});
    known = texts_.end() - 1;
  }
  // Most rows repeat what is known, or write the number twice: both are
  // told by their bytes, before a text is read as a number.
  if (text == nullptr || length == 0) return;
  if (known->text.size() == length && std::memcmp(known->text.data(), text, length) == 0) return;
  if (length == numberLength && std::memcmp(number, text, length) == 0) return;
  double textNumber;
  if (ReadValueNumber(text, length, textNumber) && textNumber == value) return;
  if (length > kValueTextMaxLength) return DropTexts();
  known->text.assign(text, length);
}

void ChartSeries::DropTexts() {
  textsDropped_ = true;
  std::vector<ValueText>().swap(texts_);
}

void ChartSeries::CloseColumn() {
  if (column_ < 0) return;
  Kept kept[4];
  size_t count = 0;
  kept[count++] = first_;
  if (columnHasNumber_) {
    kept[count++] = min_;
    kept[count++] = max_;
  }
  kept[count++] = last_;
  // At most four: an insertion sort (std::sort here makes GCC's bounds
  // check at -O3 see indexes past the array).
  for (size_t i = 1; i < count; ++i) {
    for (size_t j = i; j > 0 && kept[j].order < kept[j - 1].order; --j)
      std::swap(kept[j], kept[j - 1]);
  }
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && kept[i].order == kept[i - 1].order) continue;
    points_.push_back({kept[i].time, kept[i].value});
  }
}

void ChartSeries::Finish() {
  CloseColumn();
  column_ = -1;
}

ChartStats ChartSeries::Stats() const {
  ChartStats stats = stats_;
  if (weightSeconds_ > 0)
    stats.mean = weightedSum_ / static_cast<double>(weightSeconds_);
  else if (numberCount_ > 0)
    stats.mean = numberSum_ / static_cast<double>(numberCount_);
  return stats;
}

std::vector<ValueText> ChartSeries::Texts() const {
  std::vector<ValueText> named;
  for (const ValueText& entry : texts_) {
    if (!entry.text.empty()) named.push_back(entry);
  }
  std::sort(named.begin(), named.end(),
            [](const ValueText& a, const ValueText& b) { return a.value < b.value; });
  return named;
}
