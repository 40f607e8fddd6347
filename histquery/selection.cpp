#include "histquery/selection.h"

#include <cstdio>

#include "common/period.h"
#include "common/replacefile.h"
#include "common/selection.h"
#include "common/textops.h"
#include "histquery/request.h"

namespace {

constexpr size_t kMinSqlText = 8;  // a shorter SQL value keeps object mode

// The request's period wins over the selection file's, end by end; an end
// reads as a date when ParseDateTime reads it (HH:MM times too).
constexpr PeriodRules kReportPeriodRules = {false, 0, DateReading::AsParsed};

}  // namespace

void TakeSelection(ReportState& state) {
  state.sqlText = GetKeyValue("SQL=", state.request, '&');
  if (state.sqlText.size() >= kMinSqlText) {
    state.sqlMode = true;
    DecodeSqlText(state.sqlText);
  }
  PeriodValues filePeriod = LoadSelectionFile(state, SelectionFileToLoad(state.request));
  // The fields of an object entry arrive with their ";" encoded.
  std::string request = state.request;
  ReplaceAll(request, "%3B", ";");
  RequestPeriod sent = ReadRequestPeriod(
      {GetKeyValue("txDateFrom=", request, '&'), GetKeyValue("txTimeFrom=", request, '&'),
       GetKeyValue("txDateTo=", request, '&'), GetKeyValue("txTimeTo=", request, '&')});
  if (!state.request.empty()) {
    std::string content = TakeRequestValues(state, sent);
    // A change that is not shown to come from our own page leaves no trace,
    // the selection file included (a free SQL text may change rows). Without
    // a writable working directory the report still runs, unsaved. A last
    // selection lost with the power costs only its choice again: the file is
    // not synced, and a report never waits for the SD card.
    if (state.fromOwnPage || !AsksForChange(state))
      ReplaceFileContent(state.sqlMode ? kSqlSelectionFile : kObjectSelectionFile, content,
                         Durability::Unsynced);
  }
  state.period = TakePeriod(sent, filePeriod, kReportPeriodRules);
  // The delete link repeats a request that carried its period and objects;
  // for values that came from a selection file it carries them itself, so
  // that the deletion covers what the page showed even when the file has
  // changed (another tab) by the time of the click.
  state.deleteLink = sent.fromGiven && sent.toGiven ? request : SelectionAsRequest(state);
}

bool AsksForChange(const ReportState& state) {
  return state.sqlMode || GetKeyValue("ACTION=", state.request, '&') == "DEL";
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

std::string SelectionFileToLoad(const std::string& request) {
  if (request.empty()) return kObjectSelectionFile;
  std::string name = GetKeyValue("DFW=", request, '&');
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

std::string TakeRequestValues(ReportState& state, const RequestPeriod& sent) {
  std::string request = state.request;
  ReplaceAll(request, "%3B", ";");
  std::string content = "txDateFrom=" + sent.dateFrom + "\n";
  if (sent.startDated) {
    if (sent.fromGiven) content += "txTimeFrom=" + sent.timeFrom + "\n";
    content += "txDateTo=" + sent.dateTo + "\n";
    if (sent.toGiven) content += "txTimeTo=" + sent.timeTo + "\n";
  }
  if (state.sqlMode) {
    content += "SQL=" + state.sqlText + "\n";
    return content;
  }
  // Every "obj=" counts, the first one too when the request begins with it.
  // Keys beyond the eighth are left out of the report, the deletion and the
  // saved selection alike.
  int index = 0;
  size_t at = request.find("obj=");
  while (at != std::string::npos && index < kMaxObjectNames) {
    size_t end = request.find('&', at);
    if (end == std::string::npos) end = request.size();
    std::string value = request.substr(at + 4, end - (at + 4));
    content += "obj=" + value + "\n";
    state.entries[index++] = ParseSelectionEntry(value);
    at = request.find("obj=", end);
  }
  state.entryCount = index;
  return content;
}
