#include "histquery/summary.h"

#include <fcntl.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "common/historystatement.h"
#include "common/slicepace.h"
#include "common/textops.h"
#include "histquery/readslots.h"
#include "histquery/viewtext.h"

namespace {

using Clock = std::chrono::steady_clock;

// Locked while a change of the history (a deletion, a free SQL text) runs:
// shared by the changes, taken alone by a request that writes the summary.
// A byte of the file of the turns.
constexpr int kSummaryLockByte = 0;
constexpr int kFirstRowsOfIdentity = 16;
// Pieces a fold holds before it writes them out.
constexpr size_t kPiecesHeld = 4096;

bool Lock(short type, bool wait) {
  return LockSlotFileByte(kSummaryLockByte, type, wait);
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

int64_t CeilDiv(int64_t a, int64_t b) {
  return -FloorDiv(-a, b);
}

// A whole number written by this program; false for anything else (a
// summary file is never trusted to be whole).
bool ReadNumber(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  char* end = nullptr;
  errno = 0;
  long long read = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  value = read;
  return true;
}

// --- a piece as bytes -------------------------------------------------------

void PutVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

void PutSigned(std::string& out, int64_t value) {
  PutVarint(out, (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63));
}

void PutDouble(std::string& out, double value) {
  char bytes[8];
  std::memcpy(bytes, &value, 8);
  out.append(bytes, 8);
}

struct Reader {
  const unsigned char* at;
  const unsigned char* end;
  bool ok = true;

  uint64_t Varint() {
    uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at >= end) break;
      unsigned char byte = *at++;
      value |= static_cast<uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
    ok = false;
    return 0;
  }
  int64_t Signed() {
    uint64_t value = Varint();
    return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
  }
  double Double() {
    double value = 0;
    if (end - at < 8) {
      ok = false;
      return value;
    }
    std::memcpy(&value, at, 8);
    at += 8;
    return value;
  }
};

// Times as seconds from the bucket's start, the first row's place 0 and the
// last's count - 1 implied.
std::string EncodePiece(const SeriesPiece& piece, int64_t start) {
  std::string out;
  PutVarint(out, static_cast<uint64_t>(piece.count));
  PutVarint(out, static_cast<uint64_t>(piece.numberCount));
  PutSigned(out, piece.first.time - start);
  PutDouble(out, piece.first.value);
  PutSigned(out, piece.last.time - start);
  PutDouble(out, piece.last.value);
  if (piece.numberCount > 0) {
    for (const SeriesPiece::Row* row : {&piece.min, &piece.max}) {
      PutSigned(out, row->time - start);
      PutDouble(out, row->value);
      PutVarint(out, static_cast<uint64_t>(row->index));
    }
  }
  for (const ExactSum* sum : {&piece.numberSum, &piece.weighted}) {
    PutSigned(out, static_cast<int64_t>(sum->HighBits()));
    PutVarint(out, sum->LowBits());
  }
  PutVarint(out, static_cast<uint64_t>(piece.weightSeconds));
  out += static_cast<char>((piece.textsKept ? 1 : 0) | (piece.textsDropped ? 2 : 0));
  PutVarint(out, piece.texts.size());
  for (const ValueText& entry : piece.texts) {
    PutDouble(out, entry.value);
    PutVarint(out, entry.text.size());
    out += entry.text;
  }
  return out;
}

bool DecodePiece(const void* blob, int size, int64_t start, SeriesPiece& piece) {
  Reader in{static_cast<const unsigned char*>(blob),
            static_cast<const unsigned char*>(blob) + size};
  piece = SeriesPiece();
  piece.count = static_cast<int64_t>(in.Varint());
  piece.numberCount = static_cast<int64_t>(in.Varint());
  piece.first = {static_cast<int32_t>(start + in.Signed()), 0, 0};
  piece.first.value = in.Double();
  piece.last = {static_cast<int32_t>(start + in.Signed()), 0, piece.count - 1};
  piece.last.value = in.Double();
  if (piece.numberCount > 0) {
    for (SeriesPiece::Row* row : {&piece.min, &piece.max}) {
      row->time = static_cast<int32_t>(start + in.Signed());
      row->value = in.Double();
      row->index = static_cast<int64_t>(in.Varint());
    }
  }
  for (ExactSum* sum : {&piece.numberSum, &piece.weighted}) {
    uint64_t high = static_cast<uint64_t>(in.Signed());
    *sum = ExactSum::FromBits(high, in.Varint());
  }
  piece.weightSeconds = static_cast<int64_t>(in.Varint());
  if (in.at >= in.end) return false;
  unsigned char flags = *in.at++;
  piece.textsKept = (flags & 1) != 0;
  piece.textsDropped = (flags & 2) != 0;
  uint64_t texts = in.Varint();
  for (uint64_t k = 0; k < texts && in.ok; ++k) {
    double value = in.Double();
    uint64_t length = in.Varint();
    if (static_cast<uint64_t>(in.end - in.at) < length) return false;
    piece.texts.push_back({value, std::string(reinterpret_cast<const char*>(in.at), length)});
    in.at += length;
  }
  return in.ok && in.at == in.end && piece.count > 0;
}

// --- rows of the history ----------------------------------------------------

// A row of one object, its value and value text copied out.
struct Row {
  double key;  // the time stamp as SQLite orders it
  int64_t rowid;
  int32_t stamp;
  std::string name;
  std::string value;
  std::string valueText;
  bool valueNull = true;
  bool textNull = true;
};

bool Earlier(const Row& a, const Row& b) {
  return a.key != b.key ? a.key < b.key : a.rowid < b.rowid;
}

// Whether a row's value text names its value, as the chart keeps it.
bool NamesValue(const Row& row) {
  if (row.valueNull || row.textNull || row.valueText.empty()) return false;
  if (row.valueText == row.value) return false;
  double value;
  double text;
  if (!ReadValueNumber(row.value.data(), row.value.size(), value)) return false;
  return !(ReadValueNumber(row.valueText.data(), row.valueText.size(), text) && text == value);
}

void AddRowTo(SeriesPiece& piece, const Row& row) {
  piece.AddRow(row.stamp, row.valueNull ? nullptr : row.value.data(), row.value.size(),
               row.textNull ? nullptr : row.valueText.data(), row.valueText.size());
}

void AddRowTo(ChartSeries& series, const Row& row) {
  series.Add(row.stamp, row.valueNull ? nullptr : row.value.data(), row.value.size(),
             row.textNull ? nullptr : row.valueText.data(), row.valueText.size());
}

// The columns of a reading statement: rowid, hidden, then "select *"
// (TimeStamp, ObjName, kind, Value, ValueText, ...).
constexpr int kRowid = 0;
constexpr int kHidden = 1;
constexpr int kTime = 2;
constexpr int kName = 3;
constexpr int kValue = 5;
constexpr int kValueText = 6;

// The row `statement` stands on; false for a row without a numeric time
// stamp (it lies in no period).
bool TakeRow(sqlite3_stmt* statement, Row& row) {
  int type = sqlite3_column_type(statement, kTime);
  if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return false;
  row.rowid = sqlite3_column_int64(statement, kRowid);
  row.key = sqlite3_column_double(statement, kTime);
  if (ReadRowStamp(statement, kTime, row.stamp) != StampRead::Read) return false;
  const unsigned char* name = sqlite3_column_text(statement, kName);
  if (name == nullptr) return false;
  row.name.assign(reinterpret_cast<const char*>(name),
                  static_cast<size_t>(sqlite3_column_bytes(statement, kName)));
  int columns = sqlite3_column_count(statement);
  auto text = [&](int column, std::string& out, bool& null) {
    const unsigned char* bytes =
        column < columns ? sqlite3_column_text(statement, column) : nullptr;
    null = bytes == nullptr;
    if (null)
      out.clear();
    else
      out.assign(reinterpret_cast<const char*>(bytes),
                 std::strlen(reinterpret_cast<const char*>(bytes)));
  };
  text(kValue, row.value, row.valueNull);
  text(kValueText, row.valueText, row.textNull);
  return true;
}

// --- the summary database ---------------------------------------------------

constexpr const char kSchema[] =
    "create table if not exists meta (key text primary key, value) without rowid;"
    "create table if not exists hours (hour integer primary key, first integer, last integer);"
    "create table if not exists dirty (hour integer primary key);"
    "create table if not exists dirtydays (day integer primary key);"
    "create table if not exists named (object text primary key) without rowid;"
    "create table if not exists pieces (level integer, object text, bucket integer, piece blob,"
    " primary key (level, object, bucket)) without rowid;"
    "create index if not exists pieces_by_bucket on pieces (level, bucket);";

constexpr int kHourLevel = 0;
constexpr int kDayLevel = 1;

class Summary {
 public:
  ~Summary() {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    if (db_ != nullptr) sqlite3_close(db_);
  }

