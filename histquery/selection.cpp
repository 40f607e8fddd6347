#include "histquery/selection.h"

#include <cstdio>

#include "common/datetime.h"
#include "common/period.h"
#include "common/replacefile.h"
#include "common/selection.h"
#include "common/textops.h"
#include "histquery/request.h"

namespace {

constexpr size_t kMinSqlText = 8;  // a shorter SQL value keeps object mode

}  // namespace

void TakeSelection(ReportState& state) {
  state.sqlText = GetKeyValue("SQL=", state.request, '&');
  if (state.sqlText.size() >= kMinSqlText) {
    state.sqlMode = true;
    DecodeSqlText(state.sqlText);
  }
  LoadSelectionFile(state, SelectionFileToLoad(state.request));
  bool periodFromRequest = false;
  if (!state.request.empty()) {
    std::string content = TakeRequestValues(state, periodFromRequest);
    // A change that is not shown to come from our own page leaves no trace,
    // the selection file included (a free SQL text may change rows). Without
    // a writable working directory the report still runs, unsaved. A last
    // selection lost with the power costs only its choice again: the file is
    // not synced, and a report never waits for the SD card.
    if (state.fromOwnPage || !AsksForChange(state))
      ReplaceFileContent(state.sqlMode ? kSqlSelectionFile : kObjectSelectionFile, content,
                         Durability::Unsynced);
  }
  // The delete link repeats a request that carried its period and objects;
  // for values that came from a selection file it carries them itself, so
  // that the deletion covers what the page showed even when the file has
  // changed (another tab) by the time of the click.
  if (periodFromRequest) {
    state.deleteLink = state.request;
    ReplaceAll(state.deleteLink, "%3B", ";");
  } else {
    state.deleteLink = SelectionAsRequest(state);
  }
  state.displayFrom = DisplayPeriodText(state.periodFrom);
  state.displayTo = DisplayPeriodText(state.periodTo);
  state.periodUsable = PeriodReadable(state);
  if (state.periodUsable) {
    ConvertPeriod(state.displayFrom, state.displayTo, state.fromStamp, state.toStamp);
    // A start after the end is no period: such a deletion would match
    // nothing, and a report would show nothing, both claiming success.
    state.periodUsable = state.fromStamp <= state.toStamp;
  }
}

bool AsksForChange(const ReportState& state) {
  return state.sqlMode || GetKeyValue("ACTION=", state.request, '&') == "DEL";
}

std::string SelectionAsRequest(const ReportState& state) {
  std::string link = "txDateFrom=" + TextPiece(state.periodFrom, 0, 10) +
                     "&txTimeFrom=" + TextPiece(state.periodFrom, 11, 8) +
                     "&txDateTo=" + TextPiece(state.periodTo, 0, 10) +
                     "&txTimeTo=" + TextPiece(state.periodTo, 11, 8);
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

void LoadSelectionFile(ReportState& state, const std::string& fileName) {
  state.entryCount = 0;
  if (fileName.empty()) return;
  FILE* file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) return;
  SelectionFileValues values;
  ReadSelectionLines(file, {"obj=", 4, kMaxObjectNames}, values);
  std::fclose(file);
  TakeFilePeriod(values, state.periodFrom, state.periodTo);
  for (const SelectionEntry& entry : values.objects) state.entries[state.entryCount++] = entry;
}

std::string TakeRequestValues(ReportState& state, bool& periodFromRequest) {
  // The fields of an object entry arrive with their ";" encoded.
  std::string request = state.request;
  ReplaceAll(request, "%3B", ";");
  periodFromRequest = false;
  std::string content;
  RequestPeriod period = ReadRequestPeriod(request);
  content += "txDateFrom=" + period.dateFrom + "\n";
  if (period.startDated) {
    if (period.fromGiven) {
      content += "txTimeFrom=" + period.timeFrom + "\n";
      state.periodFrom = period.dateFrom + " " + period.timeFrom;
    }
    content += "txDateTo=" + period.dateTo + "\n";
    if (period.toGiven) {
      content += "txTimeTo=" + period.timeTo + "\n";
      state.periodTo = period.dateTo + " " + period.timeTo;
      periodFromRequest = period.fromGiven;
    }
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

bool PeriodReadable(const ReportState& state) {
  return DateTimeReadable(DisplayPeriodText(state.periodFrom).c_str(), '.') &&
         DateTimeReadable(DisplayPeriodText(state.periodTo).c_str(), '.');
}
