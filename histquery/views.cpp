#include "histquery/views.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/historystore.h"
#include "common/textops.h"
#include "histquery/chartseries.h"
#include "histquery/page.h"
#include "histquery/readslots.h"
#include "histquery/request.h"
#include "histquery/selection.h"
#include "histquery/statement.h"
#include "histquery/summary.h"
#include "histquery/viewtext.h"
#include "histquery/viewtexts.h"
#include "histquery/viewwriter.h"

namespace {

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

// The chart data being made: one series per chosen object, in the order of
// the selection; the reader hands the rows in time order.
struct ChartRun {
  std::vector<std::string> names;  // as the statement compares them
  std::vector<ChartObject> objects;
  PeriodStamps stamps;
  int width;
  // The seconds of a column on the grid of the summary's time buckets, or 0
  // for `width` even columns over the period.
  int64_t columnSeconds = 0;
  size_t rawLimit;  // width 0: the bound of points is shared by the objects
};

ChartSeries FreshSeries(const ChartRun& run) {
  if (run.columnSeconds > 0)
    return ChartSeries::OnGrid(run.stamps.from, run.stamps.to, run.columnSeconds);
  return ChartSeries(run.stamps.from, run.stamps.to, run.width, run.rawLimit);
}

// Fresh series of the chosen objects.
void StartChart(ChartRun& run, const Selection& selection) {
  run.objects.clear();
  for (size_t k = 0; k < run.names.size(); ++k) {
    const ChosenObject& object = selection.objects[k];
    run.objects.push_back({run.names[k], object.label, object.kind, FreshSeries(run)});
  }
}

// Rows that came before one out of time order are read again in order.
void RestartChart(void* context) {
  ChartRun& run = *static_cast<ChartRun*>(context);
  for (ChartObject& object : run.objects) object.series = FreshSeries(run);
}

// Where a column of the width asked for spans an hour or more, the chart's
// columns are whole hours (whole days from a day on) on the grid of the
// summary's buckets, so that the summary can answer; the answer's "width"
// says how many there are. 0 for shorter columns: the period cut evenly.
int64_t GridColumnSeconds(const PeriodStamps& stamps, int width) {
  if (width <= 0) return 0;
  int64_t perColumn = (int64_t{stamps.to} - stamps.from + 1) / width;
  if (perColumn < kHourSeconds) return 0;
  int64_t unit = perColumn >= kDaySeconds ? kDaySeconds : kHourSeconds;
  return perColumn / unit * unit;
}

void ChartRow(void* context, const HistoryRow& row) {
  ChartRun& run = *static_cast<ChartRun*>(context);
  // An object chosen twice gets the row twice, as in the report.
  for (size_t k = 0; k < run.names.size(); ++k) {
    if (!SameText(run.names[k], row.Text(1), row.Length(1))) continue;
    run.objects[k].series.Add(row.stamp, row.Text(3), row.Length(3), row.Text(4), row.Length(4));
  }
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

// Why a period cannot be shown, as a sentence of the views.
std::string PeriodMessage(const Period& period) {
  if (period.from.empty() || period.to.empty()) return kViewNoPeriod;
  switch (period.fault) {
    case PeriodFault::StartUnreadable:
      return Formatted(kViewPeriodUnreadableFormat, period.displayFrom.c_str());
    case PeriodFault::EndUnreadable:
      return Formatted(kViewPeriodUnreadableFormat, period.displayTo.c_str());
    case PeriodFault::Reversed:
      return Formatted(kViewPeriodReversedFormat, period.displayTo.c_str(),
                       period.displayFrom.c_str());
    default:
      return kViewNoPeriod;
  }
}

bool StoreFailed(const Result<Done, StoreFault>& ran) {
  return !ran.Ok() && ran.Fault().kind != StoreFault::Missing;
}

// A store that failed, or other requests that kept this one from its turn,
// as the views tell it.
void PrintStoreRefusal(FILE* out, View view, const Result<Done, StoreFault>& ran) {
  if (ran.Fault().kind == StoreFault::Busy)
    PrintRefusal(out, view, kStatusBusy, kViewBusy);
  else
    PrintRefusal(out, view, kStatusServerError, kViewStoreFailed);
}

// The chart's rows read from the history, into fresh series.
Result<Done, StoreFault> ReadChart(ChartRun& run, const Selection& selection,
                                   const std::string& storePath, StatementGuard& guard) {
  StartChart(run, selection);
  return ReadHistory(storePath, ReportRead(selection), {ChartRow, &run, RestartChart},
                     {SetUpConnection, &guard}, ReadSlotGate());
}

// The chart from the summary where it can answer (true), else nothing.
Result<bool, StoreFault> SummedChart(ChartRun& run, const Selection& selection,
                                     const std::string& storePath, StatementGuard& guard) {
  if (run.columnSeconds <= 0) return false;
  StartChart(run, selection);
  std::vector<ChartSeries*> series;
  for (ChartObject& object : run.objects) series.push_back(&object.series);
  SummaryChart chart{run.stamps.from, run.stamps.to, run.columnSeconds, run.names};
  return ChartFromSummary(storePath, chart, series, {SetUpConnection, &guard}, ReadSlotGate());
}

std::string ChartJson(ChartRun& run, const std::vector<std::string>& messages) {
  char* bytes = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&bytes, &size);
  if (out == nullptr) return "";
  int width = run.objects.empty() ? run.width : run.objects[0].series.Width();
  WriteChartJson(out, run.stamps.from, run.stamps.to, width, run.objects, messages);
  std::fclose(out);
  std::string json(bytes, size);
  std::free(bytes);
  return json;
}

void ShowChartData(FILE* out, const Selection& selection, int width, const std::string& storePath,
                   const StatementLimits& limits, const std::vector<std::string>& messages,
                   ReportRequest::SummaryUse use) {
  ChartRun run;
  run.names = selection.ComparedNames();
  run.stamps = selection.period.stamps;
  run.width = width;
  run.columnSeconds = GridColumnSeconds(run.stamps, width);
  run.rawLimit = kRawPointLimit / run.names.size();
  StatementGuard guard;
  guard.limits = limits;
  Result<Done, StoreFault> ran = Done{};
  bool summed = false;
  if (use != ReportRequest::SummaryUse::Rows) {
    Result<bool, StoreFault> answered = SummedChart(run, selection, storePath, guard);
    if (answered.Ok())
      summed = answered.Value();
    else if (answered.Fault().kind != StoreFault::Failed)
      ran = answered.Fault();  // busy, or no history: as the rows would tell
    PrintMessageLine(stderr, answered.Message());
  }
  std::string fromSummary = summed ? ChartJson(run, messages) : "";
  if ((!summed || use == ReportRequest::SummaryUse::Check) && ran.Ok())
    ran = ReadChart(run, selection, storePath, guard);
  PrintMessageLine(stderr, ran.Message());
  // Nothing is written before the run has ended: a failed one never shows
  // as a chart of fewer rows.
  if (StoreFailed(ran)) {
    PrintStoreRefusal(out, View::Json, ran);
    return;
  }
  PrintJsonHead(out);
  if (use == ReportRequest::SummaryUse::Check) {
    std::fputs(!summed                                   ? "{\"check\":\"rows only\"}\n"
               : fromSummary == ChartJson(run, messages) ? "{\"check\":\"same\"}\n"
                                                         : "{\"check\":\"differs\"}\n",
               out);
    return;
  }
  if (summed) {
    std::fputs(fromSummary.c_str(), out);
    return;
  }
  int answeredWidth = run.objects.empty() ? width : run.objects[0].series.Width();
  WriteChartJson(out, run.stamps.from, run.stamps.to, answeredWidth, run.objects, messages);
}

void ShowDownload(FILE* out, const Selection& selection, const std::string& storePath,
                  const StatementLimits& limits) {
  const PeriodStamps& stamps = selection.period.stamps;
  CsvRun run{out, stamps.from, stamps.to, selection.ComparedNames(), {}};
  for (const ChosenObject& object : selection.objects) run.labels.push_back(object.label);
  StatementGuard guard;
  guard.limits = limits;
  Result<Done, StoreFault> ran = ReadHistory(storePath, ReportRead(selection), {CsvRow, &run},
                                             {SetUpConnection, &guard}, ReadSlotGate());
  PrintMessageLine(stderr, ran.Message());
  if (!StoreFailed(ran)) {
    StartCsv(run);
    return;
  }
  if (!run.headWritten) {
    PrintStoreRefusal(out, View::Csv, ran);
    return;
  }
  // The head and rows are out: the last line tells the reader of the
  // spreadsheet that rows are missing.
  WriteUtf8(out, kCsvBrokenOff, std::strlen(kCsvBrokenOff));
  std::fputs(kCsvLineEnd, out);
}

}  // namespace

