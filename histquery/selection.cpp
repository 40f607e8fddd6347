#include "histquery/selection.h"

#include <cstdio>

#include "common/replacefile.h"
#include "common/selection.h"
#include "common/textops.h"

namespace {

// The request's period wins over the selection file's, end by end; an end
// reads as a date when ParseDateTime reads it (HH:MM times too).
constexpr PeriodRules kReportPeriodRules = {false, 0, DateReading::AsParsed};

}  // namespace

void TakeSelection(ReportState& state) {
  const ReportRequest& request = state.request;
  PeriodValues filePeriod = LoadSelectionFile(state, SelectionFileToLoad(request));
  RequestPeriod sent = ReadRequestPeriod(request.period);
  if (!request.text.empty()) {
    // The request's entries replace the file's, also by none; a view keeps
    // the file's when the request names none, as it has no use without.
    bool keepFileEntries = request.view != View::Report && request.objects.empty();
    if (request.mode != ReportMode::Sql && !keepFileEntries) {
      state.entryCount = 0;
      for (const std::string& object : request.objects)
        state.entries[state.entryCount++] = ParseSelectionEntry(object);
    }
    // A refused change leaves no trace, the selection file included. Without
    // a writable working directory the report still runs, unsaved. A last
    // selection lost with the power costs only its choice again: the file is
    // not synced, and a report never waits for the SD card.
    // A view only reads the selection: a chart or a download in another tab
    // must not change what the report and the selection page show next.
    if (!state.refused && request.view == View::Report)
      ReplaceFileContent(request.mode == ReportMode::Sql ? kSqlSelectionFile : kObjectSelectionFile,
                         SelectionFileContent(request, sent), Durability::Unsynced);
  }
  state.period = TakePeriod(sent, filePeriod, kReportPeriodRules);
  // The delete link repeats a request that carried its period and objects;
  // for values that came from a selection file it carries them itself, so
  // that the deletion covers what the page showed even when the file has
  // changed (another tab) by the time of the click.
  state.deleteLink =
      sent.fromGiven && sent.toGiven ? FieldsDecoded(request.text) : SelectionAsRequest(state);
}

std::string SelectionAsRequest(const ReportState& state) {
  std::string link = "txDateFrom=" + TextPiece(state.period.from, 0, 10) +
                     "&txTimeFrom=" + TextPiece(state.period.from, 11, 8) +
                     "&txDateTo=" + TextPiece(state.period.to, 0, 10) +
                     "&txTimeTo=" + TextPiece(state.period.to, 11, 8);
  ReplaceAll(link, ":", "%3A");
  for (int k = 0; k < state.entryCount && k < kMaxObjectNames; ++k) {
    const SelectionEntry& entry = state.entries[k];
    link += "&obj=" + entry.name + ";" + entry.label + ";";
    if (entry.kind != '\0') link += entry.kind;
  }
  return link;
}

std::string SelectionFileToLoad(const ReportRequest& request) {
  if (request.text.empty() || request.bareView) return kObjectSelectionFile;
  const std::string& name = request.selectionFile;
  // The request names a file of the working directory, nothing elsewhere.
  if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos) return "";
  return name;
}

PeriodValues LoadSelectionFile(ReportState& state, const std::string& fileName) {
  state.entryCount = 0;
  if (fileName.empty()) return {};
  FILE* file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) return {};
  SelectionFileValues values;
  ReadSelectionLines(file, {"obj=", 4, kMaxObjectNames}, values);
  std::fclose(file);
  for (const SelectionEntry& entry : values.objects) state.entries[state.entryCount++] = entry;
  return values.period;
}

std::string SelectionFileContent(const ReportRequest& request, const RequestPeriod& sent) {
  std::string content = "txDateFrom=" + sent.dateFrom + "\n";
  if (sent.startDated) {
    if (sent.fromGiven) content += "txTimeFrom=" + sent.timeFrom + "\n";
    content += "txDateTo=" + sent.dateTo + "\n";
    if (sent.toGiven) content += "txTimeTo=" + sent.timeTo + "\n";
  }
  if (request.mode == ReportMode::Sql) return content + "SQL=" + request.sqlText + "\n";
  for (const std::string& object : request.objects) content += "obj=" + object + "\n";
  return content;
}
