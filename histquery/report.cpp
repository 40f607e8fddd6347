#include "histquery/report.h"

#include <sqlite3.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "common/datetime.h"
#include "common/textops.h"
#include "histquery/page.h"
#include "histquery/pagetexts.h"
#include "histquery/readslots.h"
#include "histquery/sqllimits.h"

namespace {

// Appends `format` up to its next "%s", or all of it, and returns what
// follows. The row formats of pagetexts.h hold "%s" and no other conversion.
const char* AppendUpToSlot(std::string& out, const char* format) {
  // A plain scan: the formats are a few bytes long, too short for strstr
  // to pay off once per cell.
  const char* at = format;
  while (*at != '\0' && !(at[0] == '%' && at[1] == 's')) ++at;
  out.append(format, static_cast<size_t>(at - format));
  return *at == '\0' ? at : at + 2;
}

// A null cell (or a column the row lacks) shows as empty text.
void AppendCell(std::string& out, const char* text) {
  if (text != nullptr) AppendHtmlEscaped(out, text);
}

// A free SQL text may select cells of a megabyte each: such a cell goes out
// in pieces and never stands whole in memory, nor does a row of many cells.
constexpr size_t kCellInPieces = 4 * 1024;
constexpr size_t kLineInPieces = 64 * 1024;

void PutLine(FILE* out, std::string& line) {
  std::fwrite(line.data(), 1, line.size(), out);
  line.clear();
}

// `format` with `text` (`length` bytes at most) HTML-escaped in its one
// "%s", appended to the row's line.
void AppendTableCell(FILE* out, std::string& line, const char* format, const char* text,
                     size_t length) {
  const char* rest = AppendUpToSlot(line, format);
  if (text != nullptr && length > kCellInPieces) {
    PutLine(out, line);
    PutHtmlEscaped(out, text);
  } else {
    AppendCell(line, text);
  }
  line += rest;
  if (line.size() > kLineInPieces) PutLine(out, line);
}

// Whether the first column of a free text's row is a date and time: the
// history's TimeStamp column, or whole seconds of a plausible date (2000 to
// 2038 in the history's count). A name, a count or a mean is shown as it is.
bool FirstColumnIsTime(const HistoryRow& row) {
  constexpr long long kPlausibleFrom = 946684800;  // 2000-01-01
  constexpr long long kPlausibleTo = 2147483647;   // where the 32-bit count ends
  if (row.names[0] != nullptr && strcasecmp(row.names[0], "TimeStamp") == 0) return true;
  if (!row.stampInteger || row.texts[0] == nullptr) return false;
  long long seconds = std::strtoll(row.texts[0], nullptr, 10);
  return seconds >= kPlausibleFrom && seconds <= kPlausibleTo;
}

// A table row of a free SQL text, built in the line and written in one
// piece, but for large cells and rows (AppendTableCell).
void PutTableRow(ReportPage& page, const char* time, const HistoryRow& row) {
  FILE* out = page.out;
  std::string& line = page.line;
  line.clear();
  if (page.rowCount == 1) {
    line += kTableStart;
    for (int i = 0; i < row.columnCount; ++i)
      AppendTableCell(out, line, kTableHeadCellFormat, row.names[i],
                      row.names[i] != nullptr ? std::strlen(row.names[i]) : 0);
    line += kTableHeadEnd;
  }
  if (FirstColumnIsTime(row))
    AppendTableCell(out, line, kTableRowStartFormat, time, kTimestampTextSize);
  else
    AppendTableCell(out, line, kTableRowStartFormat, row.texts[0], row.lengths[0]);
  for (int i = 1; i < row.columnCount; ++i)
    AppendTableCell(out, line, kTableCellFormat, row.texts[i], row.lengths[i]);
  line += kTableRowEnd;
  PutLine(out, line);
}

}  // namespace

void PrintRow(void* context, const HistoryRow& row) {
  ReportPage& page = *static_cast<ReportPage*>(context);
  ++page.rowCount;
  char time[kTimestampTextSize];
  FormatTimestampInto(time, row.stamp, TimestampForm::Report);
  if (page.sqlMode) {
    PutTableRow(page, time, row);
    return;
  }
  std::string& line = page.line;
  line.clear();
  const char* rest = AppendUpToSlot(line, kReportLineFormat);
  line += time;
  for (int column : {1, 4, 5}) {
    rest = AppendUpToSlot(line, rest);
    AppendCell(line, row.Text(column));
  }
  line += rest;
  std::fwrite(line.data(), 1, line.size(), page.out);
}

