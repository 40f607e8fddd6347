#include "common/historyreader.h"

#include <sqlite3.h>
#include <strings.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "common/historystatement.h"
#include "common/slicepace.h"
#include "common/textops.h"
#include "common/timeruns.h"

namespace {

constexpr size_t kNull = std::numeric_limits<size_t>::max();
// A keyset slice starts with this many rows and follows its time.
constexpr int64_t kFirstSliceRows = 512;
constexpr int64_t kMinSliceRows = 64;

Failure<StoreFault> Failed(sqlite3* connection) {
  return {StoreFault::Failed, sqlite3_errmsg(connection)};
}

// The indexes of HISTORY a plan of SQLite would read the rows by.
struct HistoryIndexes {
  std::string objectTime;  // leads with ObjName (binary order), then TimeStamp
  std::string time;        // leads with TimeStamp
};

bool SameName(const unsigned char* text, const char* name) {
  return text != nullptr && strcasecmp(reinterpret_cast<const char*>(text), name) == 0;
}

HistoryIndexes FindIndexes(sqlite3* connection) {
  HistoryIndexes found;
  sqlite3_stmt* list = nullptr;
  // Partial indexes serve only some rows, expression indexes no column.
  if (sqlite3_prepare_v2(connection,
                         "select name from pragma_index_list('HISTORY') where partial = 0", -1,
                         &list, nullptr) != SQLITE_OK) {
    sqlite3_finalize(list);
    return found;
  }
  sqlite3_stmt* info = nullptr;
  sqlite3_prepare_v2(connection,
                     "select name, coll from pragma_index_xinfo(?1) where key = 1 order by seqno",
                     -1, &info, nullptr);
  while (info != nullptr && sqlite3_step(list) == SQLITE_ROW) {
    std::string index = reinterpret_cast<const char*>(sqlite3_column_text(list, 0));
    sqlite3_bind_text(info, 1, index.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> columns;
    bool binaryName = false;
    while (sqlite3_step(info) == SQLITE_ROW && columns.size() < 2) {
      const unsigned char* column = sqlite3_column_text(info, 0);
      columns.push_back(column != nullptr ? reinterpret_cast<const char*>(column) : "");
      if (columns.size() == 1) binaryName = SameName(sqlite3_column_text(info, 1), "BINARY");
    }
    sqlite3_reset(info);
    auto is = [&](size_t k, const char* name) {
      return columns.size() > k && strcasecmp(columns[k].c_str(), name) == 0;
    };
    if (found.objectTime.empty() && is(0, "ObjName") && binaryName && is(1, "TimeStamp"))
      found.objectTime = index;
    if (found.time.empty() && is(0, "TimeStamp")) found.time = index;
  }
  sqlite3_finalize(info);
  sqlite3_finalize(list);
  return found;
}

// The rows of one slice, copied out of SQLite so that its read transaction
// can end before they are handed on.
class RowBuffer {
 public:
  RowBuffer(size_t maxBytes, size_t maxRows) : maxBytes_(maxBytes), maxRows_(maxRows) {}

  // Copies the row `statement` stands on: its rowid, then the columns of
  // "select *". A row without a time stamp is no row of the history and is
  // left out; false where SQLite ran out of memory.
  bool Take(sqlite3_stmt* statement) {
    int32_t stamp = 0;
    StampRead read = ReadRowStamp(statement, 1, stamp);
    if (read == StampRead::OutOfMemory) return false;
    if (read == StampRead::None) return true;
    columns_ = sqlite3_column_count(statement) - 1;
    if (names_.empty()) {
      for (int i = 0; i < columns_; ++i) {
        const char* name = sqlite3_column_name(statement, i + 1);
        names_.push_back(name != nullptr ? name : "");
      }
    }
    Row row;
    row.rowid = sqlite3_column_int64(statement, 0);
    row.key = sqlite3_column_double(statement, 1);
    row.stamp = stamp;
    row.cells = cells_.size();
    for (int i = 1; i < columns_; ++i) {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i + 1));
      if (text == nullptr) {
        if (sqlite3_column_type(statement, i + 1) != SQLITE_NULL) return false;
        cells_.push_back({kNull, 0});
        continue;
      }
      size_t length = static_cast<size_t>(sqlite3_column_bytes(statement, i + 1));
      cells_.push_back({arena_.size(), length});
      arena_.append(text, length);
      arena_ += '\0';
    }
    rows_.push_back(row);
    return true;
  }

