// Date and time conversion.
//
// Time values are signed 32-bit seconds since 1970-01-01 00:00:00 counted on
// the local wall clock: the UTC count plus the local offset from UTC, the
// form of the history's TimeStamp column. Breaking such a value down as UTC
// gives the local date and time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Local offset east of UTC, daylight saving included, that holds at the UTC
// count t: negative west of UTC (-18000 for five hours west), +19800 for
// five and a half hours east.
int32_t UtcOffsetAt(int32_t t);

// The two display forms; each program prints only its own.
enum class TimestampForm {
  Report,  // DD.MM.YYYY HH:MM:SS (HistQuery)
  Series,  // YYYY-MM-DD HH:MM:SS (HistSeries)
};

// t broken down as UTC, printed in the given form.
std::string FormatTimestamp(int32_t t, TimestampForm form);

// Room for a printed time value and its terminator: every 32-bit value lies
// in the years 1901 to 2038, so the text always has 19 characters.
constexpr size_t kTimestampTextSize = 20;

// The same text as FormatTimestamp, written into `text` without allocating:
// the row handlers print one per row. Returns the length (19).
size_t FormatTimestampInto(char (&text)[kTimestampTextSize], int32_t t, TimestampForm form);

// Wall-clock value of "DD.MM.YYYY HH:MM:SS" (date parts split at `separator`,
// time parts at fixed places behind the second separator): the local time's
// UTC count plus `offset`. Unreadable text (no day, day > 31, month > 12,
// year < 1900) gives 0; a date the 32-bit count cannot hold gives -1 plus
// `offset`.
int32_t ParseDateTime(const char* text, char separator, int32_t offset);

// How strictly a text must read to count as a date.
enum class DateReading {
  AsParsed,     // whatever ParseDateTime reads as a date
  DigitsFirst,  // that, and day, month and year each begin with a digit
};

// Whether ParseDateTime reads `text` as a date at all: false for the texts it
// gives 0 for as unreadable (no day, day > 31, month > 12, year < 1900), and
// for a date the 32-bit count cannot hold. Callers that must not take 0 for
// 1970 ask this first.
bool DateTimeReadable(const char* text, char separator, DateReading reading);

// A period's ends as wall-clock stamps, and the offset each was converted with.
struct PeriodStamps {
  int32_t from = 0;
  int32_t to = 0;
  int32_t fromOffset = 0;  // the offset that holds at the start
  int32_t toOffset = 0;    // the offset that holds at the end
};

// Both ends of a period, each "DD.MM.YYYY HH:MM:SS", as wall-clock stamps.
// Each end is converted with the offset that holds at it, so a period across
// a change of summer and winter time keeps its last hour.
PeriodStamps ConvertPeriod(const std::string& fromText, const std::string& toText);
