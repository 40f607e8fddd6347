#include "datetime.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int32_t UtcOffsetSeconds = 0;

int32_t UtcOffsetAt(int32_t t) {
  time_t when = t;
  struct tm local;
  localtime_r(&when, &local);
  int32_t localSeconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  int32_t offset = localSeconds - (t % 86400 + 86400) % 86400;
  if (offset < 0) offset += 86400;
  return offset;
}

std::string FormatTimestamp(int32_t t, TimestampForm form) {
  time_t when = t;
  struct tm utc;
  std::memset(&utc, 0, sizeof utc);
  gmtime_r(&when, &utc);
  char buffer[64];  // 19 characters for years 1000 to 9999; room for any int
  if (form == TimestampForm::Report) {
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%d %02d:%02d:%02d", utc.tm_mday,
                  utc.tm_mon + 1, utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  } else {
    std::snprintf(buffer, sizeof buffer, "%d-%02d-%02d %02d:%02d:%02d", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  }
  return buffer;
}

namespace {

// atoi of the characters [begin, begin + count) of text, clipped at its end.
int NumberAt(const std::string& text, size_t begin, size_t count) {
  if (begin >= text.size()) return 0;
  return std::atoi(text.substr(begin, count).c_str());
}

}  // namespace

int32_t ParseDateTime(const char* text, char separator) {
  std::string s = text;
  if (s.empty() || s[0] == separator) return 0;
  size_t first = s.find(separator);
  int day = std::atoi(s.substr(0, first).c_str());
  if (first == std::string::npos) return 0;  // no separator: no year, so below 1900
  size_t second = s.find(separator, first + 1);
  int month = std::atoi(s.substr(first + 1, second - (first + 1)).c_str());
  if (second == std::string::npos) return 0;
  int year = NumberAt(s, second + 1, 4);
  int hour = NumberAt(s, second + 6, 2);
  int minute = NumberAt(s, second + 9, 2);
  int sec = NumberAt(s, second + 12, 2);
  if (day > 31 || month > 12 || year < 1900) return 0;

  struct tm broken;
  std::memset(&broken, 0, sizeof broken);
  broken.tm_sec = sec;
  broken.tm_min = minute;
  broken.tm_hour = hour;
  broken.tm_mday = day;
  broken.tm_mon = month - 1;
  broken.tm_year = year - 1900;
  broken.tm_isdst = -1;
  // A date that a 32-bit count cannot hold converts to -1, as mktime reports
  // it where time_t itself has 32 bits: the same result on every target.
  int64_t utc = static_cast<int64_t>(mktime(&broken));
  if (utc < INT32_MIN || utc > INT32_MAX) utc = -1;
  return static_cast<int32_t>(utc + UtcOffsetSeconds);
}

void ConvertPeriod(const std::string& fromText, const std::string& toText, int32_t& fromStamp,
                   int32_t& toStamp) {
  UtcOffsetSeconds = 0;
  int32_t startUtc = ParseDateTime(fromText.c_str(), '.');
  int32_t endUtc = ParseDateTime(toText.c_str(), '.');
  int32_t startOffset = UtcOffsetAt(startUtc);

  UtcOffsetSeconds = UtcOffsetAt(endUtc);
  toStamp = ParseDateTime(toText.c_str(), '.');
  UtcOffsetSeconds = startOffset;
  fromStamp = ParseDateTime(fromText.c_str(), '.');
}