  bool Full() const { return arena_.size() >= maxBytes_ || rows_.size() >= maxRows_; }
  bool Empty() const { return next_ >= rows_.size(); }
  void Clear() {
    arena_.clear();
    cells_.clear();
    rows_.clear();
    next_ = 0;
  }

  double HeadKey() const { return rows_[next_].key; }
  int64_t HeadRowid() const { return rows_[next_].rowid; }

  // Hands the first row not yet handed on to `rows`.
  void HandHead(HistoryRows rows) {
    const Row& row = rows_[next_++];
    if (rows.handler == nullptr) return;
    texts_.assign(static_cast<size_t>(columns_), nullptr);
    lengths_.assign(static_cast<size_t>(columns_), 0);
    nameTexts_.resize(names_.size());
    for (size_t i = 0; i < names_.size(); ++i) nameTexts_[i] = names_[i].c_str();
    for (int i = 1; i < columns_; ++i) {
      const Cell& cell = cells_[row.cells + static_cast<size_t>(i) - 1];
      if (cell.offset == kNull) continue;
      texts_[i] = arena_.data() + cell.offset;
      lengths_[i] = cell.length;
    }
    HistoryRow handed;
    handed.stamp = row.stamp;
    handed.columnCount = columns_;
    handed.texts = texts_.data();
    handed.lengths = lengths_.data();
    handed.names = nameTexts_.data();
    rows.handler(rows.context, handed);
  }

 private:
  struct Row {
    double key;  // the time stamp as SQLite orders it
    int64_t rowid;
    int32_t stamp;  // as the programs read it
    size_t cells;   // its first cell (the second column) in cells_
  };
  struct Cell {
    size_t offset;  // in arena_, kNull for SQL NULL
    size_t length;
  };

  size_t maxBytes_;
  size_t maxRows_;
  int columns_ = 0;
  std::vector<std::string> names_;
  std::string arena_;
  std::vector<Cell> cells_;
  std::vector<Row> rows_;
  size_t next_ = 0;
  std::vector<const char*> texts_;
  std::vector<size_t> lengths_;
  std::vector<const char*> nameTexts_;
};

// Around each read transaction.
class Turn {
 public:
  explicit Turn(SliceGate gate) : gate_(gate) {}
  bool Take() { return gate_.enter == nullptr || gate_.enter(gate_.context); }
  void Give() {
    if (gate_.leave != nullptr) gate_.leave(gate_.context);
  }

 private:
  SliceGate gate_;
};

Failure<StoreFault> Busy() {
  return {StoreFault::Busy, "the history is being read by other requests"};
}

// One source of rows in order, read a slice at a time into its buffer.
class Cursor {
 public:
  virtual ~Cursor() = default;
  // The next slice into `buffer` (emptied first). Done() when nothing follows.
  virtual Result<Done, StoreFault> Refill(RowBuffer& buffer, Turn& turn) = 0;
  bool AtEnd() const { return done_; }

 protected:
  bool done_ = false;
};

// The rows of a rowid range in rowid order: slices of rowids.
class RowidCursor : public Cursor {
 public:
  RowidCursor(sqlite3_stmt* statement, RowidRange range)
      : statement_(statement), next_(range.first), last_(range.last) {}

  Result<Done, StoreFault> Refill(RowBuffer& buffer, Turn& turn) override {
    buffer.Clear();
    if (done_) return Done{};
    int64_t to = SliceEnd(next_, span_, last_);
    if (!turn.Take()) return Busy();
    SliceClock::time_point begun = SliceClock::now();
    sqlite3_bind_int64(statement_, 1, next_);
    sqlite3_bind_int64(statement_, 2, to);
    int rc;
    bool cut = false;
    while ((rc = sqlite3_step(statement_)) == SQLITE_ROW) {
      if (!buffer.Take(statement_)) {
        rc = SQLITE_NOMEM;
        break;
      }
      if (buffer.Full()) {
        // The rest of the range follows in the next slice.
        next_ = sqlite3_column_int64(statement_, 0);
        cut = true;
        break;
      }
    }
    sqlite3_reset(statement_);
    turn.Give();
    if (rc == SQLITE_NOMEM) return Failure<StoreFault>{StoreFault::Failed, "out of memory"};
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Failed(sqlite3_db_handle(statement_));
    if (cut) {
      done_ = next_ == last_;
      ++next_;
      return Done{};
    }
    done_ = to == last_;
    next_ = to + 1;
    span_ = NextSliceSpan(span_, SliceClock::now() - begun);
    return Done{};
  }

