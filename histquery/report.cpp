#include "histquery/report.h"

#include <cstdlib>
#include <cstring>

#include "common/datetime.h"
#include "common/historystore.h"
#include "histquery/page.h"
#include "histquery/pagetexts.h"
#include "histquery/sqllimits.h"

ReportState Report;

namespace {

// The line of the object report's row being printed. It lives as long as the
// run, so its room is allocated for the first rows and reused by all others,
// and each row goes to the stream in one write.
std::string Line;

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
void AppendCell(std::string& out, int columnCount, char** values, int column) {
  if (column >= columnCount || values[column] == nullptr) return;
  AppendHtmlEscaped(out, values[column]);
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
void PutTableRow(FILE* out, const ReportState& state, const char* time, int columnCount,
                 char** values, char** names) {
  if (state.rowCount == 1) {
    std::fputs(kTableStart, out);
    for (int i = 0; i < columnCount; ++i) PutFormatted(out, kTableHeadCellFormat, names[i]);
    std::fputs(kTableHeadEnd, out);
  }
  PutFormatted(out, kTableRowStartFormat, time);
  for (int i = 1; i < columnCount; ++i) PutFormatted(out, kTableCellFormat, values[i]);
  std::fputs(kTableRowEnd, out);
}

}  // namespace

int ReportRow(void*, int columnCount, char** values, char** names) {
  PrintRow(stdout, Report, columnCount, values, names);
  return 0;
}

void PrintRow(FILE* out, ReportState& state, int columnCount, char** values, char** names) {
  if (columnCount < 1 || values[0] == nullptr || std::strcmp(values[0], "NULL") == 0) return;
  ++state.rowCount;
  // Kept for compatibility: column 1 read as a stamp whatever it holds; SQL-mode pages rely on it.
  int32_t stamp = static_cast<int32_t>(std::strtol(values[0], nullptr, 10));
  char time[kTimestampTextSize];
  FormatTimestampInto(time, stamp, TimestampForm::Report);
  if (state.sqlMode) {
    PutTableRow(out, state, time, columnCount, values, names);
    return;
  }
  Line.clear();
  const char* rest = AppendUpToSlot(Line, kReportLineFormat);
  Line += time;
  for (int column : {1, 4, 5}) {
    rest = AppendUpToSlot(Line, rest);
    AppendCell(Line, columnCount, values, column);
  }
  Line += rest;
  std::fwrite(Line.data(), 1, Line.size(), out);
}

RunOutcome RunReportStatement(const std::string& storePath, const std::string& sql,
                              StatementGuard& guard) {
  StoreOutcome outcome =
      RunLimitedHistoryStatement(storePath, sql, ReportRow, SetUpConnection, &guard);
  switch (outcome) {
    case StoreOutcome::Ran:
      return RunOutcome::Ran;
    case StoreOutcome::Missing:
      return RunOutcome::Missing;
    case StoreOutcome::OpenFailed:
      return RunOutcome::OpenFailed;
    case StoreOutcome::Failed:
      return RunOutcome::Failed;
  }
  return RunOutcome::Failed;
}