  // Opens histsum.db, made anew where it cannot be read.
  bool Open() {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (sqlite3_open_v2(kSummaryFile, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                          nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db_, 2000);
        if (Exec(kSchema) && Exec("pragma synchronous = normal")) return true;
      }
      sqlite3_close(db_);
      db_ = nullptr;
      std::remove(kSummaryFile);
      std::remove((std::string(kSummaryFile) + "-journal").c_str());
    }
    return false;
  }

  bool Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  sqlite3_stmt* Statement(const char* sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) {
      sqlite3_reset(found->second);
      sqlite3_clear_bindings(found->second);
      return found->second;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) return nullptr;
    statements_[sql] = statement;
    return statement;
  }

  std::string Meta(const char* key) {
    sqlite3_stmt* s = Statement("select value from meta where key = ?1");
    if (s == nullptr) return "";
    sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
    std::string value;
    if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_text(s, 0) != nullptr)
      value = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_reset(s);
    return value;
  }

  bool SetMeta(const char* key, const std::string& value) {
    return Run("insert or replace into meta values (?1, ?2)", std::string(key), value);
  }

  // Runs a statement that hands back no rows, its parameters bound in order.
  template <typename... Values>
  bool Run(const char* sql, const Values&... values) {
    sqlite3_stmt* s = Statement(sql);
    if (s == nullptr) return false;
    int index = 0;
    (Bind(s, ++index, values), ...);
    bool done = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return done;
  }

  // The first and last rowid of an hour's rows, where the summary knows
  // them; false where it cannot be read.
  bool HourRange(int64_t hour, std::optional<std::pair<int64_t, int64_t>>& range) {
    range.reset();
    sqlite3_stmt* s = Statement("select first, last from hours where hour = ?1");
    if (s == nullptr) return false;
    sqlite3_bind_int64(s, 1, hour);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) range.emplace(sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1));
    sqlite3_reset(s);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
  }

  static void Bind(sqlite3_stmt* s, int index, int64_t value) {
    sqlite3_bind_int64(s, index, value);
  }
  static void Bind(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }

  bool Clear() {
    return Exec(
        "delete from meta; delete from hours; delete from dirty; delete from dirtydays;"
        "delete from named; delete from pieces;");
  }

  bool LoadPiece(int level, const std::string& object, int64_t bucket, SeriesPiece& piece) {
    sqlite3_stmt* s =
        Statement("select piece from pieces where level = ?1 and object = ?2 and bucket = ?3");
    if (s == nullptr) return false;
    sqlite3_bind_int(s, 1, level);
    sqlite3_bind_text(s, 2, object.data(), static_cast<int>(object.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, 3, bucket);
    bool found = sqlite3_step(s) == SQLITE_ROW &&
                 Decode(sqlite3_column_blob(s, 0), sqlite3_column_bytes(s, 0),
                        BucketStart(level, bucket), piece);
    sqlite3_reset(s);
    return found;
  }

  bool StorePiece(int level, const std::string& object, int64_t bucket, const SeriesPiece& piece) {
    sqlite3_stmt* s = Statement("insert or replace into pieces values (?1, ?2, ?3, ?4)");
    if (s == nullptr) return false;
    std::string bytes = EncodePiece(piece, BucketStart(level, bucket));
    sqlite3_bind_int(s, 1, level);
    sqlite3_bind_text(s, 2, object.data(), static_cast<int>(object.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, 3, bucket);
    sqlite3_bind_blob(s, 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
    bool done = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return done;
  }

  static int64_t BucketStart(int level, int64_t bucket) {
    return bucket * (level == kHourLevel ? kHourSeconds : kDaySeconds);
  }

  // A piece as stored; a piece that cannot be read marks the summary
  // damaged.
  bool Decode(const void* blob, int size, int64_t start, SeriesPiece& piece) {
    if (DecodePiece(blob, size, start, piece)) return true;
    damaged_ = true;
    return false;
  }

  // Whether the summary file is damaged, as its last step or a piece read
  // showed: it is thrown away then, not left to fail every request.
  bool Damaged() {
    int code = sqlite3_errcode(db_) & 0xFF;
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) damaged_ = true;
    return damaged_;
  }

  sqlite3* db_ = nullptr;

 private:
  bool damaged_ = false;
  std::map<std::string, sqlite3_stmt*> statements_;
};

// What identifies the history file: its table's schema and first rows.
std::string HistoryIdentity(sqlite3* history) {
  std::string identity;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(history,
                         "select sql from sqlite_master where type = 'table' and name = 'HISTORY'",
                         -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW && sqlite3_column_text(s, 0) != nullptr)
    identity = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  sqlite3_finalize(s);
  s = nullptr;
  std::string sql = "select rowid, TimeStamp, ObjName from HISTORY order by rowid limit " +
                    std::to_string(kFirstRowsOfIdentity);
  if (sqlite3_prepare_v2(history, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      for (int column = 0; column < 3; ++column) {
        const unsigned char* text = sqlite3_column_text(s, column);
        identity += "|";
        identity += text != nullptr ? reinterpret_cast<const char*>(text) : "~";
      }
    }
  }
  sqlite3_finalize(s);
  return identity;
}

// The row at the highest rowid up to `rowid`, as text: the last row the
// summary covered, which must still be what it was.
std::string RowMark(sqlite3* history, int64_t rowid) {
  std::string sql =
      "select rowid, TimeStamp, ObjName from HISTORY where rowid <= " + std::to_string(rowid) +
      " order by rowid desc limit 1";
  sqlite3_stmt* s = nullptr;
  std::string mark;
  if (sqlite3_prepare_v2(history, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    for (int column = 0; column < 3; ++column) {
      const unsigned char* text = sqlite3_column_text(s, column);
      mark += text != nullptr ? reinterpret_cast<const char*>(text) : "~";
      mark += "|";
    }
  }
  sqlite3_finalize(s);
  return mark;
}

// Brings the summary up to date with the history, within kFoldTime.
class Update {
 public:
  Update(Summary& summary, sqlite3* history, SliceGate gate)
      : summary_(summary), history_(history), gate_(gate), until_(Clock::now() + kFoldTime) {}

  // True when the summary covers every row of the history now.
  Result<bool, StoreFault> Run() {
    std::optional<int64_t> last =
        TRY(TakingTurns([&] { return QueryInteger(history_, "select max(rowid) from HISTORY"); }));
    std::optional<int64_t> first =
        TRY(TakingTurns([&] { return QueryInteger(history_, "select min(rowid) from HISTORY"); }));
    std::string identity = HistoryIdentity(history_);
    if (!summary_.Exec("begin immediate")) return false;
    bool done = Prepare(identity, first, last) && Fold(first, last) && RebuildDirty() && MakeDays();
    done = done && summary_.Exec("commit");
    if (!done) {
      summary_.Damaged();
      summary_.Exec("rollback");
    }
    return done && covered_ == (last ? *last : 0) && !moreDirty_;
  }

 private:
  template <typename Step>
  auto TakingTurns(Step step) -> decltype(step()) {
    if (gate_.enter != nullptr && !gate_.enter(gate_.context))
      return Failure<StoreFault>{StoreFault::Busy, "the history is being read by other requests"};
    auto result = step();
    if (gate_.leave != nullptr) gate_.leave(gate_.context);
    return result;
  }

  // The summary is of this history, up to the row it covered; else it is
  // made anew.
  bool Prepare(const std::string& identity, std::optional<int64_t> first,
               std::optional<int64_t> last) {
    std::string stored = summary_.Meta("history");
    std::string covered = summary_.Meta("covered");
    bool read = ReadNumber(covered, covered_);
    bool same =
        read && !stored.empty() && stored == identity &&
        (!last ? covered_ == 0
               : covered_ <= *last && summary_.Meta("coveredRow") == RowMark(history_, covered_));
    if (same && MarkPending()) return LoadNamed();
    if (!summary_.Clear() || !summary_.SetMeta("history", identity)) return false;
    covered_ = first ? *first - 1 : 0;
    return summary_.SetMeta("covered", std::to_string(covered_)) && LoadNamed();
  }

  // A deletion that did not come to its end: every hour of its period is
  // made again from its rows, and its days from their hours.
  bool MarkPending() {
    std::string pending = summary_.Meta("pending");
    if (pending.empty()) return true;
    size_t comma = pending.find(',');
    int64_t from = 0;
    int64_t to = 0;
    if (comma == std::string::npos || !ReadNumber(pending.substr(0, comma), from) ||
        !ReadNumber(pending.substr(comma + 1), to))
      return false;
    return summary_.Run(
               "insert or ignore into dirty select hour from hours where hour >= ?1 and "
               "hour <= ?2",
               FloorDiv(from, kHourSeconds), FloorDiv(to, kHourSeconds)) &&
           summary_.Run(
               "insert or ignore into dirtydays select distinct (hour - ((hour % 24) + 24) % 24) "
               "/ 24 from dirty") &&
           summary_.SetMeta("pending", "");
  }

  bool LoadNamed() {
    named_.clear();
    sqlite3_stmt* s = summary_.Statement("select object from named");
    if (s == nullptr) return false;
    while (sqlite3_step(s) == SQLITE_ROW)
      named_.insert(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    sqlite3_reset(s);
    return true;
  }

  bool OutOfTime() const { return Clock::now() > until_; }

  // A slice that failed; the summary is left as it was.
  static Failure<StoreFault> Failed() { return {StoreFault::Failed, ""}; }

  // The rows stored since the summary's last, in slices.
  bool Fold(std::optional<int64_t> first, std::optional<int64_t> last) {
    if (!last || covered_ == *last) return true;
    sqlite3_stmt* slice = nullptr;
    if (sqlite3_prepare_v2(history_,
                           "select rowid, State is \"X\", * from HISTORY not indexed "
                           "where rowid >= ?1 and rowid <= ?2 order by rowid",
                           -1, &slice, nullptr) != SQLITE_OK)
      return false;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(slice, sqlite3_finalize);
    sqlite3_stmt* stored = summary_.Statement("select max(hour) from hours");
    if (stored == nullptr) return false;
    if (sqlite3_step(stored) == SQLITE_ROW && sqlite3_column_type(stored, 0) != SQLITE_NULL)
      lastStoredHour_ = sqlite3_column_int64(stored, 0);
    sqlite3_reset(stored);
    // A device too slow for much within kFoldTime still folds a kFoldShare-th
    // of the table a request, or its first summary would take dozens.
    uint64_t width = static_cast<uint64_t>(*last) - static_cast<uint64_t>(first.value_or(*last));
    uint64_t room = static_cast<uint64_t>(*last) - static_cast<uint64_t>(covered_);
    int64_t least = static_cast<int64_t>(static_cast<uint64_t>(covered_) +
                                         std::min<uint64_t>(width / kFoldShare, room));
    Result<bool, StoreFault> walked =
        WalkRowidSlices(history_, covered_ + 1, *last, gate_,
                        [&](int64_t from, int64_t to) -> Result<bool, StoreFault> {
                          if (OutOfTime() && covered_ >= least) return false;
                          sqlite3_bind_int64(slice, 1, from);
                          sqlite3_bind_int64(slice, 2, to);
                          std::vector<Row> rows;
                          std::vector<bool> hidden;
                          int rc;
                          while ((rc = sqlite3_step(slice)) == SQLITE_ROW) {
                            Row row;
                            if (!TakeRow(slice, row)) continue;
                            hidden.push_back(sqlite3_column_int(slice, kHidden) != 0);
                            rows.push_back(std::move(row));
                          }
                          sqlite3_reset(slice);
                          if (rc != SQLITE_DONE) return Failed();
                          for (size_t k = 0; k < rows.size(); ++k) {
                            if (!FoldRow(rows[k], hidden[k])) return Failed();
                          }
                          // The pieces held are written out now and then: a row of their
                          // hour that comes later finds its piece in the summary.
                          if (pieces_.size() > kPiecesHeld && !Flush()) return Failed();
                          covered_ = to;
                          return true;
                        });
    // Where no turn came, what is folded stays.
    if (!walked.Ok() && walked.Fault().kind != StoreFault::Busy) return false;
    if (walked.Ok() && walked.Value()) covered_ = *last;
    return Flush() && summary_.SetMeta("covered", std::to_string(covered_)) &&
           summary_.SetMeta("coveredRow", RowMark(history_, covered_));
  }

  // The pieces and hours folded so far into the summary.
  bool Flush() {
    for (auto& [key, piece] : pieces_) {
      if (dirty_.count(key.second) == 0 &&
          !summary_.StorePiece(kHourLevel, key.first, key.second, piece))
        return false;
    }
    for (auto& [hour, range] : hours_) {
      if (!StoreHourRange(hour, range.first, range.second)) return false;
      touchedDays_.insert(FloorDiv(hour, 24));
      lastStoredHour_ = std::max(lastStoredHour_, hour);
    }
    for (int64_t hour : dirty_) {
      if (!MarkDirty(hour)) return false;
    }
    pieces_.clear();
    hours_.clear();
    return true;
  }

  bool FoldRow(const Row& row, bool hidden) {
    int64_t hour = static_cast<int64_t>(std::floor(row.key / kHourSeconds));
    auto range = hours_.find(hour);
    if (range == hours_.end())
      hours_[hour] = {row.rowid, row.rowid};
    else
      range->second.second = row.rowid;
    if (hidden || dirty_.count(hour) != 0) return true;
    if (named_.count(row.name) == 0 && NamesValue(row) && !Name(row.name)) return false;
    auto key = std::make_pair(row.name, hour);
    auto found = pieces_.find(key);
    if (found == pieces_.end()) {
      SeriesPiece piece;
      // Rows come mostly in time order: a later hour than any stored has no
      // piece yet.
      if (hour > lastStoredHour_ || !summary_.LoadPiece(kHourLevel, row.name, hour, piece)) {
        piece = SeriesPiece();
        piece.textsKept = named_.count(row.name) != 0;
      }
      found = pieces_.emplace(key, piece).first;
    }
    SeriesPiece& piece = found->second;
    // A row of an earlier time than its hour's last: the hour is made again
    // from its rows in time order.
    if (piece.count > 0 && row.stamp < piece.last.time) {
      dirty_.insert(hour);
      return true;
    }
    AddRowTo(piece, row);
    return true;
  }

  // The first row of an object that names a value: its pieces so far kept
  // no texts, so their hours are made again from their rows.
  bool Name(const std::string& object) {
    named_.insert(object);
    for (auto& [key, piece] : pieces_) {
      if (key.first == object && !piece.textsKept) dirty_.insert(key.second);
    }
    return summary_.Run(
               "insert or ignore into dirty select bucket from pieces where level = 0 and "
               "object = ?1",
               object) &&
           summary_.Run("insert or ignore into named values (?1)", object);
  }

  bool StoreHourRange(int64_t hour, int64_t first, int64_t last) {
    return summary_.Run(
        "insert into hours values (?1, ?2, ?3) on conflict (hour) do update set "
        "first = min(first, excluded.first), last = max(last, excluded.last)",
        hour, first, last);
  }

  bool MarkDirty(int64_t hour) {
    return summary_.Run("insert or ignore into dirty values (?1)", hour);
  }

  // Hours marked to be made again from their rows, as long as time allows.
  bool RebuildDirty() {
    std::vector<int64_t> hours;
    sqlite3_stmt* s = summary_.Statement("select hour from dirty order by hour");
    if (s == nullptr) return false;
    while (sqlite3_step(s) == SQLITE_ROW) hours.push_back(sqlite3_column_int64(s, 0));
    sqlite3_reset(s);
    for (int64_t hour : hours) {
      if (OutOfTime()) {
        moreDirty_ = true;
        return true;
      }
      if (!RebuildHour(hour)) return false;
    }
    return true;
  }

  bool RebuildHour(int64_t hour) {
    std::vector<Row> rows;
    if (!ReadHourRows(hour, hour * kHourSeconds, (hour + 1) * kHourSeconds, false, {}, rows))
      return false;
    if (!summary_.Run("delete from pieces where level = 0 and bucket = ?1", hour)) return false;
    std::map<std::string, SeriesPiece> pieces;
    for (const Row& row : rows) {
      auto found = pieces.find(row.name);
      if (found == pieces.end()) {
        SeriesPiece piece;
        piece.textsKept = named_.count(row.name) != 0;
        found = pieces.emplace(row.name, piece).first;
      }
      AddRowTo(found->second, row);
    }
    for (auto& [object, piece] : pieces) {
      if (!summary_.StorePiece(kHourLevel, object, hour, piece)) return false;
    }
    touchedDays_.insert(FloorDiv(hour, 24));
    return summary_.Run("delete from dirty where hour = ?1", hour);
  }

 public:
  // The shown rows of `hour` with time stamps from `from` up to `to`
  // (included where `toIncluded`), of `names` or every object, in time order,
  // read over the rowids the summary knows for the hour (none where it knows
  // none).
  bool ReadHourRows(int64_t hour, int64_t from, int64_t to, bool toIncluded,
                    const std::vector<std::string>& names, std::vector<Row>& rows) {
    std::optional<std::pair<int64_t, int64_t>> range;
    if (!summary_.HourRange(hour, range)) return false;
    if (!range) return true;
    std::string sql =
        "select rowid, 0, * from HISTORY not indexed where rowid >= ?1 and "
        "rowid <= ?2 and TimeStamp >= ?3 and TimeStamp " +
        std::string(toIncluded ? "<=" : "<") + " ?4" + std::string(kShownRowsCondition);
    if (!names.empty()) {
      sql += " and ObjName in (";
      for (size_t k = 0; k < names.size(); ++k)
        sql += (k > 0 ? ",'" : "'") + SqlQuoted(names[k]) + "'";
      sql += ")";
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(history_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return false;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(s, sqlite3_finalize);
    sqlite3_bind_int64(s, 3, from);
    sqlite3_bind_int64(s, 4, to);
    // In slices: a row stored late in an hour of long ago spreads the hour's
    // rowids over much of the table.
    Result<bool, StoreFault> walked =
        WalkRowidSlices(history_, range->first, range->second, gate_,
                        [&](int64_t begin, int64_t end) -> Result<bool, StoreFault> {
                          sqlite3_bind_int64(s, 1, begin);
                          sqlite3_bind_int64(s, 2, end);
                          int rc;
                          while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
                            Row row;
                            if (TakeRow(s, row)) rows.push_back(std::move(row));
                          }
                          sqlite3_reset(s);
                          if (rc != SQLITE_DONE) return Failed();
                          return true;
                        });
    if (!walked.Ok()) return false;
    std::sort(rows.begin(), rows.end(), Earlier);
    return true;
  }

 private:
  // The day pieces of the days whose hours changed: the merge of their hour
  // pieces, per object.
  bool MakeDays() {
    sqlite3_stmt* pending = summary_.Statement("select day from dirtydays");
    if (pending == nullptr) return false;
    while (sqlite3_step(pending) == SQLITE_ROW)
      touchedDays_.insert(sqlite3_column_int64(pending, 0));
    sqlite3_reset(pending);
    for (int64_t day : touchedDays_) {
      if (!summary_.Run("delete from pieces where level = 1 and bucket = ?1", day)) return false;
      // A day with an hour still to be made again has no piece.
      sqlite3_stmt* dirty =
          summary_.Statement("select count(*) from dirty where hour >= ?1 and hour < ?2");
      if (dirty == nullptr) return false;
      sqlite3_bind_int64(dirty, 1, day * 24);
      sqlite3_bind_int64(dirty, 2, day * 24 + 24);
      bool clean = sqlite3_step(dirty) == SQLITE_ROW && sqlite3_column_int64(dirty, 0) == 0;
      sqlite3_reset(dirty);
      if (!summary_.Run(clean ? "delete from dirtydays where day = ?1"
                              : "insert or ignore into dirtydays values (?1)",
                        day))
        return false;
      if (!clean) {
        moreDirty_ = true;
        continue;
      }
      std::map<std::string, SeriesPiece> days;
      sqlite3_stmt* hours = summary_.Statement(
          "select object, bucket, piece from pieces where level = 0 and bucket >= ?1 and "
          "bucket < ?2 order by bucket");
      if (hours == nullptr) return false;
      sqlite3_bind_int64(hours, 1, day * 24);
      sqlite3_bind_int64(hours, 2, day * 24 + 24);
      bool ok = true;
      while (sqlite3_step(hours) == SQLITE_ROW) {
        std::string object = reinterpret_cast<const char*>(sqlite3_column_text(hours, 0));
        SeriesPiece piece;
        if (!summary_.Decode(sqlite3_column_blob(hours, 2), sqlite3_column_bytes(hours, 2),
                             sqlite3_column_int64(hours, 1) * kHourSeconds, piece)) {
          ok = false;
          break;
        }
        auto found = days.find(object);
        if (found == days.end()) {
          SeriesPiece empty;
          empty.textsKept = piece.textsKept;
          found = days.emplace(object, empty).first;
        }
        found->second.Merge(piece);
      }
      sqlite3_reset(hours);
      if (!ok) return false;
      for (auto& [object, piece] : days) {
        if (!summary_.StorePiece(kDayLevel, object, day, piece)) return false;
      }
    }
    return true;
  }

  Summary& summary_;
  sqlite3* history_;
  SliceGate gate_;
  Clock::time_point until_;
  int64_t covered_ = 0;
  std::set<std::string> named_;
  // Folded, not yet in the summary.
  std::map<std::pair<std::string, int64_t>, SeriesPiece> pieces_;
  std::map<int64_t, std::pair<int64_t, int64_t>> hours_;
  std::set<int64_t> dirty_;
  std::set<int64_t> touchedDays_;
  // Pieces of the hour level are stored of no later hour than this.
  int64_t lastStoredHour_ = std::numeric_limits<int64_t>::min();
  bool moreDirty_ = false;
};

// The pieces of `object` at `level` from bucket `from` up to `to` (not
// included), in order, into `series`.
bool AddPieces(Summary& summary, int level, const std::string& object, int64_t from, int64_t to,
               ChartSeries& series) {
  if (from >= to) return true;
  sqlite3_stmt* s = summary.Statement(
      "select bucket, piece from pieces where level = ?1 and object = ?2 and bucket >= ?3 and "
      "bucket < ?4 order by bucket");
  if (s == nullptr) return false;
  sqlite3_bind_int(s, 1, level);
  sqlite3_bind_text(s, 2, object.data(), static_cast<int>(object.size()), SQLITE_STATIC);
  sqlite3_bind_int64(s, 3, from);
  sqlite3_bind_int64(s, 4, to);
  bool ok = true;
  while (ok && sqlite3_step(s) == SQLITE_ROW) {
    SeriesPiece piece;
    ok = summary.Decode(sqlite3_column_blob(s, 1), sqlite3_column_bytes(s, 1),
                        Summary::BucketStart(level, sqlite3_column_int64(s, 0)), piece);
    if (ok) series.Add(piece);
  }
  sqlite3_reset(s);
  return ok;
}

// The chart from the summary, under its lock; `damaged` where the summary
// file was found damaged before a series got anything.
Result<bool, StoreFault> AnswerFromSummary(sqlite3* history, const SummaryChart& chart,
                                           const std::vector<ChartSeries*>& series, SliceGate gate,
                                           bool& damaged) {
  int64_t hourFirst = CeilDiv(chart.from, kHourSeconds);
  int64_t hourEnd = FloorDiv(chart.to, kHourSeconds);
  Summary summary;
  if (!summary.Open()) return false;
  Update update(summary, history, gate);
  bool current = TRY(update.Run());
  if (!current) {
    damaged = summary.Damaged();
    return false;
  }

  bool byDays = chart.columnSeconds % kDaySeconds == 0;
  int64_t dayFirst = byDays ? CeilDiv(hourFirst, 24) : 0;
  int64_t dayEnd = byDays ? FloorDiv(hourEnd, 24) : 0;
  if (dayFirst >= dayEnd) byDays = false;

  // The rows of the hours the window covers only in part.
  std::vector<Row> head;
  std::vector<Row> tail;
  if (chart.from < hourFirst * kHourSeconds &&
      !update.ReadHourRows(FloorDiv(chart.from, kHourSeconds), chart.from, hourFirst * kHourSeconds,
                           false, chart.names, head))
    return false;
  if (!update.ReadHourRows(hourEnd, hourEnd * kHourSeconds, chart.to, true, chart.names, tail))
    return false;

  for (size_t k = 0; k < chart.names.size(); ++k) {
    const std::string& name = chart.names[k];
    ChartSeries& into = *series[k];
    for (const Row& row : head) {
      if (row.name == name) AddRowTo(into, row);
    }
    bool ok = byDays ? AddPieces(summary, kHourLevel, name, hourFirst, dayFirst * 24, into) &&
                           AddPieces(summary, kDayLevel, name, dayFirst, dayEnd, into) &&
                           AddPieces(summary, kHourLevel, name, dayEnd * 24, hourEnd, into)
                     : AddPieces(summary, kHourLevel, name, hourFirst, hourEnd, into);
    if (!ok) {
      // Some series hold pieces already: the rows answer this time.
      if (summary.Damaged()) ChangeOfHistory::Discard();
      return false;
    }
    for (const Row& row : tail) {
      if (row.name == name) AddRowTo(into, row);
    }
  }
  return true;
}

}  // namespace

Result<bool, StoreFault> ChartFromSummary(const std::string& storePath, const SummaryChart& chart,
                                          const std::vector<ChartSeries*>& series,
                                          ConnectionSetup setup, SliceGate gate) {
  // Whole hours in the window; at least one, or the rows answer. The hour
  // that holds the window's end is read from its rows also where it ends
  // with the window: a time stamp with a fraction of a second beyond the end
  // is not the window's.
  if (CeilDiv(chart.from, kHourSeconds) >= FloorDiv(chart.to, kHourSeconds) ||
      chart.columnSeconds % kHourSeconds != 0)
    return false;
  // Only the one request that writes the summary at a time, and none while
  // this program changes the history.
  if (!Lock(F_WRLCK, false)) return false;
  struct Unlock {
    ~Unlock() { Lock(F_UNLCK, false); }
  } unlock;
  sqlite3* history = TRY(OpenHistoryStore(storePath, MissingStore::OnlyAbsent, setup));
  struct Close {
    ~Close() { CloseHistoryStore(); }
  } close;
  // A damaged summary is made anew at once.
  bool damaged = false;
  Result<bool, StoreFault> answer = AnswerFromSummary(history, chart, series, gate, damaged);
  if (!damaged) return answer;
  ChangeOfHistory::Discard();
  damaged = false;
  return AnswerFromSummary(history, chart, series, gate, damaged);
}

ChangeOfHistory::ChangeOfHistory() {
  lock_ = Lock(F_RDLCK, true) ? 1 : -1;
}

ChangeOfHistory::~ChangeOfHistory() {
  if (lock_ >= 0) Lock(F_UNLCK, false);
}

void ChangeOfHistory::Deleted(int32_t from, int32_t to, const std::vector<std::string>& names) {
  Summary summary;
  if (!summary.Open() || !summary.Exec("begin immediate")) {
    Discard();
    return;
  }
  bool ok = true;
  // The whole hours inside the period lost every row of the objects: their
  // pieces go. The hours at its ends (the one holding its end always: a
  // stamp with a fraction beyond it stays) are made again from their rows,
  // and so are the days of the period from their hours.
  int64_t hourFirst = CeilDiv(from, kHourSeconds);
  int64_t hourEnd = FloorDiv(to, kHourSeconds);
  if (names.empty())
    ok = summary.Run("delete from pieces where level = 0 and bucket >= ?1 and bucket < ?2",
                     hourFirst, hourEnd);
  for (const std::string& name : names)
    ok = ok && summary.Run(
                   "delete from pieces where level = 0 and bucket >= ?1 and bucket < ?2 and "
                   "object = ?3",
                   hourFirst, hourEnd, name);
  ok = ok && summary.Run("insert or ignore into dirty values (?1)", FloorDiv(from, kHourSeconds)) &&
       summary.Run("insert or ignore into dirty values (?1)", hourEnd);
  for (int64_t day = FloorDiv(from, kDaySeconds); day <= FloorDiv(to, kDaySeconds) && ok; ++day)
    ok = summary.Run("insert or ignore into dirtydays values (?1)", day);
  ok = ok && summary.SetMeta("pending", "") && summary.Exec("commit");
  if (!ok) {
    summary.Exec("rollback");
    Discard();
  }
}

void ChangeOfHistory::Deleting(int32_t from, int32_t to) {
  Summary summary;
  if (!summary.Open() ||
      !summary.SetMeta("pending", std::to_string(from) + "," + std::to_string(to)))
    Discard();
}

void ChangeOfHistory::Discard() {
  std::remove(kSummaryFile);
  std::remove((std::string(kSummaryFile) + "-journal").c_str());
}
