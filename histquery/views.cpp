#include "histquery/views.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/historystatement.h"
#include "common/historystore.h"
#include "common/textops.h"
#include "histquery/chartseries.h"
#include "histquery/page.h"
#include "histquery/request.h"
#include "histquery/selection.h"
#include "histquery/statement.h"
#include "histquery/viewtext.h"
#include "histquery/viewtexts.h"
#include "histquery/viewwriter.h"

namespace {

// The report's rows of the period and objects, the objects as one "in"
// list, which a scan of a bare history tests in one lookup where the report's
// chain of "or" compares every name; `ordered` in time order.
std::string ViewStatement(const PeriodStamps& stamps, const std::vector<std::string>& names,
                          bool ordered) {
  std::string sql = "select * from HISTORY where " + PeriodCondition(stamps.from, stamps.to) +
                    kShownRowsCondition + " and ObjName in (";
  for (size_t k = 0; k < names.size(); ++k) sql += (k > 0 ? ",'" : "'") + SqlQuoted(names[k]) + "'";
  return sql + (ordered ? ") order by TimeStamp" : ")");
}

// Why a view shows nothing, in the view's own form: a tool reads the status,
// a person the text.
void PrintRefusal(FILE* out, View view, const char* status, const char* message) {
  switch (view) {
    case View::Json:
      std::fprintf(out, kJsonErrorHeadFormat, status);
      WriteJsonError(out, message);
      return;
    case View::Csv:
      std::fprintf(out, kTextErrorHeadFormat, status);
      WriteUtf8(out, message, std::strlen(message));
      std::fputc('\n', out);
      return;
    default:
      std::fprintf(out, kChartRefusalFormat, status, HtmlEscaped(message).c_str());
      return;
  }
}

bool SameText(const std::string& name, const char* text, size_t length) {
  return text != nullptr && name.size() == length && std::memcmp(name.data(), text, length) == 0;
}

// A view's connection: the statement's guard, and the handle kept for
// stopping a run early.
struct ViewConnection {
  StatementGuard guard;
  sqlite3* handle = nullptr;
};

// SQLite's sort of an ordered view keeps up to the page cache's size in
// memory before it spills to temporary files; 2 MiB by default, which a view
// reaches between a million and ten million rows. A view reads every page
// once, so a smaller cache costs it nothing and keeps its memory the same
// for any history.
constexpr const char kViewCacheSize[] = "pragma cache_size = -512";

bool SetUpViewConnection(sqlite3* connection, void* context) {
  ViewConnection& view = *static_cast<ViewConnection*>(context);
  view.handle = connection;
  return SetUpConnection(connection, &view.guard) &&
         sqlite3_exec(connection, kViewCacheSize, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The chart data being made: one series per chosen object, in the order of
// the selection.
//
// A series needs its rows in time order, but an "order by" makes SQLite sort
// every row of the period first (spilling to temporary files), which on a
// bare history costs more than the scan itself. The recorder appends its
// rows in time order, and an index on (ObjName, TimeStamp) hands each
// object's rows in time order too: so the rows are first taken as the table
// holds them, each object's checked to follow in time. The first row that
// comes out of order (a clock set back, rows written by hand) stops that run,
// and the chart is made afresh from the ordered statement.
struct ChartRun {
  std::vector<std::string> names;  // as the statement compares them
  std::vector<ChartObject> objects;
  bool checkOrder = false;
  std::vector<int64_t> lastTime;  // per object, while checking
  bool outOfOrder = false;
  ViewConnection connection;
};

void ChartRow(void* context, const HistoryRow& row) {
  ChartRun& run = *static_cast<ChartRun*>(context);
  if (run.outOfOrder) return;
  // An object chosen twice gets the row twice, as in the report.
  for (size_t k = 0; k < run.names.size(); ++k) {
    if (!SameText(run.names[k], row.Text(1), row.Length(1))) continue;
    if (run.checkOrder) {
      if (row.stamp < run.lastTime[k]) {
        run.outOfOrder = true;
        sqlite3_interrupt(run.connection.handle);
        return;
      }
      run.lastTime[k] = row.stamp;
    }
    run.objects[k].series.Add(row.stamp, row.Text(3), row.Length(3), row.Text(4), row.Length(4));
  }
}

// One run of the chart's statement, ordered or as the table holds the rows,
// into fresh series.
Result<StoreOutcome> RunChart(ChartRun& run, const ReportState& state, const std::string& storePath,
                              bool ordered) {
  const PeriodStamps& stamps = state.period.stamps;
  int width = state.request.chartWidth;
  // Every row: the bound of points is shared by the objects.
  size_t rawLimit = kRawPointLimit / run.names.size();
  run.objects.clear();
  for (size_t k = 0; k < run.names.size(); ++k) {
    const SelectionEntry& entry = state.entries[k];
    run.objects.push_back({run.names[k], FormDecoded(entry.label), entry.kind,
                           ChartSeries(stamps.from, stamps.to, width, rawLimit)});
  }
  run.checkOrder = !ordered;
  run.lastTime.assign(run.names.size(), INT64_MIN);
  run.outOfOrder = false;
  return RunHistoryStatement(storePath, ViewStatement(stamps, run.names, ordered),
                             MissingStore::OnlyAbsent, {ChartRow, &run},
                             {SetUpViewConnection, &run.connection});
}

// The download being written: its head goes out with the first row, or at
// the end of a run without rows, so that a store that fails at once still
// gets an error status.
struct CsvRun {
  FILE* out;
  int32_t from;
  int32_t to;
  std::vector<std::string> names;
  std::vector<std::string> labels;  // form-decoded, ISO-8859-15
  bool headWritten = false;
};

void StartCsv(CsvRun& run) {
  if (run.headWritten) return;
  PrintCsvHead(run.out, run.from, run.to);
  run.headWritten = true;
}

void CsvRow(void* context, const HistoryRow& row) {
  CsvRun& run = *static_cast<CsvRun*>(context);
  StartCsv(run);
  const char* label = nullptr;
  for (size_t k = 0; k < run.names.size() && label == nullptr; ++k) {
    if (SameText(run.names[k], row.Text(1), row.Length(1))) label = run.labels[k].c_str();
  }
  WriteCsvRow(run.out, row.stamp, row.Text(1), label, row.Text(3), row.Text(4), row.Text(5));
}

bool StoreFailed(StoreOutcome outcome) {
  return outcome == StoreOutcome::OpenFailed || outcome == StoreOutcome::Failed;
}

void ShowChartData(FILE* out, const ReportState& state, const std::string& storePath,
                   const StatementLimits& limits) {
  ChartRun run;
  run.names = ComparedNames(state);
  run.connection.guard.limits = limits;
  Result<StoreOutcome> ran = RunChart(run, state, storePath, false);
  if (run.outOfOrder) ran = RunChart(run, state, storePath, true);
  std::fputs(ran.message.c_str(), stderr);
  // Nothing is written before the run has ended: a failed one never shows
  // as a chart of fewer rows.
  if (StoreFailed(ran.code)) {
    PrintRefusal(out, View::Json, kStatusServerError, kViewStoreFailed);
    return;
  }
  PrintJsonHead(out);
  WriteChartJson(out, state.period.stamps.from, state.period.stamps.to, state.request.chartWidth,
                 run.objects);
}

void ShowDownload(FILE* out, const ReportState& state, const std::string& storePath,
                  const StatementLimits& limits) {
  const PeriodStamps& stamps = state.period.stamps;
  CsvRun run{out, stamps.from, stamps.to, ComparedNames(state), {}};
  for (size_t k = 0; k < run.names.size(); ++k)
    run.labels.push_back(FormDecoded(state.entries[k].label));
  ViewConnection connection;
  connection.guard.limits = limits;
  Result<StoreOutcome> ran = RunHistoryStatement(storePath, ViewStatement(stamps, run.names, true),
                                                 MissingStore::OnlyAbsent, {CsvRow, &run},
                                                 {SetUpViewConnection, &connection});
  std::fputs(ran.message.c_str(), stderr);
  if (!StoreFailed(ran.code)) {
    StartCsv(run);
    return;
  }
  if (!run.headWritten) {
    PrintRefusal(out, View::Csv, kStatusServerError, kViewStoreFailed);
    return;
  }
  // The head and rows are out: the last line tells the reader of the
  // spreadsheet that rows are missing.
  WriteUtf8(out, kCsvBrokenOff, std::strlen(kCsvBrokenOff));
  std::fputs(kCsvLineEnd, out);
}

// The message of a path that cannot be resolved, without the report's line
// break.
std::string PlainMessage(std::string message) {
  ReplaceAll(message, "<br>", "");
  return message;
}

}  // namespace

std::string ViewSelectionQuery(const ReportState& state) {
  const Period& period = state.period;
  std::string query = "txDateFrom=" + FieldEncoded(TextPiece(period.from, 0, 10)) +
                      "&txTimeFrom=" + FieldEncoded(TextPiece(period.from, 11, 8)) +
                      "&txDateTo=" + FieldEncoded(TextPiece(period.to, 0, 10)) +
                      "&txTimeTo=" + FieldEncoded(TextPiece(period.to, 11, 8));
  for (int k = 0; k < state.entryCount && k < kMaxObjectNames; ++k) {
    const SelectionEntry& entry = state.entries[k];
    // The fields as the report compares and shows them, encoded anew: the
    // next request decodes them to the same bytes.
    query += "&obj=" + FieldEncoded(FormDecoded(entry.name)) + ";" +
             FieldEncoded(FormDecoded(entry.label)) + ";" +
             FieldEncoded(entry.kind != '\0' ? std::string(1, entry.kind) : "");
  }
  return query;
}

void ShowView(FILE* out, ReportState& state, const char* cfgPath, const StatementLimits& limits) {
  View view = state.request.view;
  // A view only reads: it never runs a free SQL text or a deletion.
  if (state.request.mode != ReportMode::Objects) {
    PrintRefusal(out, view, kStatusBadRequest, kViewObjectsOnly);
    return;
  }
  TakeSelection(state);
  if (!state.period.Usable()) {
    PrintRefusal(out, view, kStatusBadRequest, kViewNoPeriod);
    return;
  }
  if (state.entryCount == 0) {
    PrintRefusal(out, view, kStatusBadRequest, kViewNoObject);
    return;
  }
  if (view == View::Chart) {
    // The page asks for its data itself.
    PrintChartPage(out, ViewSelectionQuery(state));
    return;
  }
  std::string storePath;
  Result<bool> found = ResolveHistoryDb(cfgPath, storePath);
  if (!found.code) {
    PrintRefusal(out, view, kStatusServerError, PlainMessage(found.message).c_str());
    return;
  }
  if (view == View::Json)
    ShowChartData(out, state, storePath, limits);
  else
    ShowDownload(out, state, storePath, limits);
}