namespace {

// A free text's rows, kept in memory up to the page's bound: a row that
// would go beyond it stops the statement, and the page ends with the rows
// before it.
struct FreeTextPage {
  ReportPage* page = nullptr;
  StatementGuard* guard = nullptr;
  std::string kept;
  size_t rowsEnd = 0;  // the end of the last whole row in `kept`
  int32_t rows = 0;    // whole rows kept
  bool tooLarge = false;
};

ssize_t KeepPageBytes(void* cookie, const char* bytes, size_t size) {
  FreeTextPage& text = *static_cast<FreeTextPage*>(cookie);
  if (text.tooLarge ||
      text.kept.size() + size > static_cast<size_t>(text.guard->limits.pageLimit)) {
    if (!text.tooLarge) sqlite3_interrupt(text.guard->connection);
    text.tooLarge = true;
    return 0;  // the stream's error: nothing more is kept
  }
  text.kept.append(bytes, size);
  return static_cast<ssize_t>(size);
}

void PrintFreeTextRow(void* context, const HistoryRow& row) {
  FreeTextPage& text = *static_cast<FreeTextPage*>(context);
  if (text.tooLarge) return;
  PrintRow(text.page, row);
  std::fflush(text.page->out);
  if (text.tooLarge) return;
  text.rowsEnd = text.kept.size();
  text.rows = text.page->rowCount;
}

}  // namespace

ReportEnd RunFreeText(const std::string& storePath, const std::string& sql,
                      const StatementLimits& limits, const std::string& lastWords,
                      void (*beforeWrite)(), ReportPage& page, std::string& message) {
  ReportEnd end;
  // The head is out before the store is touched: should the run have to
  // stop itself, only its last words follow.
  std::fflush(page.out);
  if (!TakeReadSlot()) {
    end.fault = StoreFault::Busy;
    return end;
  }
  StatementGuard guard;
  guard.limits = limits;
  guard.freeText = true;
  guard.storePath = storePath;
  guard.lastWords = lastWords;
  guard.beforeWrite = beforeWrite;
  FreeTextPage text;
  text.page = &page;
  text.guard = &guard;
  FILE* client = page.out;
  page.out = fopencookie(&text, "w", {nullptr, KeepPageBytes, nullptr, nullptr});
  Result<Done, StoreFault> run =
      page.out == nullptr
          ? Result<Done, StoreFault>(Failure<StoreFault>{StoreFault::Failed, "out of memory"})
          : RunHistoryStatement(storePath, sql, MissingStore::OnlyAbsent, {PrintFreeTextRow, &text},
                                {SetUpConnection, &guard});
  DisarmWallDeadline();
  GiveReadSlot();
  if (page.out != nullptr) std::fclose(page.out);
  page.out = client;
  message = run.Message();
  if (text.tooLarge) {
    end.sqlStop = SqlStop::PageTooLarge;
    text.kept.resize(text.rowsEnd);
    page.rowCount = text.rows;
  } else if (!run.Ok()) {
    end.fault = run.Fault().kind;
    if (DeadlinePassed())
      end.sqlStop = SqlStop::TooLong;
    else if (TempStorageExceeded())
      end.sqlStop = SqlStop::TempStorage;
    else if (message.find("out of memory") != std::string::npos)
      end.sqlStop = SqlStop::Memory;
  }
  std::fwrite(text.kept.data(), 1, text.kept.size(), client);
  end.rowCount = page.rowCount;
  constexpr int64_t kMegabyte = 1024 * 1024;
  if (end.sqlStop == SqlStop::TooLong) end.stopBound = limits.deadlineMs;
  if (end.sqlStop == SqlStop::PageTooLarge) end.stopBound = limits.pageLimit / kMegabyte;
  if (end.sqlStop == SqlStop::TempStorage) end.stopBound = limits.tempLimit / kMegabyte;
  if (end.sqlStop == SqlStop::Memory) end.stopBound = limits.heapLimit / kMegabyte;
  return end;
}

