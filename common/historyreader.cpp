#include "common/historyreader.h"

#include <sqlite3.h>
#include <strings.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <queue>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/historystatement.h"
#include "common/slicepace.h"
#include "common/textops.h"
#include "common/timeruns.h"

namespace {

constexpr size_t kNull = std::numeric_limits<size_t>::max();
constexpr int64_t kLowest = std::numeric_limits<int64_t>::min();
constexpr int64_t kHighest = std::numeric_limits<int64_t>::max();
// A keyset slice starts with this many rows and follows its time.
constexpr int64_t kFirstSliceRows = 512;
constexpr int64_t kMinSliceRows = 64;

// The columns of every reading statement: the rowid, whether the row is
// hidden (State "X"), then those of "select *".
constexpr int kRowidColumn = 0;
constexpr int kHiddenColumn = 1;
constexpr int kTableColumn = 2;

enum class Direction { Forward, Backward };

Failure<StoreFault> Failed(sqlite3* connection) {
  return {StoreFault::Failed, sqlite3_errmsg(connection)};
}

Failure<StoreFault> Busy() {
  return {StoreFault::Busy, "the history is being read by other requests"};
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
  // Room for a slice is taken once: a buffer that grew by doubling would
  // copy its cells again and again.
  RowBuffer(size_t maxBytes, size_t maxRows) : maxBytes_(maxBytes), maxRows_(maxRows) {
    arena_.reserve(maxBytes + maxBytes / 8);
    rows_.reserve(std::min<size_t>(maxRows, 4096));
  }

  // Copies the row `statement` stands on (the reading statements' columns).
  // A row without a time stamp is no row of the history and is left out;
  // false where SQLite ran out of memory.
  bool Take(sqlite3_stmt* statement) {
    int32_t stamp = 0;
    StampRead read = ReadRowStamp(statement, kTableColumn, stamp);
    if (read == StampRead::OutOfMemory) return false;
    if (read == StampRead::None) return true;
    columns_ = sqlite3_column_count(statement) - kTableColumn;
    if (names_.empty()) {
      for (int i = 0; i < columns_; ++i) {
        const char* name = sqlite3_column_name(statement, i + kTableColumn);
        names_.push_back(name != nullptr ? name : "");
      }
    }
    Row row;
    row.rowid = sqlite3_column_int64(statement, kRowidColumn);
    row.hidden = sqlite3_column_int(statement, kHiddenColumn) != 0;
    row.key = sqlite3_column_double(statement, kTableColumn);
    row.stamp = stamp;
    row.cells = cells_.size();
    for (int i = 1; i < columns_; ++i) {
      int column = i + kTableColumn;
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      if (text == nullptr) {
        if (sqlite3_column_type(statement, column) != SQLITE_NULL) return false;
        cells_.push_back({kNull, 0});
        continue;
      }
      size_t length = static_cast<size_t>(sqlite3_column_bytes(statement, column));
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
  bool HeadHidden() const { return rows_[next_].hidden; }
  // The head row's ObjName (the second column), empty for a null one.
  std::string_view HeadName() const {
    const Cell& cell = cells_[rows_[next_].cells];
    if (cell.offset == kNull) return {};
    return std::string_view(arena_.data() + cell.offset, cell.length);
  }

  // Hands the first row not yet handed on to `rows`.
  void HandHead(HistoryRows rows) {
    const Row& row = rows_[next_++];
    if (rows.handler == nullptr) return;
    texts_.assign(static_cast<size_t>(columns_), nullptr);
    lengths_.assign(static_cast<size_t>(columns_), 0);
    if (nameTexts_.size() != names_.size()) {
      nameTexts_.resize(names_.size());
      for (size_t i = 0; i < names_.size(); ++i) nameTexts_[i] = names_[i].c_str();
    }
    for (int i = 1; i < columns_; ++i) {
      const Cell& cell = cells_[row.cells + static_cast<size_t>(i) - 1];
      if (cell.offset == kNull) continue;
      texts_[i] = arena_.data() + cell.offset;
      lengths_[i] = cell.length;
    }
    HistoryRow handed;
    handed.stamp = row.stamp;
    handed.time = row.key;
    handed.rowid = row.rowid;
    handed.hidden = row.hidden;
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
    bool hidden;
    size_t cells;  // its first cell (the second column) in cells_
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
  SliceGate Gate() const { return gate_; }

 private:
  SliceGate gate_;
};

// Steps `statement` into `buffer` until it ends or the buffer is full
// (`cut`); `onRow` sees each row first and may leave it out (false).
template <typename OnRow>
int StepInto(sqlite3_stmt* statement, RowBuffer& buffer, bool& cut, OnRow onRow) {
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    if (!onRow(statement)) continue;
    if (!buffer.Take(statement)) {
      rc = SQLITE_NOMEM;
      break;
    }
    if (buffer.Full()) {
      cut = true;
      break;
    }
  }
  sqlite3_reset(statement);
  return rc;
}

Result<Done, StoreFault> Stepped(int rc, sqlite3_stmt* statement) {
  if (rc == SQLITE_NOMEM) return Failure<StoreFault>{StoreFault::Failed, "out of memory"};
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Failed(sqlite3_db_handle(statement));
  return Done{};
}

// One source of rows in order, read a slice at a time into its buffer.
class Cursor {
 public:
  virtual ~Cursor() = default;
  // The next slice into `buffer` (emptied first). AtEnd() when nothing follows.
  virtual Result<Done, StoreFault> Refill(RowBuffer& buffer, Turn& turn) = 0;
  bool AtEnd() const { return done_; }

 protected:
  bool done_ = false;
};

// The rows of a rowid range in rowid order (backwards: from its end down):
// slices of rowids.
class RowidCursor : public Cursor {
 public:
  RowidCursor(sqlite3_stmt* statement, RowidRange range, Direction direction)
      : statement_(statement),
        next_(direction == Direction::Forward ? range.first : range.last),
        end_(direction == Direction::Forward ? range.last : range.first),
        direction_(direction) {
    done_ = range.first > range.last;
  }

  Result<Done, StoreFault> Refill(RowBuffer& buffer, Turn& turn) override {
    buffer.Clear();
    if (done_) return Done{};
    bool forward = direction_ == Direction::Forward;
    int64_t to = forward ? SliceEnd(next_, span_, end_) : SliceStart(next_, span_, end_);
    if (!turn.Take()) return Busy();
    SliceClock::time_point begun = SliceClock::now();
    sqlite3_bind_int64(statement_, 1, forward ? next_ : to);
    sqlite3_bind_int64(statement_, 2, forward ? to : next_);
    bool cut = false;
    int64_t lastTaken = 0;
    int rc = StepInto(statement_, buffer, cut, [&](sqlite3_stmt* statement) {
      lastTaken = sqlite3_column_int64(statement, kRowidColumn);
      return true;
    });
    turn.Give();
    TRY(Stepped(rc, statement_));
    if (cut) {
      // The rest of the range follows in the next slice.
      done_ = lastTaken == end_;
      next_ = forward ? lastTaken + 1 : lastTaken - 1;
      return Done{};
    }
    done_ = to == end_;
    span_ = NextSliceSpan(span_, SliceClock::now() - begun);
    if (done_) return Done{};
    // On at the next row there is, across any gap of rowids.
    if (!turn.Take()) return Busy();
    Result<std::optional<int64_t>, StoreFault> next =
        NextRowid(sqlite3_db_handle(statement_), to, forward);
    turn.Give();
    if (!next.Ok()) return next.Fault();
    done_ = !next.Value() || (forward ? *next.Value() > end_ : *next.Value() < end_);
    if (!done_) next_ = *next.Value();
    return Done{};
  }

 private:
  // The first rowid of the slice that ends at `from`, going down to `first`.
  static int64_t SliceStart(int64_t from, int64_t span, int64_t first) {
    if (static_cast<uint64_t>(from) - static_cast<uint64_t>(first) < static_cast<uint64_t>(span))
      return first;
    return from - span + 1;
  }

  sqlite3_stmt* statement_;  // rowid >= ?1 and rowid <= ?2, shared by the runs
  int64_t next_;
  int64_t end_;
  Direction direction_;
  int64_t span_ = kFirstSliceSpan;
};

// The rows an index hands in order of (TimeStamp, rowid), or backwards:
// each slice goes on behind the last row of the one before. The rows of the
// last row's second that follow it come from a seek of their own
// (`sameSecond`), so that the statement of the later seconds (`later`)
// compares nothing but the time.
class KeysetCursor : public Cursor {
 public:
  struct Statements {
    sqlite3_stmt* later;       // TimeStamp beyond ?1, within ?2; limit ?4
    sqlite3_stmt* sameSecond;  // TimeStamp = ?1 and rowid beyond ?3; limit ?4
  };

  // Reads on behind (time, rowid) of a row just handed on.
  KeysetCursor(Statements statements, double time, int64_t rowid, int64_t last, std::string name)
      : statements_(statements),
        lastKey_(time),
        lastRowid_(rowid),
        last_(last),
        name_(std::move(name)) {}

  Result<Done, StoreFault> Refill(RowBuffer& buffer, Turn& turn) override {
    buffer.Clear();
    if (done_) return Done{};
    if (!turn.Take()) return Busy();
    SliceClock::time_point begun = SliceClock::now();
    bool cut = false;
    int rc = SQLITE_DONE;
    // First the rest of the last row's second, then the seconds beyond it.
    if (!secondDone_) {
      int64_t stepped = 0;
      rc = Step(statements_.sameSecond, buffer, stepped, cut);
      secondDone_ = rc == SQLITE_DONE && !cut && stepped < limit_;
    }
    if (secondDone_ && rc == SQLITE_DONE && !cut) {
      int64_t stepped = 0;
      rc = Step(statements_.later, buffer, stepped, cut);
      // A slice that stopped early may have left rows of its last second.
      done_ = rc == SQLITE_DONE && !cut && stepped < limit_;
      secondDone_ = done_;
    }
    turn.Give();
    TRY(Stepped(rc, statements_.later));
    if (!cut)
      limit_ = ScaledToSlice(limit_, SliceClock::now() - begun, kMinSliceRows,
                             static_cast<int64_t>(kSliceRows));
    return Done{};
  }

 private:
  // Steps `statement` into the buffer; the last row stepped becomes the
  // place to go on from. Rows stored after the read began are left out.
  int Step(sqlite3_stmt* statement, RowBuffer& buffer, int64_t& stepped, bool& cut) {
    sqlite3_bind_double(statement, 1, lastKey_);
    sqlite3_bind_int64(statement, 3, lastRowid_);
    sqlite3_bind_int64(statement, 4, limit_);
    if (!name_.empty())
      sqlite3_bind_text(statement, 6, name_.data(), static_cast<int>(name_.size()), SQLITE_STATIC);
    return StepInto(statement, buffer, cut, [&](sqlite3_stmt* row) {
      ++stepped;
      lastKey_ = sqlite3_column_double(row, kTableColumn);
      lastRowid_ = sqlite3_column_int64(row, kRowidColumn);
      return lastRowid_ <= last_;
    });
  }

  Statements statements_;
  double lastKey_;
  int64_t lastRowid_;
  int64_t last_;  // the highest rowid when the read began
  bool secondDone_ = false;
  int64_t limit_ = kFirstSliceRows;
  std::string name_;
};

// The condition besides the period, each part behind " and ": the shown
// rows (unless the hidden are asked for too) and the objects.
std::string RowCondition(const std::vector<std::string>& names, bool withHidden) {
  std::string condition = withHidden ? "" : kShownRowsCondition;
  if (names.empty()) return condition;
  condition += " and ObjName in (";
  for (size_t k = 0; k < names.size(); ++k)
    condition += (k > 0 ? ",'" : "'") + SqlQuoted(names[k]) + "'";
  return condition + ")";
}

std::string Columns(bool withHidden) {
  return withHidden ? "select rowid, State is \"X\", * from HISTORY "
                    : "select rowid, 0, * from HISTORY ";
}

// Rows of a rowid range ?1..?2 in the period, by rowid: the table itself is
// walked, whatever indexes there are.
std::string RowidStatement(const HistoryRead& read, const std::vector<std::string>& names,
                           Direction direction) {
  return Columns(read.withHidden) + "not indexed where rowid >= ?1 and rowid <= ?2 and " +
         PeriodCondition(read.from, read.to) + RowCondition(names, read.withHidden) +
         (direction == Direction::Forward ? " order by rowid" : " order by rowid desc");
}

// Rows of the period in order of (TimeStamp, rowid), at most ?4: those of
// the seconds after ?1 up to ?2 (`sameSecond` false), or those of the second
// ?1 after rowid ?3; backwards the seconds before ?1 down to ?2 and the rows
// before rowid ?3. With `byName` of the one object ?6.
std::string KeysetStatement(const std::string& index, bool byName, bool sameSecond,
                            Direction direction, const HistoryRead& read,
                            const std::vector<std::string>& names) {
  bool forward = direction == Direction::Forward;
  std::string sql = Columns(read.withHidden) + "indexed by \"" + index + "\" where ";
  if (byName) sql += "ObjName = ?6 and ";
  if (sameSecond)
    sql += forward ? "TimeStamp = ?1 and rowid > ?3" : "TimeStamp = ?1 and rowid < ?3";
  else
    sql += forward ? "TimeStamp > ?1 and TimeStamp <= ?2" : "TimeStamp < ?1 and TimeStamp >= ?2";
  sql += RowCondition(byName ? std::vector<std::string>() : names, read.withHidden);
  return sql + (forward ? " order by TimeStamp, rowid limit ?4"
                        : " order by TimeStamp desc, rowid desc limit ?4");
}

// The lowest and highest rowid, each found at an end of the table; both in
// one statement would make SQLite read the whole table. None for an empty
// table; Failed where there is no rowid (or no table).
Result<std::optional<RowidRange>, StoreFault> RowidBounds(sqlite3* connection) {
  std::optional<int64_t> last = TRY(QueryInteger(connection, "select max(rowid) from HISTORY"));
  std::optional<int64_t> first = TRY(QueryInteger(connection, "select min(rowid) from HISTORY"));
  if (!first || !last) return std::optional<RowidRange>();
  return std::optional<RowidRange>(RowidRange{*first, *last});
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
                                  SliceGate gate) {
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
  (void)TRY(WalkRowidSlices(connection, first, last, gate,
                            [&](int64_t from, int64_t to) -> Result<bool, StoreFault> {
                              sqlite3_bind_int64(statement, 1, from);
                              sqlite3_bind_int64(statement, 2, to);
                              int rc = sqlite3_step(statement);
                              sqlite3_reset(statement);
                              if (rc != SQLITE_ROW) return Failed(connection);
                              return true;
                            }));
  runs.Finish();
  return Done{};
}

bool Before(double time, int64_t rowid, const HistoryPlace& place) {
  return time < place.time || (time == place.time && rowid < place.rowid);
}

// The first rowid of `range` whose row (by time, then rowid) does not lie
// before `place`; range.last + 1 where all do. The rows of a run are in
// time order, so a search by halves finds it.
Result<int64_t, StoreFault> FirstNotBefore(sqlite3_stmt* probe, RowidRange range,
                                           const HistoryPlace& place) {
  uint64_t low = static_cast<uint64_t>(range.first);
  uint64_t high = static_cast<uint64_t>(range.last) + 1;
  while (low < high) {
    uint64_t middle = low + (high - low) / 2;
    sqlite3_bind_int64(probe, 1, static_cast<int64_t>(middle));
    sqlite3_bind_int64(probe, 2, range.last);
    int rc = sqlite3_step(probe);
    bool found = rc == SQLITE_ROW;
    double time = found ? sqlite3_column_double(probe, 1) : 0;
    int64_t rowid = found ? sqlite3_column_int64(probe, 0) : 0;
    sqlite3_reset(probe);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Failed(sqlite3_db_handle(probe));
    if (!found || !Before(time, rowid, place))
      high = middle;
    else
      low = static_cast<uint64_t>(rowid) + 1;
  }
  return static_cast<int64_t>(low);
}

// Hands on rows while `limit` allows: the shown rows are counted.
struct Handing {
  HistoryRows rows;
  size_t limit;  // 0: no limit
  size_t shown = 0;

  bool Full() const { return limit != 0 && shown >= limit; }
  void Hand(RowBuffer& buffer) {
    if (!buffer.HeadHidden()) ++shown;
    buffer.HandHead(rows);
  }
};

// Hands on the rows of the cursors merged in order of (time, rank, rowid),
// or backwards.
Result<Done, StoreFault> Merge(std::vector<std::unique_ptr<Cursor>>& cursors,
                               const std::vector<int>& ranks, Direction direction, Handing& handing,
                               Turn& turn) {
  size_t count = cursors.size();
  // The buffers share a budget; each takes at least one row.
  std::vector<RowBuffer> buffers;
  for (size_t k = 0; k < count; ++k)
    buffers.emplace_back(std::max<size_t>(kSliceBytes / count, 1),
                         std::max<size_t>(kSliceRows / count, 1));
  bool forward = direction == Direction::Forward;
  auto later = [&](size_t a, size_t b) {
    bool aFirst;
    if (buffers[a].HeadKey() != buffers[b].HeadKey())
      aFirst = buffers[a].HeadKey() < buffers[b].HeadKey();
    else if (ranks[a] != ranks[b])
      aFirst = ranks[a] < ranks[b];
    else
      aFirst = buffers[a].HeadRowid() < buffers[b].HeadRowid();
    return forward ? !aFirst : aFirst;
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heads(later);
  auto fill = [&](size_t k) -> Result<Done, StoreFault> {
    while (buffers[k].Empty() && !cursors[k]->AtEnd()) TRY(cursors[k]->Refill(buffers[k], turn));
    if (!buffers[k].Empty()) heads.push(k);
    return Done{};
  };
  for (size_t k = 0; k < count; ++k) TRY(fill(k));
  while (!heads.empty() && !handing.Full()) {
    size_t k = heads.top();
    heads.pop();
    handing.Hand(buffers[k]);
    TRY(fill(k));
  }
  return Done{};
}

// The rows in the order of one cursor alone.
Result<Done, StoreFault> Walk(Cursor& cursor, RowBuffer& buffer, Handing& handing, Turn& turn) {
  while (!cursor.AtEnd() && !handing.Full()) {
    TRY(cursor.Refill(buffer, turn));
    while (!buffer.Empty() && !handing.Full()) handing.Hand(buffer);
  }
  return Done{};
}

// The rows in the order of one cursor, as long as each object's rows follow
// in time; false (nothing more handed on) at the first that does not.
Result<bool, StoreFault> WalkWhileEachObjectInOrder(Cursor& cursor, RowBuffer& buffer,
                                                    Handing& handing, Turn& turn) {
  std::vector<std::pair<std::string, double>> lastKeys;
  while (!cursor.AtEnd()) {
    TRY(cursor.Refill(buffer, turn));
    for (; !buffer.Empty(); handing.Hand(buffer)) {
      std::string_view name = buffer.HeadName();
      auto last = std::find_if(lastKeys.begin(), lastKeys.end(),
                               [&](const auto& seen) { return seen.first == name; });
      if (last == lastKeys.end()) {
        lastKeys.emplace_back(std::string(name), buffer.HeadKey());
        continue;
      }
      if (buffer.HeadKey() < last->second) return false;
      last->second = buffer.HeadKey();
    }
  }
  return true;
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

// The name of the row at `rowid` among `names` (sorted): its rank, or -1.
int RankOfRow(sqlite3* connection, int64_t rowid, const std::vector<std::string>& names) {
  sqlite3_stmt* statement = nullptr;
  int rank = -1;
  if (sqlite3_prepare_v2(connection, "select ObjName from HISTORY where rowid = ?1", -1, &statement,
                         nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(statement, 1, rowid);
    if (sqlite3_step(statement) == SQLITE_ROW) {
      const char* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
      auto at = std::lower_bound(names.begin(), names.end(), name != nullptr ? name : "");
      if (at != names.end() && name != nullptr && *at == name)
        rank = static_cast<int>(at - names.begin());
    }
  }
  sqlite3_finalize(statement);
  return rank;
}

// Where a keyset cursor of the object of `rank` begins: behind (time,
// rowid) of a row just handed on, so that the row at the place comes first
// (or, backwards, the row before it).
std::pair<double, int64_t> KeysetStart(const HistoryRead& read, Direction direction, int rank,
                                       int placeRank) {
  bool forward = direction == Direction::Forward;
  if (!read.at) return {forward ? read.from : read.to, forward ? kLowest : kHighest};
  const HistoryPlace& place = *read.at;
  // The rows of the place's second: by name, then rowid.
  // The rows of the place's second: by name, then rowid. An object before
  // the place's has all of that second before it, one after none.
  if (rank < placeRank) return {place.time, kHighest};
  if (rank > placeRank) return {place.time, kLowest};
  return {place.time, forward ? place.rowid - 1 : place.rowid};
}

Result<Done, StoreFault> ReadOnConnection(sqlite3* connection, const HistoryRead& read,
                                          HistoryRows rows, Turn& turn, bool& noRowids) {
  std::vector<std::string> names = read.names;
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  Direction direction = read.backwards ? Direction::Backward : Direction::Forward;
  Handing handing{rows, read.limit};

  if (!turn.Take()) return Busy();
  Result<std::optional<RowidRange>, StoreFault> bounds = RowidBounds(connection);
  noRowids = !bounds.Ok();
  bool any = bounds.Ok() && bounds.Value().has_value();
  int64_t first = any ? bounds.Value()->first : 0;
  int64_t last = any ? bounds.Value()->last : 0;
  HistoryIndexes indexes = any ? FindIndexes(connection) : HistoryIndexes();
  int placeRank = any && read.at && !names.empty() && !indexes.objectTime.empty()
                      ? RankOfRow(connection, read.at->rowid, names)
                      : 0;
  turn.Give();
  if (!any) return Done{};  // an empty table, or none to walk by rowid

  Statements statements;
  RowBuffer buffer(kSliceBytes, kSliceRows);  // of a walk of one cursor at a time
  std::vector<std::unique_ptr<Cursor>> cursors;
  std::vector<int> ranks;
  auto prepareKeyset = [&](const std::string& index, bool byName) {
    KeysetCursor::Statements keyset{
        statements.Prepare(connection,
                           KeysetStatement(index, byName, false, direction, read, names)),
        statements.Prepare(connection,
                           KeysetStatement(index, byName, true, direction, read, names))};
    // The far end of the period stays bound.
    if (keyset.later != nullptr)
      sqlite3_bind_int64(keyset.later, 2, direction == Direction::Forward ? read.to : read.from);
    return keyset;
  };
  if (!names.empty() && !indexes.objectTime.empty()) {
    // One cursor per object; rows of one second by name, as the index's
    // order of the objects gives them.
    KeysetCursor::Statements keyset = prepareKeyset(indexes.objectTime, true);
    if (keyset.later == nullptr || keyset.sameSecond == nullptr) return Failed(connection);
    for (size_t k = 0; k < names.size(); ++k) {
      int rank = static_cast<int>(k);
      auto [time, rowid] = KeysetStart(read, direction, rank, placeRank);
      cursors.push_back(std::make_unique<KeysetCursor>(keyset, time, rowid, last, names[k]));
      ranks.push_back(rank);
    }
  } else if (!indexes.time.empty()) {
    KeysetCursor::Statements keyset = prepareKeyset(indexes.time, false);
    if (keyset.later == nullptr || keyset.sameSecond == nullptr) return Failed(connection);
    auto [time, rowid] = KeysetStart(read, direction, 0, 0);
    cursors.push_back(std::make_unique<KeysetCursor>(keyset, time, rowid, last, ""));
  } else {
    std::vector<RowidRange> ranges = {{first, last}};
    sqlite3_stmt* statement =
        statements.Prepare(connection, RowidStatement(read, names, direction));
    if (statement == nullptr) return Failed(connection);
    bool mayRestart = rows.restart != nullptr && !read.at && !read.backwards && read.limit == 0;
    if (!names.empty() && mayRestart) {
      // Most histories never leave time order: one walk as stored does.
      RowidCursor stored(statement, ranges[0], direction);
      if (TRY(WalkWhileEachObjectInOrder(stored, buffer, handing, turn))) return Done{};
      rows.restart(rows.context);
      handing.shown = 0;
    }
    if (!names.empty()) {
      // Without an index a time order comes from the runs of the table.
      TimeRuns runs(read.from, read.to);
      TRY(FindRuns(connection, first, last, runs, turn.Gate()));
      if (runs.InPeriod().size() > kMaxTimeRuns)
        return Failure<StoreFault>{
            StoreFault::Failed, Formatted("the history leaves time order %zu times in the period",
                                          runs.InPeriod().size())};
      ranges = runs.InPeriod();
    }
    if (read.at) {
      // Each run from its first row at the place (backwards: up to the row
      // before it).
      sqlite3_stmt* probe = statements.Prepare(
          connection,
          "select rowid, TimeStamp from HISTORY not indexed where rowid >= ?1 and rowid <= ?2 "
          "and typeof(TimeStamp) in ('integer', 'real') order by rowid limit 1");
      if (probe == nullptr) return Failed(connection);
      if (!turn.Take()) return Busy();
      for (RowidRange& range : ranges) {
        Result<int64_t, StoreFault> at = FirstNotBefore(probe, range, *read.at);
        if (!at.Ok()) {
          turn.Give();
          return at.Fault();
        }
        if (direction == Direction::Forward)
          range.first = at.Value();
        else
          range.last = at.Value() - 1;
      }
      turn.Give();
    }
    for (const RowidRange& range : ranges) {
      cursors.push_back(std::make_unique<RowidCursor>(statement, range, direction));
      ranks.push_back(0);
    }
  }
  // A handler that needs only each object's rows in order takes one
  // object's after the other, as the index holds them.
  bool eachObject = rows.restart != nullptr && !indexes.objectTime.empty() && !read.at &&
                    read.limit == 0 && !read.backwards;
  if (cursors.size() == 1 || eachObject) {
    for (std::unique_ptr<Cursor>& cursor : cursors) TRY(Walk(*cursor, buffer, handing, turn));
    return Done{};
  }
  return Merge(cursors, ranks, direction, handing, turn);
}

}  // namespace

Result<bool, StoreFault> WalkRowidSlices(
    sqlite3* connection, int64_t first, int64_t last, SliceGate gate,
    const std::function<Result<bool, StoreFault>(int64_t from, int64_t to)>& slice,
    const std::function<void(SliceClock::duration took)>& between) {
  Turn turn(gate);
  int64_t span = kFirstSliceSpan;
  for (int64_t from = first; from <= last;) {
    int64_t to = SliceEnd(from, span, last);
    if (!turn.Take()) return Busy();
    SliceClock::time_point begun = SliceClock::now();
    Result<bool, StoreFault> done = slice(from, to);
    turn.Give();
    if (!done.Ok() || !done.Value()) return done;
    if (to == last) break;
    SliceClock::duration took = SliceClock::now() - begun;
    span = NextSliceSpan(span, took);
    if (between) between(took);
    // On at the next row there is, across any gap of rowids.
    if (!turn.Take()) return Busy();
    Result<std::optional<int64_t>, StoreFault> next = NextRowid(connection, to);
    turn.Give();
    if (!next.Ok()) return next.Fault();
    if (!next.Value() || *next.Value() > last) break;
    from = *next.Value();
  }
  return true;
}

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
