#include "histseries/request.h"

#include <cctype>
#include <cstdlib>

#include "common/datetime.h"
#include "common/historystatement.h"
#include "common/period.h"
#include "common/textops.h"
#include "histseries/texts.h"

void ReadSelectionFile(FILE* file, Selection& selection) {
  // The sixth character of an object line ("=") is skipped whatever it is;
  // a line of only "txobs" has no value.
  ReadSelectionLines(file, {ObjectLinePrefix, 6, MaxSeriesObjects}, selection);
}

std::string SelectionFileName(const char* request) {
  if (request == nullptr) return DefaultSelectionFile;
  return GetKeyValue(KeySelectionFile, request, '&');
}

void LoadSelection(const std::string& fileName, Selection& selection) {
  FILE* file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) file = std::fopen(FallbackSelectionFile, "r");
  if (file == nullptr) return;
  ReadSelectionFile(file, selection);
  std::fclose(file);
}

bool PeriodTextUsable(const std::string& periodText) { return periodText.size() >= 11; }

bool PeriodEndReadable(const std::string& displayText) {
  // The fields as the date conversion finds them: split at the first two
  // points, the year the four characters behind the second.
  size_t first = displayText.find('.');
  if (first == std::string::npos) return false;
  size_t second = displayText.find('.', first + 1);
  if (second == std::string::npos) return false;
  std::string day = displayText.substr(0, first);
  std::string month = displayText.substr(first + 1, second - first - 1);
  std::string year = displayText.substr(second + 1, 4);
  for (const std::string* field : {&day, &month, &year}) {
    if (field->empty() || !std::isdigit(static_cast<unsigned char>((*field)[0]))) return false;
  }
  if (std::atoi(day.c_str()) > 31 || std::atoi(month.c_str()) > 12 ||
      std::atoi(year.c_str()) < 1900) {
    return false;
  }
  // Beyond the 32-bit stamps the conversion yields -1.
  int32_t savedOffset = UtcOffsetSeconds;
  UtcOffsetSeconds = 0;
  bool representable = ParseDateTime(displayText.c_str(), '.') != -1;
  UtcOffsetSeconds = savedOffset;
  return representable;
}

void DropRepeatedObjects(std::vector<SelectionEntry>& objects) {
  std::vector<SelectionEntry> kept;
  std::vector<std::string> keptNames;
  for (const SelectionEntry& entry : objects) {
    std::string name = UpperCase(entry.name);
    bool repeated = false;
    for (const std::string& earlier : keptNames) repeated = repeated || earlier == name;
    if (repeated) {
      std::fprintf(stderr, MessageRepeatedObject, entry.name.c_str());
      continue;
    }
    kept.push_back(entry);
    keptNames.push_back(name);
  }
  objects.swap(kept);
}

std::string BuildSeriesQuery(int32_t fromSeconds, int32_t toSeconds,
                             const std::vector<SelectionEntry>& objects) {
  std::vector<std::string> names;
  for (const SelectionEntry& entry : objects) names.push_back(UpperCase(entry.name));
  return ReportStatement(fromSeconds, toSeconds, names);
}
