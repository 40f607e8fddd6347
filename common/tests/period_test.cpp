#include "common/period.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RequestPeriod, NormalisesTimes) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"12%3A30", "12:30:00"},        {"12%3A30%3A15", "12:30:15"}, {"12:30", "12:30:00"},
      {"12:30:15", "12:30:15"},       {"1230", "00:00:00"},         {"8%3A30", "00:00:00"},
      {"12:30:15:99", "12:30:15:99"},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeRequestTime(c.in), c.out) << c.in;
}

TEST(RequestPeriod, TakesEndsThatTheRequestGives) {
  struct Case {
    const char* request;
    const char* from;
    const char* to;
  } cases[] = {
      {"DFW=h.dat&txDateFrom=2024-03-01&txTimeFrom=08%3A00&txDateTo=2024-03-02&txTimeTo=09%3A15",
       "2024-03-01 08:00:00", "2024-03-02 09:15:00"},
      {"txDateFrom=24-3-1&txTimeFrom=08:00&txDateTo=2024-03-02&txTimeTo=09:15", "", ""},
      {"txDateFrom=2024-03-01&txTimeFrom=8:0&txDateTo=2024-03-02&txTimeTo=09:15", "",
       "2024-03-02 09:15:00"},
      {"txDateFrom=2024-03-01&txTimeFrom=08:00&txDateTo=24-3-2&txTimeTo=09:15",
       "2024-03-01 08:00:00", ""},
      {"txDateFrom=2024-03-01&txTimeFrom=08:00&txDateTo=2024-03-02&txTimeTo=915",
       "2024-03-01 08:00:00", ""},
      {"txDateFrom=2024-03-01&txTimeFrom=1230&txDateTo=2024-03-02&txTimeTo=8%3A30",
       "2024-03-01 00:00:00", "2024-03-02 00:00:00"},
  };
  for (const Case& c : cases) {
    std::string from, to;
    TakeRequestPeriod(c.request, from, to);
    EXPECT_EQ(from, c.from) << c.request;
    EXPECT_EQ(to, c.to) << c.request;
  }
}

// What the report records of a request in its selection file: the dates as
// sent, the end only behind a start date.
TEST(RequestPeriod, ValuesAsSent) {
  RequestPeriod shortStart = ReadRequestPeriod("txDateFrom=24-3-1&txDateTo=2024-03-02");
  EXPECT_EQ(shortStart.dateFrom, "24-3-1");
  EXPECT_FALSE(shortStart.startDated);
  EXPECT_EQ(shortStart.dateTo, "");

  RequestPeriod noTimes = ReadRequestPeriod("txDateFrom=2024-03-01&txDateTo=24-3-2&txTimeTo=9:15");
  EXPECT_TRUE(noTimes.startDated);
  EXPECT_FALSE(noTimes.fromGiven);
  EXPECT_EQ(noTimes.dateTo, "24-3-2");
  EXPECT_FALSE(noTimes.toGiven);
  EXPECT_EQ(noTimes.timeTo, "");
}

TEST(DisplayPeriodText, TakesThePartsByPosition) {
  struct Case {
    const char* period;
    const char* display;
  } cases[] = {
      {"2024-03-01 08:07:06", "01.03.2024 08:07:06"},
      {"2024-03-01 ", "01.03.2024 "},
      {"2024-03-01 08:07:06:05", "01.03.2024 08:07:06"},
      {"2024-03-05 07:30", "05.03.2024 07:30"},
      {"", ".. "},
  };
  for (const Case& c : cases) EXPECT_EQ(DisplayPeriodText(c.period), c.display) << c.period;
}

}  // namespace