void ShowView(FILE* out, const ReportRequest& request, const char* cfgPath,
              const StatementLimits& limits) {
  View view = request.view;
  // A view only reads: it never runs a free SQL text or a deletion.
  if (request.mode != ReportMode::Objects) {
    PrintRefusal(out, view, kStatusBadRequest, kViewObjectsOnly);
    return;
  }
  Selection selection = TakeSelection(request, SelectionUse::View);
  if (!selection.period.Usable()) {
    PrintRefusal(out, view, kStatusBadRequest, PeriodMessage(selection.period).c_str());
    return;
  }
  if (selection.objects.empty()) {
    PrintRefusal(out, view, kStatusBadRequest, kViewNoObject);
    return;
  }
  std::vector<std::string> messages;
  if (!request.droppedObjects.empty()) {
    std::string names;
    for (const std::string& name : request.droppedObjects)
      names += (names.empty() ? "" : ", ") + name;
    messages.push_back(Formatted(kViewDroppedObjectsFormat, names.c_str()));
  }
  if (view == View::Chart) {
    // The page asks for its data itself.
    PrintChartPage(
        out, SelectionQuery(selection),
        messages.empty() ? "" : Formatted(kChartHintFormat, HtmlEscaped(messages[0]).c_str()));
    return;
  }
  Result<std::string, PathFault> storePath = ResolveHistoryDb(cfgPath);
  if (!storePath.Ok()) {
    PrintRefusal(out, view, kStatusServerError, storePath.Fault().message.c_str());
    return;
  }
  if (view == View::Json)
    ShowChartData(out, selection, request.chartWidth, storePath.Value(), limits, messages,
                  request.summaryUse);
  else
    ShowDownload(out, selection, storePath.Value(), limits);
}
