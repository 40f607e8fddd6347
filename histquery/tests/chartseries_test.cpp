#include "histquery/chartseries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "histquery/viewtext.h"

namespace {

struct Row {
  int32_t time;
  std::string text;
  bool sqlNull = false;
};

struct Series {
  const char* name;
  int32_t from;
  int32_t to;
  int width;
  std::vector<Row> rows;
};

// Rows from `start` every `step` seconds with the values of `values`.
std::vector<Row> Every(int32_t start, int32_t step, const std::vector<std::string>& values) {
  std::vector<Row> rows;
  for (size_t i = 0; i < values.size(); ++i)
    rows.push_back({start + static_cast<int32_t>(i) * step, values[i]});
  return rows;
}

std::vector<Row> Join(std::vector<Row> a, const std::vector<Row>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A noisy level with spikes up and down: many rows in every column.
std::vector<Row> Spiky(int32_t start, int32_t step, int count) {
  std::vector<std::string> values;
  unsigned noise = 12345;
  for (int i = 0; i < count; ++i) {
    noise = noise * 1103515245u + 12345u;
    int value = 200 + static_cast<int>((noise >> 16) % 21) - 10;
    if (i % 97 == 13) value = 900;
    if (i % 131 == 77) value = -400;
    values.push_back(std::to_string(value / 10) + "." + std::to_string(std::abs(value % 10)));
  }
  return Every(start, step, values);
}

const std::vector<Series> kSeries = {
    {"spikes", 0, 9999, 10, Spiky(0, 3, 3333)},
    {"gap of texts over several columns", 0, 999, 10,
     Join(Every(0, 10, {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13"}),
          Join(Every(140, 50, {"n/a", "n/a", "n/a", "n/a", "n/a", "unreach"}),
               Every(450, 25, {"3", "1", "4", "1", "5", "9", "2", "6", "5", "3"})))},
    {"gap inside a column", 0, 99, 2,
     Every(0, 5, {"1", "9", "offen", "2", "8", "x", "5", "4", "x", "7"})},
    {"gap at the edges of columns", 0, 99, 4,
     Every(0, 5, {"x", "4", "6", "5", "x", "x", "3", "1", "2", "x", "7", "8", "x", "6"})},
    {"single row", 0, 99, 10, {{50, "21.5"}}},
    {"single row that is no number", 0, 99, 10, {{50, "aus"}}},
    {"equal times",
     0,
     99,
     10,
     {{10, "5"}, {10, "9"}, {10, "1"}, {10, "4"}, {30, "2"}, {30, "2"}, {31, "x"}, {31, "6"}}},
    {"texts that are no numbers",
     0,
     99,
     5,
     {{0, "1"},
      {5, "0x10"},
      {10, "inf"},
      {15, "nan"},
      {20, "1,5"},
      {25, " 2.5 "},
      {30, "+3"},
      {35, "1e3"},
      {40, ""},
      {45, "", true},
      {50, "-0.5"}}},
    {"rows at both ends of the period",
     100,
     199,
     100,
     {{100, "7"},
      {101, "-7"},
      {150, "0"},
      {198, "3"},
      {198, "-5"},
      {198, "8"},
      {198, "1"},
      {199, "30"},
      {199, "-30"},
      {199, "2"}}},
    {"one column", 0, 59, 1, Spiky(0, 1, 60)},
};

struct Drawn {
  int column;
  int64_t y;
  bool operator<(const Drawn& o) const { return std::tie(column, y) < std::tie(o.column, o.y); }
};

int ColumnOf(const Series& s, int32_t time) {
  return static_cast<int>((int64_t{time} - s.from) * s.width / (int64_t{s.to} - s.from + 1));
}

std::vector<ChartPoint> EveryRow(const Series& s) {
  std::vector<ChartPoint> points;
  for (const Row& row : s.rows) {
    double value;
    if (row.sqlNull || !ReadValueNumber(row.text.data(), row.text.size(), value))
      value = kNullValue;
    points.push_back({row.time, value});
  }
  return points;
}

// The pixels of a line through `points` at the series' width, values in
// tenths: each segment between two numbers, from column to column; a null
// point breaks the line.
std::set<Drawn> Draw(const Series& s, const std::vector<ChartPoint>& points) {
  std::set<Drawn> pixels;
  for (size_t i = 1; i < points.size(); ++i) {
    const ChartPoint& a = points[i - 1];
    const ChartPoint& b = points[i];
    if (std::isnan(a.value) || std::isnan(b.value)) continue;
    int xa = ColumnOf(s, a.time), xb = ColumnOf(s, b.time);
    double ya = a.value * 10, yb = b.value * 10;
    for (int x = xa; x <= xb; ++x) {
      // The part of the segment over column x, as a span of rows.
      auto at = [&](double column) {
        return xa == xb ? 0 : ya + (yb - ya) * (column - xa) / (xb - xa);
      };
      double from = xa == xb ? ya : at(std::max<double>(xa, x - 0.5));
      double to = xa == xb ? yb : at(std::min<double>(xb, x + 0.5));
      for (int64_t y = std::llround(std::min(from, to)); y <= std::llround(std::max(from, to)); ++y)
        pixels.insert({x, y});
    }
  }
  return pixels;
}

bool Same(const ChartPoint& a, const ChartPoint& b) {
  return a.time == b.time &&
         (std::isnan(a.value) ? std::isnan(b.value) : !std::isnan(b.value) && a.value == b.value);
}

TEST(ChartSeries, KeepsWhatTheLineThroughEveryRowShows) {
  for (const Series& s : kSeries) {
    SCOPED_TRACE(s.name);
    ChartSeries series(s.from, s.to, s.width);
    for (const Row& row : s.rows)
      series.Add(row.time, row.sqlNull ? nullptr : row.text.data(), row.text.size());
    series.Finish();
    const std::vector<ChartPoint>& points = series.Points();
    std::vector<ChartPoint> rows = EveryRow(s);

    std::map<int, std::vector<ChartPoint>> kept, all;
    for (const ChartPoint& p : points) kept[ColumnOf(s, p.time)].push_back(p);
    for (const ChartPoint& p : rows) all[ColumnOf(s, p.time)].push_back(p);
    std::set<int> innerGaps;
    for (auto& [column, columnRows] : all) {
      SCOPED_TRACE("column " + std::to_string(column));
      const std::vector<ChartPoint>& columnPoints = kept[column];
      EXPECT_LE(columnPoints.size(), 4u);
      ASSERT_FALSE(columnPoints.empty());
      EXPECT_TRUE(Same(columnPoints.front(), columnRows.front()));
      EXPECT_TRUE(Same(columnPoints.back(), columnRows.back()));
      const ChartPoint* min = nullptr;
      const ChartPoint* max = nullptr;
      for (size_t i = 0; i < columnRows.size(); ++i) {
        const ChartPoint& p = columnRows[i];
        if (std::isnan(p.value)) {
          if (i > 0 && i + 1 < columnRows.size()) innerGaps.insert(column);
          continue;
        }
        if (min == nullptr || p.value < min->value) min = &p;
        if (max == nullptr || p.value > max->value) max = &p;
      }
      for (const ChartPoint* extreme : {min, max}) {
        if (extreme == nullptr) continue;
        bool found = false;
        for (const ChartPoint& p : columnPoints) found = found || Same(p, *extreme);
        EXPECT_TRUE(found) << "extreme " << extreme->value << " at " << extreme->time;
      }
    }
    EXPECT_EQ(kept.size(), all.size());
    for (size_t i = 1; i < points.size(); ++i) EXPECT_LE(points[i - 1].time, points[i].time);

    // The same pixels as every row, but where a null inside a column was
    // left out: there the column's span may be drawn whole.
    std::set<Drawn> everyRow = Draw(s, rows), m4 = Draw(s, points);
    for (const Drawn& pixel : everyRow)
      EXPECT_TRUE(m4.count(pixel)) << "pixel " << pixel.column << "," << pixel.y << " lost";
    for (const Drawn& pixel : m4) {
      if (!everyRow.count(pixel)) {
        EXPECT_TRUE(innerGaps.count(pixel.column))
            << "pixel " << pixel.column << "," << pixel.y << " added";
      }
    }
  }
}

TEST(ChartSeries, InnerNullIsLeftOutEdgeNullsStay) {
  ChartSeries series(0, 99, 2);
  for (const Row& row :
       Every(0, 5, {"x", "1", "9", "offen", "2", "x", "8", "x", "4", "x", "7", "x"}))
    series.Add(row.time, row.text.data(), row.text.size());
  series.Finish();
  std::vector<std::pair<int32_t, double>> got;
  for (const ChartPoint& p : series.Points()) got.push_back({p.time, p.value});
  ASSERT_EQ(got.size(), 6u);
  // Column 0 (0..49): null first, 1 smallest, 9 largest, the null at 45 last.
  EXPECT_TRUE(std::isnan(got[0].second));
  EXPECT_EQ(got[1], std::make_pair(5, 1.0));
  EXPECT_EQ(got[2], std::make_pair(10, 9.0));
  EXPECT_EQ(got[3].first, 45);
  EXPECT_TRUE(std::isnan(got[3].second));
  // Column 1 (50..99): 7 first and largest, the null at 55 last; no smallest apart from 7.
  EXPECT_EQ(got[4], std::make_pair(50, 7.0));
  EXPECT_EQ(got[5].first, 55);
  EXPECT_TRUE(std::isnan(got[5].second));
}

struct StatsCase {
  const char* name;
  std::vector<Row> rows;
  int64_t count;
  int32_t first, last;
  double min;
  int32_t minTime;
  double max;
  int32_t maxTime;
  double mean, lastValue;
};

const double N = kNullValue;

// Means: each number holds from its row to the next row, over [first, last].
const std::vector<StatsCase> kStats = {
    {"levels held for different times",
     {{0, "10"}, {30, "20"}, {40, "16"}, {100, "12"}},
     4,
     0,
     100,
     10,
     0,
     20,
     30,
     (10 * 30 + 20 * 10 + 16 * 60) / 100.0,
     12},
    {"a text holds nothing",
     {{0, "10"}, {10, "aus"}, {90, "20"}, {100, "30"}},
     4,
     0,
     100,
     10,
     0,
     30,
     100,
     (10 * 10 + 20 * 10) / 20.0,
     30},
    {"one row", {{50, "21.5"}}, 1, 50, 50, 21.5, 50, 21.5, 50, 21.5, 21.5},
    {"all rows at one time: plain mean", {{7, "1"}, {7, "2"}, {7, "6"}}, 3, 7, 7, 1, 7, 6, 7, 3, 6},
    {"first of equal extremes",
     {{0, "5"}, {1, "-2"}, {2, "5"}, {3, "-2"}, {4, "x"}},
     5,
     0,
     4,
     -2,
     1,
     5,
     0,
     (5 - 2 + 5 - 2) / 4.0,
     N},
    {"no number at all", {{0, "an"}, {9, "aus"}}, 2, 0, 9, N, 0, N, 0, N, N},
    {"no rows", {}, 0, 0, 0, N, 0, N, 0, N, N},
};

void ExpectSameValue(double got, double expected, const char* what) {
  if (std::isnan(expected))
    EXPECT_TRUE(std::isnan(got)) << what << " " << got;
  else
    EXPECT_DOUBLE_EQ(got, expected) << what;
}

TEST(ChartSeries, StatisticsOfEveryRow) {
  for (int width : {0, 100}) {
    for (const StatsCase& c : kStats) {
      SCOPED_TRACE(std::string(c.name) + ", width " + std::to_string(width));
      // Width and a bound on points never change the statistics.
      ChartSeries series(0, 100, width, 1);
      for (const Row& row : c.rows) series.Add(row.time, row.text.data(), row.text.size());
      series.Finish();
      ChartStats stats = series.Stats();
      EXPECT_EQ(stats.count, c.count);
      if (c.count > 0) {
        EXPECT_EQ(stats.first, c.first);
        EXPECT_EQ(stats.last, c.last);
      }
      ExpectSameValue(stats.min, c.min, "min");
      ExpectSameValue(stats.max, c.max, "max");
      if (!std::isnan(c.min)) {
        EXPECT_EQ(stats.minTime, c.minTime);
      }
      if (!std::isnan(c.max)) {
        EXPECT_EQ(stats.maxTime, c.maxTime);
      }
      ExpectSameValue(stats.mean, c.mean, "mean");
      ExpectSameValue(stats.lastValue, c.lastValue, "lastValue");
    }
  }
}

TEST(ChartSeries, WidthZeroKeepsEveryRowUpToTheBound) {
  std::vector<Row> rows = Every(0, 1, {"1", "x", "3", "3", "5"});
  ChartSeries all(0, 99, 0, 5);
  ChartSeries bounded(0, 99, 0, 3);
  for (const Row& row : rows) {
    all.Add(row.time, row.text.data(), row.text.size());
    bounded.Add(row.time, row.text.data(), row.text.size());
  }
  all.Finish();
  bounded.Finish();
  EXPECT_FALSE(all.Cut());
  ASSERT_EQ(all.Points().size(), 5u);
  EXPECT_TRUE(std::isnan(all.Points()[1].value));
  EXPECT_EQ(all.Points()[3].time, 3);
  EXPECT_TRUE(bounded.Cut());
  ASSERT_EQ(bounded.Points().size(), 3u);
  EXPECT_EQ(bounded.Points()[2].value, 3.0);
  EXPECT_EQ(bounded.Stats().count, 5);
  EXPECT_EQ(bounded.Stats().max, 5.0);
}

// Rows as (value, value text); what Texts() names afterwards.
struct TextsCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> rows;
  std::vector<std::pair<double, std::string>> texts;
};

// A dimmer whose steps 0..steps-1 read "N %": its rows, and its texts.
std::vector<std::pair<std::string, std::string>> Dimmer(int steps) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (int i = 0; i < steps; ++i) rows.push_back({std::to_string(i), std::to_string(i) + " %"});
  return rows;
}

std::vector<std::pair<double, std::string>> DimmerTexts(int steps) {
  std::vector<std::pair<double, std::string>> texts;
  for (int i = 0; i < steps; ++i) texts.push_back({i, std::to_string(i) + " %"});
  return texts;
}

const std::vector<TextsCase> kTexts = {
    {"contact",
     {{"1", "offen"}, {"0", "geschlossen"}, {"1", "offen"}},
     {{0, "geschlossen"}, {1, "offen"}}},
    {"the number again names nothing",
     {{"1", "1"}, {"0", "0.0"}, {"21.50", "21.5"}, {"0", "aus"}},
     {{0, "aus"}}},
    {"the last text holds", {{"1", "kurz"}, {"1", "lang"}, {"1", "1"}}, {{1, "lang"}}},
    {"values that are no numbers are left out",
     {{"an", "an"}, {"", "x"}, {"2", "\xE4"}},
     {{2, "\xE4"}}},
    {"32 values keep their texts", Dimmer(32), DimmerTexts(32)},
    {"past 32 values no texts", Dimmer(33), {}},
    {"a long text is no state's name",
     {{"0", "aus"}, {"1", std::string(kValueTextMaxLength + 1, 'x')}},
     {}},
};

TEST(ChartSeries, ValueTextsOfTheStates) {
  for (const TextsCase& c : kTexts) {
    SCOPED_TRACE(c.name);
    ChartSeries series(0, 100, 10);
    int32_t time = 0;
    for (const auto& row : c.rows)
      series.Add(time++, row.first.data(), row.first.size(), row.second.data(), row.second.size());
    std::vector<std::pair<double, std::string>> got;
    for (const ValueText& entry : series.Texts()) got.push_back({entry.value, entry.text});
    EXPECT_EQ(got, c.texts);
  }
}

}  // namespace