namespace {

// The rows of a page, kept until it is known whether another page follows:
// the first row beyond is the next page's place.
struct PageRows {
  ReportPage* page = nullptr;
  int32_t shown = 0;
  int64_t hidden = 0;
  std::optional<HistoryPlace> next;
  // The shown rows of each chosen object (as compared) on the page.
  std::vector<std::pair<std::string, int64_t>> objects;
};

void CountObjectRow(PageRows& rows, const HistoryRow& row) {
  const char* name = row.Text(1);
  if (name == nullptr) return;
  for (auto& [compared, count] : rows.objects) {
    if (compared.size() == row.Length(1) && std::memcmp(compared.data(), name, row.Length(1)) == 0)
      ++count;
  }
}

void KeepPageRow(void* context, const HistoryRow& row) {
  PageRows& rows = *static_cast<PageRows*>(context);
  if (rows.next) return;
  // Hidden rows up to the next page's first row count for this page.
  if (row.hidden) {
    ++rows.hidden;
    return;
  }
  if (static_cast<size_t>(rows.shown) == kPageRows || std::ftell(rows.page->out) > kPageBytes) {
    rows.next = HistoryPlace{row.time, row.rowid};
    return;
  }
  PrintRow(rows.page, row);
  ++rows.shown;
  CountObjectRow(rows, row);
}

// The rows before a page, read backwards: the place of the page before.
struct RowsBefore {
  int32_t shown = 0;
  int64_t hidden = 0;
  HistoryPlace first;
};

void CountRowBefore(void* context, const HistoryRow& row) {
  RowsBefore& before = *static_cast<RowsBefore*>(context);
  if (row.hidden) {
    ++before.hidden;
    return;
  }
  ++before.shown;
  before.first = HistoryPlace{row.time, row.rowid};
}

std::string PageQuery(const std::string& selection, const PageStart& start) {
  if (!start.place) return selection;
  return selection + "&PAGE=" + Formatted("%.17g", start.place->time) + "," +
         std::to_string(start.place->rowid) + "&SHOWN=" + std::to_string(start.shown) +
         "&HIDDEN=" + std::to_string(start.hidden);
}

}  // namespace

ReportEnd RunReportPage(const std::string& storePath, HistoryRead read, const PageStart& start,
                        const PageRequests& requests, const StatementLimits& limits,
                        ReportPage& page, std::string& message) {
  const std::string& selection = requests.report;
  StatementGuard guard;
  guard.limits = limits;
  read.at = start.place;
  read.limit = kPageRows + 1;
  read.withHidden = true;
  char* kept = nullptr;
  size_t keptSize = 0;
  FILE* client = page.out;
  page.out = open_memstream(&kept, &keptSize);
  PageRows rows;
  rows.page = &page;
  for (const std::string& name : read.names) rows.objects.push_back({name, 0});
  Result<Done, StoreFault> run =
      page.out == nullptr
          ? Result<Done, StoreFault>(Failure<StoreFault>{StoreFault::Failed, "out of memory"})
          : ReadHistory(storePath, read, {KeepPageRow, &rows}, {SetUpConnection, &guard},
                        ReadSlotGate());
  ReportEnd end;
  bool paged = run.Ok() && (start.place || rows.next);
  if (paged) {
    PageLinks links;
    links.first = start.shown + 1;
    links.last = start.shown + rows.shown;
    links.lastPage = !rows.next;
    links.views = requests.views;
    if (rows.next)
      links.next = PageQuery(selection, {rows.next, links.last, start.hidden + rows.hidden});
    if (start.place && start.shown > 0) {
      HistoryRead back = read;
      back.backwards = true;
      back.limit = kPageRows;
      RowsBefore before;
      run = ReadHistory(storePath, back, {CountRowBefore, &before}, {SetUpConnection, &guard},
                        ReadSlotGate());
      bool first = before.shown == 0 || start.shown <= before.shown;
      links.previous =
          first ? selection
                : PageQuery(selection, {before.first, start.shown - before.shown,
                                        std::max<int64_t>(start.hidden - before.hidden, 0)});
    }
    end.pages = links;
  }
  if (page.out != nullptr) std::fclose(page.out);
  page.out = client;
  if (end.pages) PrintPageLinks(client, *end.pages);
  std::fwrite(kept, 1, keptSize, client);
  std::free(kept);
  if (end.pages) PrintPageLinks(client, *end.pages);
  message = run.Message();
  if (!run.Ok()) end.fault = run.Fault().kind;
  end.rowCount = rows.shown;
  // The rows the period hides are all known on its last page; which objects
  // have none where the period has one page.
  if (!rows.next) end.hiddenRows = start.hidden + rows.hidden;
  if (run.Ok() && !end.pages) {
    for (const auto& [name, count] : rows.objects) {
      if (count == 0) end.emptyObjects.push_back(name);
    }
  }
  return end;
}
