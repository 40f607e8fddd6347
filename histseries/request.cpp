#include "histseries/request.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common/datetime.h"
#include "common/strings.h"
#include "histseries/texts.h"

void ReadSelectionFile(FILE* file, Selection& selection) {
  char buffer[SelectionLineRead + 1];
  while (selection.objects.size() < static_cast<size_t>(MaxSeriesObjects) &&
         std::fgets(buffer, SelectionLineRead, file) != nullptr) {
    std::string line = buffer;
    if (line.size() <= 3) continue;
    if (line.back() == '\n') line.pop_back();

    // The sixth character of an object line ("=") is skipped whatever it is;
    // a line of only "txobs" has no value.
    if (StartsWith(line, ObjectLinePrefix)) {
      selection.objects.push_back(ParseSelectionEntry(TextPiece(line, 6, ObjectValueLimit)));
    } else if (StartsWith(line, KeyDateFrom)) {
      selection.dateFrom = TextPiece(line, std::strlen(KeyDateFrom), 10);
    } else if (StartsWith(line, KeyTimeFrom)) {
      selection.timeFrom = TextPiece(line, std::strlen(KeyTimeFrom), 8);
    } else if (StartsWith(line, KeyDateTo)) {
      selection.dateTo = TextPiece(line, std::strlen(KeyDateTo), 10);
    } else if (StartsWith(line, KeyTimeTo)) {
      selection.timeTo = TextPiece(line, std::strlen(KeyTimeTo), 8);
    }
  }
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

void TakeRequestPeriod(const std::string& request, std::string& periodFrom,
                       std::string& periodTo) {
  // Without a usable start date the request's end is not read either.
  std::string date = GetKeyValue(KeyDateFrom, request, '&');
  if (date.size() <= 6) return;
  std::string time = GetKeyValue(KeyTimeFrom, request, '&');
  if (time.size() > 3) periodFrom = date + " " + NormalizeRequestTime(time);

  date = GetKeyValue(KeyDateTo, request, '&');
  if (date.size() <= 6) return;
  time = GetKeyValue(KeyTimeTo, request, '&');
  if (time.size() > 3) periodTo = date + " " + NormalizeRequestTime(time);
}

void TakeFilePeriod(const Selection& selection, std::string& periodFrom, std::string& periodTo) {
  // The file's times are taken as read: no decoding, no completion.
  if (selection.dateFrom.size() > 6) periodFrom = selection.dateFrom + " " + selection.timeFrom;
  if (selection.dateTo.size() > 6) periodTo = selection.dateTo + " " + selection.timeTo;
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
  std::string query = "select * from HISTORY where (TimeStamp >= " + IntToString(fromSeconds) +
                      " and TimeStamp <= " + IntToString(toSeconds) + ") and State <> \"X\"";
  if (objects.empty()) return query;
  query += " and (";
  for (size_t i = 0; i < objects.size(); ++i) {
    if (i > 0) query += " or ";
    // Names go into a string literal: a quote in a name must not end it.
    query += "ObjName = '" + SqlQuoted(UpperCase(objects[i].name)) + "'";
  }
  return query + ") order by TimeStamp";
}
