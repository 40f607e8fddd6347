// The date parser and the time stamp forms, on texts and numbers taken from
// the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <string>

#include "common/datetime.h"
#include "fuzzsupport.h"

namespace {

// "DD.MM.YYYY HH:MM:SS" or "YYYY-MM-DD HH:MM:SS": every 32-bit stamp lies in
// the years 1901 to 2038, so both forms always have 19 characters.
bool HasForm(const std::string& text, const char* form) {
  if (text.size() != 19) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (form[i] == '9' ? !digit : text[i] != form[i]) return false;
  }
  return true;
}

// Zones on both sides of UTC, with half hours and with summer time in the
// southern winter; each input picks one, so that a crash reproduces the same
// on every machine.
const char* const kZones[] = {"Europe/Berlin", "UTC", "America/New_York", "Asia/Kolkata",
                              "Pacific/Auckland"};

// Every zone in use lies within 14 hours of UTC.
constexpr int32_t kMaxOffset = 14 * 3600;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseBerlinTime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  setenv("TZ", kZones[input.ConsumeIntegralInRange<size_t>(0, std::size(kZones) - 1)], 1);
  tzset();
  int32_t stamp = input.ConsumeIntegral<int32_t>();
  int32_t offset = input.ConsumeIntegralInRange<int32_t>(-kMaxOffset, kMaxOffset);
  char separator = input.ConsumeIntegral<char>();
  std::string first = input.ConsumeRandomLengthString(64);
  std::string second = input.ConsumeRemainingBytesAsString();

  Require(HasForm(FormatTimestamp(stamp, TimestampForm::Report), "99.99.9999 99:99:99"),
          "FormatTimestamp: report form");
  Require(HasForm(FormatTimestamp(stamp, TimestampForm::Series), "9999-99-99 99:99:99"),
          "FormatTimestamp: series form");
  int32_t localOffset = UtcOffsetAt(stamp);
  Require(localOffset >= -kMaxOffset && localOffset <= kMaxOffset,
          "UtcOffsetAt: offset out of range");

  ParseDateTime(first.c_str(), separator, offset);
  ParseDateTime(second.c_str(), '.', offset);
  // A date without a separator has no year, and a year below 1900 counts
  // as unreadable.
  if (first.find(separator) == std::string::npos) {
    Require(ParseDateTime(first.c_str(), separator, offset) == 0, "ParseDateTime: no separator");
  }
  // The stricter reading refuses more, never less.
  Require(!DateTimeReadable(first.c_str(), separator, DateReading::DigitsFirst) ||
              DateTimeReadable(first.c_str(), separator, DateReading::AsParsed),
          "DateTimeReadable: the stricter reading reads more");

  ConvertPeriod(first, second);
  ConvertPeriod(FormatTimestamp(stamp, TimestampForm::Report), second);
  return 0;
}
