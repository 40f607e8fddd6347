#include "histseries/periodcheck.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "common/datetime.h"

bool PeriodTextUsable(const std::string& periodText) {
  return periodText.size() >= 11;
}

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
