#include "histquery/chartseries.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "histquery/viewtext.h"

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

}  // namespace

void SeriesPiece::AddRow(int32_t time, const char* text, size_t length, const char* valueText,
                         size_t valueTextLength) {
  double value;
  if (!ReadValueNumber(text, length, value)) value = kNullValue;
  bool number = !std::isnan(value);
  if (number && textsKept && !textsDropped)
    NoteText(value, text, length, valueText, valueTextLength);
  // The row before holds its value up to this row.
  if (count > 0 && !std::isnan(last.value)) {
    int64_t held = std::max<int64_t>(0, int64_t{time} - last.time);
    weighted.Add(last.value, held);
    weightSeconds += held;
  }
  Row row{time, value, count};
  if (count == 0) first = row;
  last = row;
  ++count;
  if (!number) return;
  numberSum.Add(value, 1);
  if (numberCount == 0 || value < min.value) min = row;
  if (numberCount == 0 || value > max.value) max = row;
  ++numberCount;
}

void SeriesPiece::Merge(const SeriesPiece& later) {
  if (later.count == 0) return;
  // The last row before holds its value up to the first of `later`.
  if (count > 0 && !std::isnan(last.value)) {
    int64_t held = std::max<int64_t>(0, int64_t{later.first.time} - last.time);
    weighted.Add(last.value, held);
    weightSeconds += held;
  }
  weighted.Add(later.weighted);
  weightSeconds += later.weightSeconds;
  auto shifted = [this](Row row) {
    row.index += count;
    return row;
  };
  if (count == 0) first = later.first;
  last = shifted(later.last);
  if (later.numberCount > 0) {
    if (numberCount == 0 || later.min.value < min.value) min = shifted(later.min);
    if (numberCount == 0 || later.max.value > max.value) max = shifted(later.max);
  }
  numberCount += later.numberCount;
  numberSum.Add(later.numberSum);
  count += later.count;
  if (!textsKept || textsDropped || !later.textsKept) return;
  if (later.textsDropped) return DropTexts();
  for (const ValueText& entry : later.texts) {
    auto known = std::find_if(texts.begin(), texts.end(),
                              [&entry](const ValueText& own) { return own.value == entry.value; });
    if (known == texts.end()) {
      if (texts.size() == kValueTextLimit) return DropTexts();
      texts.push_back({entry.value, std::string()});
      known = texts.end() - 1;
    }
    if (!entry.text.empty()) known->text = entry.text;
  }
}

void SeriesPiece::NoteText(double value, const char* number, size_t numberLength, const char* text,
                           size_t length) {
  auto known = std::find_if(texts.begin(), texts.end(),
                            [value](const ValueText& entry) { return entry.value == value; });
  if (known == texts.end()) {
    if (texts.size() == kValueTextLimit) return DropTexts();
    texts.push_back({value, std::string()});
    known = texts.end() - 1;
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

void SeriesPiece::DropTexts() {
  textsDropped = true;
  std::vector<ValueText>().swap(texts);
}

ChartSeries::ChartSeries(int32_t from, int32_t to, int width, size_t rawLimit)
    : from_(from),
      span_(std::max<int64_t>(1, int64_t{to} - from + 1)),
      width_(std::max(0, width)),
      rawLimit_(rawLimit) {
  // The whole room at once: a series never grows past it.
  if (width_ > 0) points_.reserve(4 * static_cast<size_t>(width_));
  // A column's points are told by their places; its texts are not needed.
  columnRows_.textsKept = false;
}

int ChartSeries::GridWidth(int32_t from, int32_t to, int64_t columnSeconds) {
  return static_cast<int>(FloorDiv(std::max(from, to), columnSeconds) -
                          FloorDiv(from, columnSeconds) + 1);
}

ChartSeries ChartSeries::OnGrid(int32_t from, int32_t to, int64_t columnSeconds) {
  ChartSeries series(from, to, GridWidth(from, to, columnSeconds));
  series.gridSeconds_ = columnSeconds;
  series.gridFirst_ = FloorDiv(from, columnSeconds);
  return series;
}

int ChartSeries::ColumnOf(int32_t time) const {
  if (gridSeconds_ > 0)
    return static_cast<int>(
        std::clamp<int64_t>(FloorDiv(time, gridSeconds_) - gridFirst_, 0, width_ - 1));
  int64_t offset = std::clamp<int64_t>(time - from_, 0, span_ - 1);
  return static_cast<int>(offset * width_ / span_);
}

void ChartSeries::Add(int32_t time, const char* text, size_t length, const char* valueText,
                      size_t valueTextLength) {
  allRows_.AddRow(time, text, length, valueText, valueTextLength);
  if (width_ == 0) {
    if (points_.size() < rawLimit_)
      points_.push_back({time, allRows_.last.value});
    else
      cut_ = true;
    return;
  }
  // A row out of time order stays in the column of the row before it.
  int column = std::max(ColumnOf(time), column_);
  if (column != column_) {
    CloseColumn();
    column_ = column;
    columnRows_ = SeriesPiece();
    columnRows_.textsKept = false;
  }
  columnRows_.AddRow(time, text, length, nullptr, 0);
}

void ChartSeries::Add(const SeriesPiece& piece) {
  if (piece.count == 0) return;
  allRows_.Merge(piece);
  int column = std::max(ColumnOf(piece.first.time), column_);
  if (column != column_) {
    CloseColumn();
    column_ = column;
    columnRows_ = SeriesPiece();
    columnRows_.textsKept = false;
  }
  columnRows_.Merge(piece);
}

void ChartSeries::CloseColumn() {
  if (column_ < 0) return;
  SeriesPiece::Row kept[4];
  size_t count = 0;
  kept[count++] = columnRows_.first;
  if (columnRows_.numberCount > 0) {
    kept[count++] = columnRows_.min;
    kept[count++] = columnRows_.max;
  }
  kept[count++] = columnRows_.last;
  // At most four: an insertion sort (std::sort here makes GCC's bounds
  // check at -O3 see indexes past the array).
  for (size_t i = 1; i < count; ++i) {
    for (size_t j = i; j > 0 && kept[j].index < kept[j - 1].index; --j)
      std::swap(kept[j], kept[j - 1]);
  }
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && kept[i].index == kept[i - 1].index) continue;
    points_.push_back({kept[i].time, kept[i].value});
  }
}

void ChartSeries::Finish() {
  CloseColumn();
  column_ = -1;
}

ChartStats ChartSeries::Stats() const {
  ChartStats stats;
  const SeriesPiece& rows = allRows_;
  stats.count = rows.count;
  if (rows.count > 0) {
    stats.first = rows.first.time;
    stats.last = rows.last.time;
    stats.lastValue = rows.last.value;
  }
  if (rows.numberCount > 0) {
    stats.min = rows.min.value;
    stats.minTime = rows.min.time;
    stats.max = rows.max.value;
    stats.maxTime = rows.max.time;
  }
  if (rows.weightSeconds > 0)
    stats.mean = rows.weighted.ToDouble() / static_cast<double>(rows.weightSeconds);
  else if (rows.numberCount > 0)
    stats.mean = rows.numberSum.ToDouble() / static_cast<double>(rows.numberCount);
  return stats;
}

std::vector<ValueText> ChartSeries::Texts() const {
  std::vector<ValueText> named;
  for (const ValueText& entry : allRows_.texts) {
    if (!entry.text.empty()) named.push_back(entry);
  }
  std::sort(named.begin(), named.end(),
            [](const ValueText& a, const ValueText& b) { return a.value < b.value; });
  return named;
}