 private:
  sqlite3_stmt* statement_;  // rowid >= ?1 and rowid <= ?2, shared by the runs
  int64_t next_;
  int64_t last_;
  int64_t span_ = kFirstSliceSpan;
};

// The rows an index hands in order of (TimeStamp, rowid): each slice
// continues behind the last row of the one before.
class KeysetCursor : public Cursor {
 public:
  KeysetCursor(sqlite3_stmt* statement, int32_t from, std::string name)
      : statement_(statement), lastKey_(from), name_(std::move(name)) {}

  Result<Done, StoreFault> Refill(RowBuffer& buffer, Turn& turn) override {
    buffer.Clear();
    if (done_) return Done{};
    if (!turn.Take()) return Busy();
    SliceClock::time_point begun = SliceClock::now();
    sqlite3_bind_double(statement_, 1, lastKey_);
    sqlite3_bind_int64(statement_, 3, lastRowid_);
    sqlite3_bind_int64(statement_, 4, limit_);
    if (!name_.empty())
      sqlite3_bind_text(statement_, 6, name_.data(), static_cast<int>(name_.size()), SQLITE_STATIC);
    int rc;
    int64_t stepped = 0;
    bool cut = false;
    while ((rc = sqlite3_step(statement_)) == SQLITE_ROW) {
      ++stepped;
      lastKey_ = sqlite3_column_double(statement_, 1);
      lastRowid_ = sqlite3_column_int64(statement_, 0);
      if (!buffer.Take(statement_)) {
        rc = SQLITE_NOMEM;
        break;
      }
      if (buffer.Full()) {
        cut = true;
        break;
      }
    }
    sqlite3_reset(statement_);
    turn.Give();
    if (rc == SQLITE_NOMEM) return Failure<StoreFault>{StoreFault::Failed, "out of memory"};
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Failed(sqlite3_db_handle(statement_));
    if (!cut) {
      done_ = stepped < limit_;
      limit_ = ScaledToSlice(limit_, SliceClock::now() - begun, kMinSliceRows,
                             static_cast<int64_t>(kSliceRows));
    }
    return Done{};
  }

 private:
  sqlite3_stmt* statement_;  // see KeysetStatement
  double lastKey_;
  int64_t lastRowid_ = std::numeric_limits<int64_t>::min();
  int64_t limit_ = kFirstSliceRows;
  std::string name_;
};

// The shown rows' condition besides the period: State and the objects.
std::string ShownCondition(const std::vector<std::string>& names) {
  std::string condition = kShownRowsCondition;
  if (names.empty()) return condition;
  condition += " and ObjName in (";
  for (size_t k = 0; k < names.size(); ++k)
    condition += (k > 0 ? ",'" : "'") + SqlQuoted(names[k]) + "'";
  return condition + ")";
}

// Rows of a rowid range ?1..?2 in the period, by rowid: the table itself is
// walked, whatever indexes there are.
std::string RowidStatement(const HistoryRead& read, const std::vector<std::string>& names) {
  return "select rowid, * from HISTORY not indexed where rowid >= ?1 and rowid <= ?2 and " +
         PeriodCondition(read.from, read.to) + ShownCondition(names);
}

// Rows of the period behind (?1, ?3) in order of (TimeStamp, rowid), at most
// ?4, none stored after the start (rowid above ?5); with `byName` of the one
// object ?6.
std::string KeysetStatement(const std::string& index, bool byName,
                            const std::vector<std::string>& names) {
  std::string sql = "select rowid, * from HISTORY indexed by \"" + index + "\" where ";
  if (byName) sql += "ObjName = ?6 and ";
  return sql +
         "TimeStamp >= ?1 and TimeStamp <= ?2 and (TimeStamp > ?1 or rowid > ?3) and "
         "rowid <= ?5" +
         ShownCondition(byName ? std::vector<std::string>() : names) +
         " order by TimeStamp, rowid limit ?4";
}

