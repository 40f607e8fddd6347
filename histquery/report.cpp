#include "histquery/report.h"

#include <cstring>

#include "common/datetime.h"
#include "histquery/page.h"
#include "histquery/pagetexts.h"
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
  AppendTableCell(out, line, kTableRowStartFormat, time, kTimestampTextSize);
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

Result<Done, StoreFault> RunReportStatement(const std::string& storePath, const std::string& sql,
                                            const StatementLimits& limits, ReportPage& page) {
  StatementGuard guard;
  guard.limits = limits;
  guard.freeText = page.sqlMode;
  return RunHistoryStatement(storePath, sql, MissingStore::OnlyAbsent, {PrintRow, &page},
                             {SetUpConnection, &guard});
}

Result<Done, StoreFault> ReadReportRows(const std::string& storePath, const HistoryRead& read,
                                        const StatementLimits& limits, ReportPage& page) {
  StatementGuard guard;
  guard.limits = limits;
  return ReadHistory(storePath, read, {PrintRow, &page}, {SetUpConnection, &guard});
}
