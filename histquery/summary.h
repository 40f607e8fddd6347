// The summary of the history, for the chart data of long windows.
//
// A year of the chart reads every row of the window; the rows are the floor
// of its time however the code reads them. So the chart keeps, beside the
// history, a piece (SeriesPiece) per object and time bucket: an hour, and a
// day made of its hours. A column of the chart that is a whole number of
// buckets is the merge of their pieces, the same bits as its rows give. The
// hours at the window's ends that it covers only in part are read from the
// rows: the summary keeps the rowids of each hour's rows, so that a few
// hundred rows are read, not the whole table.
//
// File: histsum.db in the working directory (an SQLite database of our own,
// beside the selection files, never beside the history; the web server's
// rules for *.db keep it from being served). It is a cache: missing,
// unreadable, or made from another history file (its table's schema, its
// first rows, or the last row it covered differ), it is made anew from the
// rows, never trusted.
//
// Kept exact: the recorder appends rows, which a request folds in (rowids
// above the highest it covers), at most kFoldTime of them (or kFoldShare);
// where rows are left, the request reads the rows. A row stored after later ones of its
// hour marks the hour to be made again from its rows. A deletion of this
// program marks its period before it runs and what it removed after (the
// objects' pieces inside the period are gone, the hours it covers in part
// are made again); one that did not come to its end leaves every hour of its
// period to be made again. A free SQL text that may change rows throws the
// summary away before it runs. While either runs, no summary is written
// (ChangeOfHistory), so that no request writes what a change is about to
// undo.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/historyreader.h"
#include "common/historystore.h"
#include "histquery/chartseries.h"

constexpr const char kSummaryFile[] = "histsum.db";
constexpr int64_t kHourSeconds = 3600;
constexpr int64_t kDaySeconds = 86400;
// How long one request may spend bringing the summary up to date, unless it
// has folded less than a kFoldShare-th of the table's rowids by then: a long
// chart from the rows reads about the whole table, so folding a quarter of
// it stays in proportion to what the request costs anyway, on any device.
constexpr std::chrono::milliseconds kFoldTime{1500};
constexpr int64_t kFoldShare = 4;

// A chart that the summary may answer: its window, the seconds of its
// columns (whole hours, or whole days), the objects as compared.
struct SummaryChart {
  int32_t from = 0;
  int32_t to = 0;
  int64_t columnSeconds = 0;
  std::vector<std::string> names;
};

// Fills `series` (one per name of `chart`, in order, each on the grid of
// the chart's columns, with no rows yet) from the summary, brought up to
// date first. False, with nothing filled, where it cannot answer exactly
// now (being made, a change of the history under way, the summary file not
// writable): the caller reads the rows.
Result<bool, StoreFault> ChartFromSummary(const std::string& storePath, const SummaryChart& chart,
                                          const std::vector<ChartSeries*>& series,
                                          ConnectionSetup setup, SliceGate gate);

// A change of the history by this process (a deletion, a free SQL text):
// while it lives, no request writes the summary.
class ChangeOfHistory {
 public:
  ChangeOfHistory();
  ~ChangeOfHistory();
  ChangeOfHistory(const ChangeOfHistory&) = delete;
  ChangeOfHistory& operator=(const ChangeOfHistory&) = delete;

  // A deletion in [from, to] is about to run: should it not come to its
  // end, every hour of the period is made again from its rows.
  void Deleting(int32_t from, int32_t to);
  // The deletion removed the rows of `names` (every object's without any)
  // in [from, to]: their pieces there are gone or made again.
  void Deleted(int32_t from, int32_t to, const std::vector<std::string>& names);
  // The summary thrown away, for a change it cannot follow. Only while a
  // ChangeOfHistory lives.
  static void Discard();

 private:
  int lock_ = -1;
};