// The single integers of `sql` (min and max); false where the table has
// none (an empty table) or the statement fails (no rowid: `failed`).
bool RowidBounds(sqlite3* connection, int64_t& first, int64_t& last, bool& failed) {
  sqlite3_stmt* statement = nullptr;
  failed = sqlite3_prepare_v2(connection, "select min(rowid), max(rowid) from HISTORY", -1,
                              &statement, nullptr) != SQLITE_OK;
  if (failed) return false;
  bool found =
      sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL;
  if (found) {
    first = sqlite3_column_int64(statement, 0);
    last = sqlite3_column_int64(statement, 1);
  }
  failed = sqlite3_finalize(statement) != SQLITE_OK;
  return found && !failed;
}

// Notes each row's time stamp in the TimeRuns of the function's user data.
void NoteStamp(sqlite3_context* context, int, sqlite3_value** values) {
  TimeRuns& runs = *static_cast<TimeRuns*>(sqlite3_user_data(context));
  int type = sqlite3_value_type(values[1]);
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
    runs.Note(sqlite3_value_int64(values[0]), sqlite3_value_double(values[1]));
  else
    runs.NoteUnstamped();
  sqlite3_result_int(context, 0);
}

// The runs of time order of the rows up to `last`, walked in slices over
// the time stamps alone.
Result<Done, StoreFault> FindRuns(sqlite3* connection, int64_t first, int64_t last, TimeRuns& runs,
                                  Turn& turn) {
  if (sqlite3_create_function_v2(connection, "history_time_runs", 2,
                                 SQLITE_UTF8 | SQLITE_DIRECTONLY, &runs, NoteStamp, nullptr,
                                 nullptr, nullptr) != SQLITE_OK)
    return Failed(connection);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(connection,
                         "select count(*) from HISTORY not indexed where rowid >= ?1 and "
                         "rowid <= ?2 and history_time_runs(rowid, TimeStamp)",
                         -1, &statement, nullptr) != SQLITE_OK)
    return Failed(connection);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(statement, sqlite3_finalize);
  int64_t span = kFirstSliceSpan;
  for (int64_t from = first;;) {
    int64_t to = SliceEnd(from, span, last);
    if (!turn.Take()) return Busy();
    SliceClock::time_point begun = SliceClock::now();
    sqlite3_bind_int64(statement, 1, from);
    sqlite3_bind_int64(statement, 2, to);
    int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    turn.Give();
    if (rc != SQLITE_ROW) return Failed(connection);
    if (to == last) break;
    span = NextSliceSpan(span, SliceClock::now() - begun);
    from = to + 1;
  }
  runs.Finish();
  return Done{};
}

