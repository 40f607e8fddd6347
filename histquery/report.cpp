#include "histquery/report.h"

#include <cstdlib>
#include <cstring>

#include "common/datetime.h"
#include "common/historystore.h"
#include "histquery/page.h"
#include "histquery/pagetexts.h"

ReportState Report;

namespace {

// A null cell (or a column the row lacks) shows as empty text.
std::string Cell(int columnCount, char** values, int column) {
  if (column >= columnCount || values[column] == nullptr) return "";
  return HtmlEscaped(values[column]);
}

}  // namespace

int ReportRow(void*, int columnCount, char** values, char** names) {
  PrintRow(stdout, Report, columnCount, values, names);
  return 0;
}

void PrintRow(FILE* out, ReportState& state, int columnCount, char** values, char** names) {
  if (columnCount < 1 || values[0] == nullptr || std::strcmp(values[0], "NULL") == 0) return;
  ++state.rowCount;
  // The first column is read as a time stamp whatever it holds, as atoi reads it.
  int32_t stamp = static_cast<int32_t>(std::strtol(values[0], nullptr, 10));
  std::string time = FormatTimestamp(stamp, TimestampForm::Report);
  if (state.sqlMode) {
    if (state.rowCount == 1) {
      std::fputs(kTableStart, out);
      for (int i = 0; i < columnCount; ++i) {
        std::fprintf(out, kTableHeadCellFormat, HtmlEscaped(names[i] ? names[i] : "").c_str());
      }
      std::fputs(kTableHeadEnd, out);
    }
    std::fprintf(out, kTableRowStartFormat, time.c_str());
    for (int i = 1; i < columnCount; ++i) {
      std::fprintf(out, kTableCellFormat, Cell(columnCount, values, i).c_str());
    }
    std::fputs(kTableRowEnd, out);
    return;
  }
  std::fprintf(out, kReportLineFormat, time.c_str(), Cell(columnCount, values, 1).c_str(),
               Cell(columnCount, values, 4).c_str(), Cell(columnCount, values, 5).c_str());
}

RunOutcome RunReportStatement(const std::string& storePath, const std::string& sql) {
  switch (RunHistoryStatement(storePath, sql, ReportRow)) {
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
