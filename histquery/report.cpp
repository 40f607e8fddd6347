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
void PutTableRow(FILE* out, ReportState& state, const char* time, const HistoryRow& row) {
  std::string& line = state.line;
  line.clear();
  if (state.rowCount == 1) {
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

void ReportRow(void* context, const HistoryRow& row) {
  PrintRow(stdout, *static_cast<ReportState*>(context), row);
}

void PrintRow(FILE* out, ReportState& state, const HistoryRow& row) {
  ++state.rowCount;
  char time[kTimestampTextSize];
  FormatTimestampInto(time, row.stamp, TimestampForm::Report);
  if (state.request.mode == ReportMode::Sql) {
    PutTableRow(out, state, time, row);
    return;
  }
  std::string& line = state.line;
  line.clear();
  const char* rest = AppendUpToSlot(line, kReportLineFormat);
  line += time;
  for (int column : {1, 4, 5}) {
    rest = AppendUpToSlot(line, rest);
    AppendCell(line, row.Text(column));
  }
  line += rest;
  std::fwrite(line.data(), 1, line.size(), out);
}

Result<RunOutcome> PageOutcome(const Result<StoreOutcome>& run) {
  switch (run.code) {
    case StoreOutcome::Ran:
      return {RunOutcome::Ran, run.message};
    case StoreOutcome::Missing:
      return {RunOutcome::Missing, run.message};
    case StoreOutcome::OpenFailed:
      return {RunOutcome::OpenFailed, run.message};
    case StoreOutcome::Failed:
      return {RunOutcome::Failed, run.message};
  }
  return {RunOutcome::Failed, run.message};
}

Result<RunOutcome> RunReportStatement(const std::string& storePath, const std::string& sql,
                                      const StatementLimits& limits, ReportState& state) {
  StatementGuard guard;
  guard.limits = limits;
  guard.freeText = state.request.mode == ReportMode::Sql;
  Result<StoreOutcome> run = RunHistoryStatement(storePath, sql, MissingStore::OnlyAbsent,
                                                 {ReportRow, &state}, {SetUpConnection, &guard});
  return PageOutcome(run);
}
