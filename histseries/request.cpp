#include "histseries/request.h"

#include <utility>

#include "common/textops.h"
#include "histseries/texts.h"

namespace {

// A period text of "YYYY-MM-DD H" at least: one cut shorter is no period.
constexpr size_t kSeriesPeriodLength = 11;

// An end whose text is cut short, or whose day, month or year does not begin
// with a digit, is refused: the conversion would take it for 1970 or -1 and
// export another period than the one asked for.
constexpr PeriodRules kSeriesPeriodRules = {PeriodSource::SelectionFile, kSeriesPeriodLength,
                                            DateReading::DigitsFirst};

}  // namespace

ExportRequest ReadExportRequest(const char* argument) {
  Selection selection;
  LoadSelection(SelectionFileName(argument), selection);
  return TakeExportRequest(argument, std::move(selection));
}

ExportRequest TakeExportRequest(const char* argument, Selection selection) {
  ExportRequest request;
  request.repeatedObjects = DropRepeatedObjects(selection.objects);
  request.objects = std::move(selection.objects);
  request.period = TakeExportPeriod(argument, selection.period);
  return request;
}

std::string SelectionFileName(const char* request) {
  if (request == nullptr) return kDefaultSelectionFile;
  return GetKeyValue(kKeySelectionFile, request, '&');
}

void LoadSelection(const std::string& fileName, Selection& selection) {
  FILE* file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) file = std::fopen(kFallbackSelectionFile, "r");
  if (file == nullptr) return;
  ReadSelectionFile(file, selection);
  std::fclose(file);
}

void ReadSelectionFile(FILE* file, Selection& selection) {
  // Kept for compatibility: char 6 skipped whatever it is; older selection files rely on it.
  // A line of only "txobs" has no value.
  ReadSelectionLines(file, {kObjectLinePrefix, 6, kMaxSeriesObjects}, selection);
}

std::vector<std::string> DropRepeatedObjects(std::vector<SelectionEntry>& objects) {
  std::vector<std::string> dropped;
  std::vector<SelectionEntry> kept;
  std::vector<std::string> keptNames;
  for (const SelectionEntry& entry : objects) {
    std::string name = UpperCase(entry.name);
    bool repeated = false;
    for (const std::string& earlier : keptNames) repeated = repeated || earlier == name;
    if (repeated) {
      dropped.push_back(entry.name);
      continue;
    }
    kept.push_back(entry);
    keptNames.push_back(name);
  }
  objects.swap(kept);
  return dropped;
}

Period TakeExportPeriod(const char* argument, const PeriodValues& file) {
  PeriodValues sent;
  if (argument != nullptr) {
    sent = {GetKeyValue("txDateFrom=", argument, '&'), GetKeyValue("txTimeFrom=", argument, '&'),
            GetKeyValue("txDateTo=", argument, '&'), GetKeyValue("txTimeTo=", argument, '&')};
  }
  return TakePeriod(ReadRequestPeriod(sent), file, kSeriesPeriodRules);
}

std::string PeriodRefusal(const Period& period) {
  switch (period.fault) {
    case PeriodFault::None:
      break;
    case PeriodFault::TooShort:
      return Formatted(kMessageNoPeriod, period.from.c_str(), period.to.c_str());
    case PeriodFault::StartUnreadable:
      return Formatted(kMessageUnreadablePeriod, period.from.c_str());
    case PeriodFault::EndUnreadable:
      return Formatted(kMessageUnreadablePeriod, period.to.c_str());
    case PeriodFault::Reversed:
      return Formatted(kMessageReversedPeriod, period.from.c_str(), period.to.c_str());
  }
  return "";
}

HistoryRead SeriesRead(const PeriodStamps& stamps, const std::vector<SelectionEntry>& objects) {
  HistoryRead read;
  read.from = stamps.from;
  read.to = stamps.to;
  for (const SelectionEntry& entry : objects) read.names.push_back(UpperCase(entry.name));
  return read;
}