// Hands on the rows of the cursors merged in order of (time, rank, rowid).
Result<Done, StoreFault> Merge(std::vector<std::unique_ptr<Cursor>>& cursors,
                               const std::vector<int>& ranks, HistoryRows rows, Turn& turn) {
  size_t count = cursors.size();
  // The buffers share a budget; each takes at least one row.
  std::vector<RowBuffer> buffers;
  for (size_t k = 0; k < count; ++k)
    buffers.emplace_back(std::max<size_t>(kSliceBytes / count, 1),
                         std::max<size_t>(kSliceRows / count, 1));
  auto later = [&](size_t a, size_t b) {
    if (buffers[a].HeadKey() != buffers[b].HeadKey())
      return buffers[a].HeadKey() > buffers[b].HeadKey();
    if (ranks[a] != ranks[b]) return ranks[a] > ranks[b];
    return buffers[a].HeadRowid() > buffers[b].HeadRowid();
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heads(later);
  auto fill = [&](size_t k) -> Result<Done, StoreFault> {
    while (buffers[k].Empty() && !cursors[k]->AtEnd()) TRY(cursors[k]->Refill(buffers[k], turn));
    if (!buffers[k].Empty()) heads.push(k);
    return Done{};
  };
  for (size_t k = 0; k < count; ++k) TRY(fill(k));
  while (!heads.empty()) {
    size_t k = heads.top();
    heads.pop();
    buffers[k].HandHead(rows);
    TRY(fill(k));
  }
  return Done{};
}

// The rows in the order of one cursor alone.
Result<Done, StoreFault> Walk(Cursor& cursor, HistoryRows rows, Turn& turn) {
  RowBuffer buffer(kSliceBytes, kSliceRows);
  while (!cursor.AtEnd()) {
    TRY(cursor.Refill(buffer, turn));
    while (!buffer.Empty()) buffer.HandHead(rows);
  }
  return Done{};
}

struct Statements {
  std::vector<sqlite3_stmt*> held;
  ~Statements() {
    for (sqlite3_stmt* statement : held) sqlite3_finalize(statement);
  }
  sqlite3_stmt* Prepare(sqlite3* connection, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return nullptr;
    held.push_back(statement);
    return statement;
  }
};

Result<Done, StoreFault> ReadOnConnection(sqlite3* connection, const HistoryRead& read,
                                          HistoryRows rows, Turn& turn, bool& noRowids) {
  std::vector<std::string> names = read.names;
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());

  int64_t first = 0;
  int64_t last = 0;
  if (!turn.Take()) return Busy();
  bool any = RowidBounds(connection, first, last, noRowids);
  HistoryIndexes indexes = any ? FindIndexes(connection) : HistoryIndexes();
  turn.Give();
  if (!any) return Done{};  // an empty table, or none to walk by rowid

  Statements statements;
  std::vector<std::unique_ptr<Cursor>> cursors;
  std::vector<int> ranks;
  // The end of the period and the last row stored at the start stay bound.
  auto prepareKeyset = [&](const std::string& index, bool byName) {
    sqlite3_stmt* statement = statements.Prepare(connection, KeysetStatement(index, byName, names));
    if (statement != nullptr) {
      sqlite3_bind_int64(statement, 2, read.to);
      sqlite3_bind_int64(statement, 5, last);
    }
    return statement;
  };
  if (!names.empty() && !indexes.objectTime.empty()) {
    // One cursor per object; rows of one second by name, as the index's
    // order of the objects gives them.
    sqlite3_stmt* statement = prepareKeyset(indexes.objectTime, true);
    if (statement == nullptr) return Failed(connection);
    for (size_t k = 0; k < names.size(); ++k) {
      cursors.push_back(std::make_unique<KeysetCursor>(statement, read.from, names[k]));
      ranks.push_back(static_cast<int>(k));
    }
  } else if (!indexes.time.empty()) {
    sqlite3_stmt* statement = prepareKeyset(indexes.time, false);
    if (statement == nullptr) return Failed(connection);
    cursors.push_back(std::make_unique<KeysetCursor>(statement, read.from, ""));
  } else {
    std::vector<RowidRange> ranges = {{first, last}};
    if (!names.empty()) {
      // Without an index a time order comes from the runs of the table.
      TimeRuns runs(read.from, read.to);
      TRY(FindRuns(connection, first, last, runs, turn));
      if (runs.InPeriod().size() > kMaxTimeRuns)
        return Failure<StoreFault>{
            StoreFault::Failed, Formatted("the history leaves time order %zu times in the period",
                                          runs.InPeriod().size())};
      ranges = runs.InPeriod();
    }
    sqlite3_stmt* statement = statements.Prepare(connection, RowidStatement(read, names));
    if (statement == nullptr) return Failed(connection);
    for (const RowidRange& range : ranges) {
      cursors.push_back(std::make_unique<RowidCursor>(statement, range));
      ranks.push_back(0);
    }
  }
  if (cursors.size() == 1) return Walk(*cursors[0], rows, turn);
  return Merge(cursors, ranks, rows, turn);
}

}  // namespace

Result<Done, StoreFault> ReadHistory(const std::string& storePath, const HistoryRead& read,
                                     HistoryRows rows, ConnectionSetup setup, SliceGate gate) {
  sqlite3* connection = TRY(OpenHistoryStore(storePath, MissingStore::OnlyAbsent, setup));
  Turn turn(gate);
  bool noRowids = false;
  Result<Done, StoreFault> ran = ReadOnConnection(connection, read, rows, turn, noRowids);
  if (noRowids) {
    // A table without rowids (or no table at all: the statement tells it as
    // it always did) is read in one statement.
    if (!turn.Take()) return Busy();
    ran = RunHistoryStatements(connection, ReportStatement(read.from, read.to, read.names), rows);
    turn.Give();
  }
  if (!ran.Ok()) {
    // Closing rolls back what a failed slice left open: no lock outlives it.
    CloseHistoryStore();
    if (ran.Fault().kind == StoreFault::Failed)
      return Failure<StoreFault>{StoreFault::Failed, StatementFailure(ran.Fault().message)};
  }
  return ran;
}
