// One object's series for the chart, decimated to the chart's width, and its
// statistics, both in one pass over the rows in time order.
//
// The period [from, to] (the history's own seconds, both ends inclusive) is
// cut into `width` pixel columns of equal length; a row at time t falls into
// column (t - from) * width / (to - from + 1). Of every column the series
// keeps the first, the smallest, the largest and the last row, in time order
// and each row once (M4 aggregation: Jugel et al., "M4: A Visualization-
// Oriented Time Series Data Aggregation", VLDB 2014). A line drawn through
// these points at that width covers the same pixels as the line through every
// row: within a column both span the smallest to the largest value, and
// between columns both run from one column's last row to the next one's
// first. So a column holds at most 4 points, and a series at most 4 times
// the width, however many rows there are.
//
// A value text that does not read as a number (ReadValueNumber) is a null
// point, a gap in the line, never 0. The smallest and the largest are taken
// among the numbers; the first and the last row of a column are kept as they
// are, null or not, so a gap that begins or ends in a column reaches its
// neighbours exactly as it does between the rows. A null that lies strictly
// inside a column (it is neither the first nor the last row there) is not
// kept: the gap it makes is narrower than the column, and its place may
// already be taken by the 4 points.
//
// Width 0 keeps every row as a point, up to a bound of points; past it the
// series is cut (the statistics still count every row).
//
// Rows must come in time order; one that does not stays in the column of the
// row before it, and adds no time to the mean.
//
// Beside the line, a series keeps which value text the history shows for each
// value (a window contact's 1 is "offen"), so that the chart can name the
// states of kinds C and U instead of their numbers. A row whose value text is
// its number again ("1", "21.50" for 21.5) names nothing; where one value
// comes with different texts, the last row's text holds (a renamed state is
// shown by its new name). Only a few states have names: past kValueTextLimit
// distinct values, or at a text longer than kValueTextMaxLength, the series
// keeps no texts at all, and the chart shows numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "histquery/exactsum.h"

// The chart's width in pixel columns: a request may ask for 100 to 4000.
constexpr int kChartWidthDefault = 1000;
constexpr int kChartWidthMin = 100;
constexpr int kChartWidthMax = 4000;
// Width 0 keeps every row: at most this many points in one answer, shared by
// its objects (each series gets its part as its own bound).
constexpr size_t kRawPointLimit = 1000 * 1000;

// The bounds of a series' value texts: a switch or a contact has two or three
// states, a dimmer's percentages are numbers.
constexpr size_t kValueTextLimit = 32;
constexpr size_t kValueTextMaxLength = 64;

// What a null value is held as: no number reads as NaN.
constexpr double kNullValue = std::numeric_limits<double>::quiet_NaN();

// One point of the line; a NaN value is null.
struct ChartPoint {
  int32_t time;
  double value;
};

// The statistics of every row of the series. `count` is the number of rows;
// `first` and `last` their first and last time (when count > 0). The others
// are of the rows whose value reads as a number; they are NaN (null) when
// there is none:
// - min and max with the time of the first row that holds them;
// - mean: time-weighted over [first, last], each number holding from its row
//   to the next row (a null row holds nothing). Where that covers no time at
//   all (one row, all rows at one time) it is the plain mean of the numbers;
// - lastValue: the value of the last row (null when that is no number).
struct ChartStats {
  int64_t count = 0;
  int32_t first = 0;
  int32_t last = 0;
  double min = kNullValue;
  int32_t minTime = 0;
  double max = kNullValue;
  int32_t maxTime = 0;
  double mean = kNullValue;
  double lastValue = kNullValue;
};

// One value and the text the history shows for it (ISO-8859-15).
struct ValueText {
  double value;
  std::string text;
};

// A run of rows of one series in time order, summed up: enough to go on as
// if every row of it had been added one by one. A series (ChartSeries) keeps
// its statistics and its open column as pieces; the summary of the history
// keeps one per object and time bucket. Merging pieces gives the same bits as
// adding their rows: the sums are exact (ExactSum), minimum and maximum keep
// the first row that holds them, and each row is known by its place in the
// piece (`index`), so that the points of a column come in the rows' order.
struct SeriesPiece {
  struct Row {
    int32_t time = 0;
    double value = kNullValue;
    int64_t index = 0;  // the row's place among the piece's rows, from 0
  };

  int64_t count = 0;
  Row first, last, min, max;  // min and max only where numberCount > 0
  int64_t numberCount = 0;
  ExactSum numberSum;
  // Each number holding from its row to the next row of the piece.
  ExactSum weighted;
  int64_t weightSeconds = 0;
  // Every distinct value that is a number, with the last text that named
  // it (empty where none did); `textsDropped` past the bounds. A piece that
  // does not keep texts (`textsKept` false) is of an object whose rows never
  // name a value.
  std::vector<ValueText> texts;
  bool textsDropped = false;
  bool textsKept = true;

  // One more row after the others.
  void AddRow(int32_t time, const char* text, size_t length, const char* valueText,
              size_t valueTextLength);
  // The rows of `later` after the others.
  void Merge(const SeriesPiece& later);

 private:
  void NoteText(double value, const char* number, size_t numberLength, const char* text,
                size_t length);
  void DropTexts();
};

class ChartSeries {
 public:
  // Width 0 keeps every row up to `rawLimit` points. A period whose end lies
  // before its start is taken as its start's second alone.
  ChartSeries(int32_t from, int32_t to, int width, size_t rawLimit = kRawPointLimit);

  // Columns of `columnSeconds` each on the grid of whole columns since 1970
  // (column k holds [k * columnSeconds, (k + 1) * columnSeconds)); the first
  // and the last are cut to the period. So a column is made of whole time
  // buckets of the summary, wherever the period begins.
  static ChartSeries OnGrid(int32_t from, int32_t to, int64_t columnSeconds);
  // The number of columns OnGrid makes.
  static int GridWidth(int32_t from, int32_t to, int64_t columnSeconds);

  // One row: its time and its value (null for an SQL NULL); and the text the
  // history shows for that value, where there is one.
  void Add(int32_t time, const char* text, size_t length, const char* valueText = nullptr,
           size_t valueTextLength = 0);

  // Rows summed up in a piece, all of them in one column, after those before.
  void Add(const SeriesPiece& piece);

  // Ends the last column; call once after the last row, before Points().
  void Finish();

  int Width() const { return width_; }
  const std::vector<ChartPoint>& Points() const { return points_; }
  // Width 0 only: rows were left out past the bound.
  bool Cut() const { return cut_; }
  ChartStats Stats() const;
  // The values that have a text of their own, in ascending order; empty past
  // the bounds.
  std::vector<ValueText> Texts() const;

 private:
  int ColumnOf(int32_t time) const;
  void AddToColumn(const SeriesPiece& piece);
  void CloseColumn();

  int64_t from_;
  int64_t span_;  // seconds of the period, at least 1
  int width_;
  size_t rawLimit_;
  int64_t gridSeconds_ = 0;  // OnGrid: the seconds of a column
  int64_t gridFirst_ = 0;    // OnGrid: the number of the first column
  std::vector<ChartPoint> points_;
  bool cut_ = false;

  // The open column: -1 before the first row.
  int column_ = -1;
  SeriesPiece columnRows_;
  // Every row so far: the statistics and the texts.
  SeriesPiece allRows_;
};
