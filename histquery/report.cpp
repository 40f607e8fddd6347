#include "histquery/report.h"

#include <cstdlib>
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

// `format` with `text` HTML-escaped in its one "%s", written in pieces.
void PutFormatted(FILE* out, const char* format, const char* text) {
  const char* slot = std::strstr(format, "%s");
  std::fwrite(format, 1, static_cast<size_t>(slot - format), out);
  if (text != nullptr) PutHtmlEscaped(out, text);
  std::fputs(slot + 2, out);
}

// A table row of a free SQL text: whatever it selects (columns of a megabyte
// each), the cells go out in pieces and never stand whole in memory.
void PutTableRow(FILE* out, const ReportState& state, const char* time, const HistoryRow& row) {
  if (state.rowCount == 1) {
    std::fputs(kTableStart, out);
    for (int i = 0; i < row.columnCount; ++i) PutFormatted(out, kTableHeadCellFormat, row.names[i]);
    std::fputs(kTableHeadEnd, out);
  }
  PutFormatted(out, kTableRowStartFormat, time);
  for (int i = 1; i < row.columnCount; ++i) PutFormatted(out, kTableCellFormat, row.texts[i]);
  std::fputs(kTableRowEnd, out);
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

Result<RunOutcome> RunReportStatement(const std::string& storePath, const std::string& sql,
                                      const StatementLimits& limits, ReportState& state) {
  StatementGuard guard;
  guard.limits = limits;
  guard.freeText = state.request.mode == ReportMode::Sql;
  Result<StoreOutcome> run = RunHistoryStatement(storePath, sql, MissingStore::OnlyAbsent,
                                                 {ReportRow, &state}, {SetUpConnection, &guard});
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
