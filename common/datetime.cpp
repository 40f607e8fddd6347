#include "datetime.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int32_t UtcOffsetAt(int32_t t) {
  time_t when = t;
  struct tm local;
  if (localtime_r(&when, &local) == nullptr) return 0;
  // The local clock's reading minus t, with its sign: west of UTC negative.
  return static_cast<int32_t>(local.tm_gmtoff);
}

namespace {

void TwoDigits(char* at, int64_t value) {
  at[0] = static_cast<char>('0' + value / 10);
  at[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

size_t FormatTimestampInto(char (&text)[kTimestampTextSize], int32_t t, TimestampForm form) {
  // The proleptic Gregorian calendar of gmtime, by arithmetic: gmtime_r takes
  // the time-zone lock on every call, and rows come by the million.
  int64_t seconds = t;
  int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  int64_t secondOfDay = seconds - days * 86400;
  // Days since 0000-03-01, counted in 400-year eras of 146097 days.
  int64_t shifted = days + 719468;
  int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  int64_t dayOfEra = shifted - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

  char* at = text;
  if (form == TimestampForm::Report) {
    TwoDigits(at, day);
    at[2] = '.';
    TwoDigits(at + 3, month);
    at[5] = '.';
    TwoDigits(at + 6, year / 100);
    TwoDigits(at + 8, year % 100);
  } else {
    TwoDigits(at, year / 100);
    TwoDigits(at + 2, year % 100);
    at[4] = '-';
    TwoDigits(at + 5, month);
    at[7] = '-';
    TwoDigits(at + 8, day);
  }
  at[10] = ' ';
  TwoDigits(at + 11, secondOfDay / 3600);
  at[13] = ':';
  TwoDigits(at + 14, secondOfDay / 60 % 60);
  at[16] = ':';
  TwoDigits(at + 17, secondOfDay % 60);
  at[19] = '\0';
  return 19;
}

std::string FormatTimestamp(int32_t t, TimestampForm form) {
  char text[kTimestampTextSize];
  size_t length = FormatTimestampInto(text, t, form);
  return std::string(text, length);
}

namespace {

// atoi of the characters [begin, begin + count) of text, clipped at its end.
int NumberAt(const std::string& text, size_t begin, size_t count) {
  if (begin >= text.size()) return 0;
  return std::atoi(text.substr(begin, count).c_str());
}

}  // namespace

namespace {

// Whether the field [begin, end) of `text` begins with a digit.
bool DigitFirst(const std::string& text, size_t begin, size_t end) {
  return begin < end && begin < text.size() &&
         std::isdigit(static_cast<unsigned char>(text[begin])) != 0;
}

// ParseDateTime's reading, with whether the text was readable at all: false
// where ParseDateTime gives 0 for unreadable text, and where the local-time
// conversion cannot hold the date (ParseDateTime's -1).
bool ReadDateTime(const char* text, char separator, DateReading reading, int32_t offset,
                  int32_t& value) {
  value = 0;
  std::string s = text;
  if (s.empty() || s[0] == separator) return false;
  size_t first = s.find(separator);
  int day = std::atoi(s.substr(0, first).c_str());
  if (first == std::string::npos) return false;  // no separator: no year, so below 1900
  size_t second = s.find(separator, first + 1);
  int month = std::atoi(s.substr(first + 1, second - (first + 1)).c_str());
  if (second == std::string::npos) return false;
  int year = NumberAt(s, second + 1, 4);
  int hour = NumberAt(s, second + 6, 2);
  int minute = NumberAt(s, second + 9, 2);
  int sec = NumberAt(s, second + 12, 2);
  if (day > 31 || month > 12 || year < 1900) return false;
  if (reading == DateReading::DigitsFirst &&
      !(DigitFirst(s, 0, first) && DigitFirst(s, first + 1, second) &&
        DigitFirst(s, second + 1, second + 5)))
    return false;

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
  bool representable = utc >= INT32_MIN && utc <= INT32_MAX && utc != -1;
  if (!representable) utc = -1;
  value = static_cast<int32_t>(utc + offset);
  return representable;
}

}  // namespace

int32_t ParseDateTime(const char* text, char separator, int32_t offset) {
  int32_t value;
  ReadDateTime(text, separator, DateReading::AsParsed, offset, value);
  return value;
}

bool DateTimeReadable(const char* text, char separator, DateReading reading) {
  int32_t value;
  return ReadDateTime(text, separator, reading, 0, value);
}

PeriodStamps ConvertPeriod(const std::string& fromText, const std::string& toText) {
  PeriodStamps stamps;
  stamps.fromOffset = UtcOffsetAt(ParseDateTime(fromText.c_str(), '.', 0));
  stamps.toOffset = UtcOffsetAt(ParseDateTime(toText.c_str(), '.', 0));
  stamps.from = ParseDateTime(fromText.c_str(), '.', stamps.fromOffset);
  stamps.to = ParseDateTime(toText.c_str(), '.', stamps.toOffset);
  return stamps;
}
