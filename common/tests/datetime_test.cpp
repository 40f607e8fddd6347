// Run with TZ=Europe/Berlin (set by CTest).
#include "common/datetime.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

TEST(ParseDateTime, WinterExampleRoundTrips) {
  int32_t utc = ParseDateTime("07.12.2026 08:42:33", '.', 0);
  EXPECT_EQ(utc, 1796629353);
  EXPECT_EQ(UtcOffsetAt(utc), 3600);
  int32_t wall = ParseDateTime("07.12.2026 08:42:33", '.', 3600);
  EXPECT_EQ(wall, 1796632953);
  EXPECT_EQ(FormatTimestamp(wall, TimestampForm::Report), "07.12.2026 08:42:33");
  EXPECT_EQ(FormatTimestamp(wall, TimestampForm::Series), "2026-12-07 08:42:33");
}

TEST(ParseDateTime, SummerExample) {
  int32_t utc = ParseDateTime("01.07.2026 12:00:00", '.', 0);
  EXPECT_EQ(utc, 1782900000);
  EXPECT_EQ(UtcOffsetAt(utc), 7200);
  EXPECT_EQ(ParseDateTime("01.07.2026 12:00:00", '.', 7200), 1782907200);
}

TEST(ParseDateTime, TextForms) {
  auto wall = [](const char* text) {
    return FormatTimestamp(ParseDateTime(text, '.', 3600), TimestampForm::Report);
  };
  EXPECT_EQ(wall("7.1.2026 08:00:00"), "07.01.2026 08:00:00");
  EXPECT_EQ(wall("07.12.2026 8:42:33"), "07.12.2026 08:02:03");  // fixed places
  EXPECT_EQ(wall("07.12.2026"), "07.12.2026 00:00:00");
  EXPECT_EQ(wall("07.12.2026 08"), "07.12.2026 08:00:00");
  EXPECT_EQ(wall("00.01.2026 00:00:00"), "31.12.2025 00:00:00");
  EXPECT_EQ(wall("15.00.2026 00:00:00"), "15.12.2025 00:00:00");

  const char* zero[] = {"01.02.24 10:00:00",
                        "32.01.2026 00:00:00",
                        "31.13.2026 00:00:00",
                        "07-12-2026 08:42:33",
                        "",
                        ".12.2026 00:00:00",
                        "07.12"};
  for (const char* text : zero) EXPECT_EQ(ParseDateTime(text, '.', 3600), 0) << text;
}

TEST(ParseDateTime, BeyondThirtyTwoBitsIsMinusOnePlusOffset) {
  EXPECT_EQ(ParseDateTime("01.01.2100 00:00:00", '.', 3600), -1 + 3600);
}

TEST(FormatTimestamp, Epoch) {
  EXPECT_EQ(FormatTimestamp(0, TimestampForm::Report), "01.01.1970 00:00:00");
  EXPECT_EQ(FormatTimestamp(0, TimestampForm::Series), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatTimestamp(1709623800, TimestampForm::Report), "05.03.2024 07:30:00");
}

// The calendar arithmetic gives what gmtime gives, for every corner of the
// 32-bit range: both ends, negative values, leap days, the turn of 2000.
TEST(FormatTimestamp, SameAsGmtimeOverTheWholeRange) {
  auto viaGmtime = [](int32_t t, TimestampForm form) {
    time_t when = t;
    struct tm utc;
    gmtime_r(&when, &utc);
    char text[64];
    std::snprintf(text, sizeof text,
                  form == TimestampForm::Report ? "%02d.%02d.%d %02d:%02d:%02d"
                                                : "%d-%02d-%02d %02d:%02d:%02d",
                  form == TimestampForm::Report ? utc.tm_mday : utc.tm_year + 1900, utc.tm_mon + 1,
                  form == TimestampForm::Report ? utc.tm_year + 1900 : utc.tm_mday, utc.tm_hour,
                  utc.tm_min, utc.tm_sec);
    return std::string(text);
  };
  std::vector<int32_t> stamps = {INT32_MIN,
                                 INT32_MIN + 1,
                                 -86401,
                                 -86400,
                                 -86399,
                                 -1,
                                 0,
                                 1,
                                 86399,
                                 86400,
                                 951782400 - 1,
                                 951782400,
                                 951868800,
                                 1709623800,
                                 INT32_MAX - 1,
                                 INT32_MAX};
  for (int64_t t = INT32_MIN; t <= INT32_MAX; t += 86400 * 7 + 3599) {
    stamps.push_back(static_cast<int32_t>(t));
  }
  for (int32_t t : stamps) {
    for (TimestampForm form : {TimestampForm::Report, TimestampForm::Series}) {
      char text[kTimestampTextSize];
      EXPECT_EQ(FormatTimestampInto(text, t, form), 19u) << t;
      EXPECT_EQ(std::string(text), viaGmtime(t, form)) << t;
      EXPECT_EQ(FormatTimestamp(t, form), viaGmtime(t, form)) << t;
    }
  }
}

