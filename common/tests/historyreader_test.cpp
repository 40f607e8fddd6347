#include "common/historyreader.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/historystatement.h"
#include "common/slicepace.h"
#include "common/tests/scratchdir.h"
#include "common/timeruns.h"

namespace {

// Each row as "stamp|cell|cell...", "~" for a null cell.
void CollectRow(void* context, const HistoryRow& row) {
  std::string text = std::to_string(row.stamp);
  for (int i = 1; i < row.columnCount; ++i) {
    text += "|";
    text += row.texts[i] != nullptr ? std::string(row.texts[i], row.lengths[i]) : "~";
  }
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

void Forget(void* context) {
  static_cast<std::vector<std::string>*>(context)->clear();
}

// The rows of each object in their order (the second field is the name).
std::map<std::string, std::vector<std::string>> ByObject(const std::vector<std::string>& rows) {
  std::map<std::string, std::vector<std::string>> objects;
  for (const std::string& row : rows) {
    size_t bar = row.find('|');
    objects[row.substr(bar + 1, row.find('|', bar + 1) - bar - 1)].push_back(row);
  }
  return objects;
}

HistoryRead Reading(int32_t from, int32_t to, std::vector<std::string> names) {
  HistoryRead read;
  read.from = from;
  read.to = to;
  read.names = std::move(names);
  return read;
}

void Exec(const std::string& store, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "") << " in " << sql.substr(0, 200);
  sqlite3_free(error);
  sqlite3_close(db);
}

constexpr int32_t kDay = 1709596800;  // 2024-03-05 00:00:00

std::string Row(int64_t rowid, const std::string& stamp, const char* name, const std::string& value,
                const char* state = "''") {
  return "insert into HISTORY (rowid, TimeStamp, ObjName, ObjKind, Value, ValueText, Source, "
         "State) values (" +
         std::to_string(rowid) + ", " + stamp + ", '" + name + "', 'N', '" + value + "', 'v" +
         value + "', 's', " + state + ");";
}

// A day of three objects every 10 minutes, each step stored as the recorder
// stores it, and the ways a history leaves time order.
std::string History(const std::string& shape) {
  std::string sql =
      "create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, "
      "ValueText text, Source text, State text);begin;";
  int64_t rowid = shape == "negative rowids" ? -500 : 1;
  auto add = [&](int32_t at, const char* name, const std::string& value, const char* state = "''") {
    sql += Row(rowid, std::to_string(at), name, value, state);
    rowid += shape == "sparse rowids" ? 7919 : 1;
  };
  for (int step = 0; step < 144; ++step) {
    // The autumn hour: after 03:00 the clock goes back to 02:00.
    int32_t at = kDay + step * 600;
    if (shape == "clock set back" && step >= 18) at -= 3600;
    for (const char* name : {"A", "B", "C"})
      add(at, name, std::to_string(step), step % 11 == 0 && name[0] == 'B' ? "'X'" : "''");
  }
  if (shape == "imported rows") {
    for (int step = 0; step < 40; step += 3) add(kDay + step * 900 + 300, "A", "imp");
    add(kDay + 3600, "B", "imp");  // in the same second as rows stored before
  }
  if (shape == "many runs") {
    for (int run = 0; run < 60; ++run) add(kDay + (run * 37) % 86400, run % 2 ? "A" : "B", "r");
  }
  if (shape == "one busy second") {
    for (int k = 0; k < 1500; ++k) add(kDay + 7200, k % 3 ? "A" : "C", "busy");
  }
  if (shape == "large cells") {
    for (int step = 0; step < 12; ++step)
      add(kDay + 4000 + step, "A", std::string(120 * 1000, static_cast<char>('a' + step)));
  }
  // Rows the recorder never writes, read all the same.
  for (const char* stamp : {"NULL", "'NULL'", "1709601800.5", "'1709601800x'"})
    sql += Row(rowid++, stamp, "A", "odd");
  sql += Row(rowid, "1709601800", "C", "null state", "NULL");
  return sql + "commit;";
}

// Rows with their places, for a page handler.
struct Placed {
  std::vector<std::string> rows;
  std::vector<HistoryPlace> places;
  int hidden = 0;
};

void CollectPlaced(void* context, const HistoryRow& row) {
  Placed& placed = *static_cast<Placed*>(context);
  if (row.hidden) {
    ++placed.hidden;
    return;
  }
  CollectRow(&placed.rows, row);
  placed.places.push_back({row.time, row.rowid});
}

// Every row, read as pages of 7 shown rows, each begun at the row that
// ended the one before; and each page's rows read backwards from the start
// of the next are the same rows.
std::vector<std::string> Pages(const std::string& store, HistoryRead read) {
  std::vector<std::string> all;
  read.limit = 8;
  read.withHidden = true;
  for (int page = 0; page < 1000; ++page) {
    Placed placed;
    EXPECT_TRUE(ReadHistory(store, read, {CollectPlaced, &placed}).Ok());
    bool more = placed.rows.size() == 8;
    if (more) placed.rows.pop_back();
    all.insert(all.end(), placed.rows.begin(), placed.rows.end());
    if (!more) return all;
    HistoryRead back = read;
    back.at = placed.places.back();
    back.backwards = true;
    back.limit = 7;
    Placed before;
    EXPECT_TRUE(ReadHistory(store, back, {CollectPlaced, &before}).Ok());
    std::reverse(before.rows.begin(), before.rows.end());
    EXPECT_EQ(before.rows, placed.rows) << "page " << page;
    read.at = placed.places.back();
  }
  ADD_FAILURE() << "more than 1000 pages";
  return all;
}

// The rows ReadHistory hands on, and those of the one statement it stands
// for, with the history's indexes.
TEST(ReadHistory, TheRowsAndOrderOfOneStatement) {
  const char* shapes[] = {"in order",      "clock set back", "imported rows", "negative rowids",
                          "sparse rowids", "many runs",      "large cells",   "one busy second"};
  const char* indexes[] = {"", "create index T on HISTORY (TimeStamp);",
                           "create index OT on HISTORY (ObjName, TimeStamp);",
                           "create index T on HISTORY (TimeStamp);"
                           "create index OT on HISTORY (ObjName, TimeStamp);"};
  struct Read {
    int32_t from;
    int32_t to;
    std::vector<std::string> names;
  } reads[] = {
      {kDay, kDay + 86399, {"A", "B"}},    {kDay + 3000, kDay + 14400, {"B", "A", "B"}},
      {kDay + 3000, kDay + 14400, {}},     {kDay, kDay + 86399, {"C", "NONE"}},
      {kDay + 90000, kDay + 99999, {"A"}},
  };
  for (const char* shape : shapes) {
    for (const char* index : indexes) {
      ScratchDir dir;
      std::string store = dir.Path("history.db");
      Exec(store, History(shape) + index);
      for (const Read& read : reads) {
        std::vector<std::string> expected, got;
        ASSERT_TRUE(RunHistoryStatement(store, ReportStatement(read.from, read.to, read.names),
                                        MissingStore::OnlyAbsent, {CollectRow, &expected})
                        .Ok());
        Result<Done, StoreFault> ran =
            ReadHistory(store, Reading(read.from, read.to, read.names), {CollectRow, &got});
        EXPECT_TRUE(ran.Ok()) << ran.Message();
        EXPECT_EQ(got, expected) << shape << " / " << index << " / " << read.from << " "
                                 << read.names.size();
        // A handler that can start over gets each object's rows in order.
        std::vector<std::string> each;
        EXPECT_TRUE(
            ReadHistory(store, Reading(read.from, read.to, read.names), {CollectRow, &each, Forget})
                .Ok());
        EXPECT_EQ(ByObject(each), ByObject(expected)) << shape << " / " << index;
        if (!read.names.empty()) {
          EXPECT_EQ(Pages(store, Reading(read.from, read.to, read.names)), expected)
              << shape << " / " << index << " / pages";
        }
      }
    }
  }
}

TEST(ReadHistory, ATableWithoutRowidsOrNoneAtAll) {
  ScratchDir dir;
  std::string store = dir.Path("history.db");
  Exec(store,
       "create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, "
       "ValueText text, Source text, State text, primary key (ObjName, TimeStamp)) without rowid;"
       "insert into HISTORY values (20, 'A', 'N', '2', '2', 's', ''), "
       "(10, 'A', 'N', '1', '1', 's', '');");
  std::vector<std::string> got;
  EXPECT_TRUE(ReadHistory(store, Reading(0, 100, {"A"}), {CollectRow, &got}).Ok());
  EXPECT_EQ(got, (std::vector<std::string>{"10|A|N|1|1|s|", "20|A|N|2|2|s|"}));
  Exec(store, "drop table HISTORY;");
  Result<Done, StoreFault> ran = ReadHistory(store, Reading(0, 100, {"A"}), {CollectRow, &got});
  ASSERT_FALSE(ran.Ok());
  EXPECT_EQ(ran.Message(), "SQL error creating table: no such table: HISTORY");
  EXPECT_EQ(ReadHistory(dir.Path("none.db"), Reading(0, 100, {}), {}).Fault().kind,
            StoreFault::Missing);
}

bool Refuse(void*) {
  return false;
}

TEST(ReadHistory, AGateThatRefusesEndsTheRunAsBusy) {
  ScratchDir dir;
  std::string store = dir.Path("history.db");
  Exec(store, History("in order"));
  std::vector<std::string> got;
  Result<Done, StoreFault> ran = ReadHistory(store, Reading(kDay, kDay + 86399, {"A"}),
                                             {CollectRow, &got}, {}, {Refuse, nullptr});
  ASSERT_FALSE(ran.Ok());
  EXPECT_EQ(ran.Fault().kind, StoreFault::Busy);
  EXPECT_TRUE(got.empty());
}

// A slice's span follows the time of the last one towards kSliceTarget, by
// at most a factor of 4, within its bounds; the last slice ends at the last
// rowid, also below zero and at the ends of the range.
TEST(SlicePace, SpansFollowTheTimeOfTheLastSlice) {
  using std::chrono::milliseconds;
  struct Span {
    int64_t span;
    milliseconds took;
    int64_t next;
  } spans[] = {
      {4096, milliseconds(40), 4096},
      {4096, milliseconds(20), 8192},
      {4096, milliseconds(1), 16384},
      {4096, milliseconds(0), 16384},
      {4096, milliseconds(400), 1024},
      {2048, milliseconds(400), kMinSliceSpan},
      {kMaxSliceSpan, milliseconds(1), kMaxSliceSpan},
  };
  for (const Span& s : spans)
    EXPECT_EQ(NextSliceSpan(s.span, s.took), s.next) << s.span << " " << s.took.count();
  struct End {
    int64_t from, span, last, end;
  } ends[] = {
      {1, 100, 1000, 100},
      {950, 100, 1000, 1000},
      {-500, 100, -450, -450},
      {-50, 100, 20, 20},
      {0, 1, 0, 0},
      {INT64_MIN, 10, INT64_MAX, INT64_MIN + 9},
      {INT64_MAX - 5, 10, INT64_MAX, INT64_MAX},
  };
  for (const End& e : ends) EXPECT_EQ(SliceEnd(e.from, e.span, e.last), e.end) << e.from;
  // A pause after a slice that wrote: as long as the slice within [1, 30] ms,
  // and a long one once kLongPauseEvery has passed since the last.
  struct Pause {
    milliseconds took, sinceLong, pause;
  } pauses[] = {
      {milliseconds(0), milliseconds(0), milliseconds(1)},
      {milliseconds(20), milliseconds(100), milliseconds(20)},
      {milliseconds(400), milliseconds(349), kSlicePause},
      {milliseconds(5), kLongPauseEvery, kLongPause},
  };
  for (const Pause& p : pauses)
    EXPECT_EQ(PauseAfterSlice(p.took, p.sinceLong), p.pause) << p.took.count();
}

// Runs of time order in rowid order, and the rowids of each run's rows in
// the period [10, 20].
TEST(TimeRuns, RunsAndTheirRowsInThePeriod) {
  struct Case {
    std::vector<std::pair<int64_t, double>> rows;
    int64_t runs;
    std::vector<std::pair<int64_t, int64_t>> inPeriod;
  } cases[] = {
      {{}, 0, {}},
      {{{1, 5}, {2, 10}, {3, 10}, {4, 20}, {5, 21}}, 1, {{2, 4}}},
      // The clock set back: two runs, both with rows in the period.
      {{{1, 12}, {2, 18}, {3, 11}, {4, 19}, {5, 25}}, 2, {{1, 2}, {3, 4}}},
      // A late row before the period makes a run without rows in it.
      {{{1, 10}, {2, 15}, {3, 2}, {4, 16}}, 2, {{1, 2}, {4, 4}}},
      {{{-9, 30}, {-8, 20}, {-7, 10}, {7, 0.5}}, 4, {{-8, -8}, {-7, -7}}},
      {{{1, 10.5}, {2, 10}, {3, 20.5}}, 2, {{1, 1}, {2, 2}}},
  };
  for (const Case& c : cases) {
    TimeRuns runs(10, 20);
    for (const auto& [rowid, stamp] : c.rows) runs.Note(rowid, stamp);
    runs.Finish();
    EXPECT_EQ(runs.RunCount(), c.runs);
    std::vector<std::pair<int64_t, int64_t>> got;
    for (const RowidRange& range : runs.InPeriod()) got.push_back({range.first, range.last});
    EXPECT_EQ(got, c.inPeriod) << c.rows.size();
  }
}

}  // namespace