// Sets TZ for the life of the object and puts Europe/Berlin back after it.
class Zone {
 public:
  explicit Zone(const char* zone) { Set(zone); }
  ~Zone() { Set("Europe/Berlin"); }

 private:
  static void Set(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
};

TEST(UtcOffsetAt, KeepsItsSignOnEitherSideOfUtc) {
  struct Case {
    const char* zone;
    int32_t utc;
    int32_t offset;
  } cases[] = {
      // 00:30 central European winter time is 23:30 UTC of the day before.
      {"Europe/Berlin", 1796599800 - 9 * 3600, 3600},  // 2026-12-06 23:30 UTC
      {"Europe/Berlin", 0, 3600},
      {"UTC", 1796599800, 0},
      // 2026-12-03 03:00 UTC is still 2 December, 22:00, in New York.
      {"America/New_York", 1796266800, -5 * 3600},
      {"America/New_York", 1782900000, -4 * 3600},  // 2026-07-01, summer time
      {"Asia/Kolkata", 1796266800, 5 * 3600 + 1800},
      {"Pacific/Auckland", 1796266800, 13 * 3600},  // summer time in December
      {"Pacific/Auckland", 1782900000, 12 * 3600},
  };
  for (const Case& c : cases) {
    Zone zone(c.zone);
    EXPECT_EQ(UtcOffsetAt(c.utc), c.offset) << c.zone << " " << c.utc;
  }
}

TEST(ConvertPeriod, EachEndKeepsItsOwnOffset) {
  struct Case {
    const char* from;
    const char* to;
    const char* fromWall;
    const char* toWall;
    int32_t offset;
  } cases[] = {
      // Winter to summer (29 March 2026) and summer to winter (25 October 2026).
      {"28.03.2026 00:00:00", "30.03.2026 23:59:59", "28.03.2026 00:00:00", "30.03.2026 23:59:59",
       3600},
      {"24.10.2026 00:00:00", "26.10.2026 23:59:59", "24.10.2026 00:00:00", "26.10.2026 23:59:59",
       7200},
      {"05.03.2024 07:30:00", "05.03.2024 23:59:00", "05.03.2024 07:30:00", "05.03.2024 23:59:00",
       3600},
  };
  for (const Case& c : cases) {
    PeriodStamps stamps = ConvertPeriod(c.from, c.to);
    EXPECT_EQ(FormatTimestamp(stamps.from, TimestampForm::Report), c.fromWall);
    EXPECT_EQ(FormatTimestamp(stamps.to, TimestampForm::Report), c.toWall);
    EXPECT_EQ(stamps.fromOffset, c.offset);
  }
  PeriodStamps stamps = ConvertPeriod("05.03.2024 07:30:00", "05.03.2024 23:59:00");
  EXPECT_EQ(stamps.from, 1709623800);
  EXPECT_EQ(stamps.to, 1709683140);
}

// Both readings: as ParseDateTime reads (the report), and with day, month
// and year beginning with a digit (the series export).
TEST(DateTimeReadable, TellsTheTextsParseDateTimeCannotRead) {
  struct Case {
    const char* text;
    bool asParsed;
    bool digitsFirst;
  } cases[] = {
      {"07.12.2026 08:42:33", true, true},
      {"07.12.2026 08:42", true, true},  // HH:MM, as a hand-written selection file may hold
      {"07.12.2026", true, true},
      {"00.01.2026 00:00:00", true, true},  // carried into the month before, as ParseDateTime does
      {"01.01.1970 00:00:00", true, true},  // its stamp may be 0 and still be a date
      {"05.13.2024 00:00:00", false, false},
      {"32.01.2026 00:00:00", false, false},
      {"01.02.24 10:00:00", false, false},
      {"07-12-2026 08:42:33", false, false},
      {".12.2026", false, false},
      {"", false, false},
      {"01.01.2100 00:00:00", false, false},  // past what 32 bits hold
      {"05.03.2024 ", true, true},            // a file date without time: midnight
      {"00.03.2024 25:75:00", true, true},    // carried into the next units, as always
      {"05.00.2024 00:00:00", true, true},    // December of the year before
      {"05.03.1899 00:00:00", false, false},
      {"05.03.2040 00:00:00", false, false},  // beyond the 32-bit stamps
      {"xx.03.2024 00:00:00", true, false},   // day 0 as atoi reads it
      {"05.-3.2024 00:00:00", true, false},   // month -3 as atoi reads it
      {" 5.03.2024 00:00:00", true, false},
      {"05.03.24 1 00:00:00", false, false},  // two-digit year
      {"2024-03-05 08:00", false, false},     // not re-ordered: no point
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateTimeReadable(c.text, '.', DateReading::AsParsed), c.asParsed) << c.text;
    EXPECT_EQ(DateTimeReadable(c.text, '.', DateReading::DigitsFirst), c.digitsFirst) << c.text;
  }
}
