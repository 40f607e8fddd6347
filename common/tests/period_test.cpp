#include "common/period.h"

#include <gtest/gtest.h>

#include <string>

#include "common/textops.h"

namespace {

// How the two programs take the period: the report lets the request win, the
// series export the selection file, and refuses short or odd ends itself.
const PeriodRules kReport = {PeriodSource::Request, kAnyPeriodLength, DateReading::AsParsed};
const PeriodRules kSeries = {PeriodSource::SelectionFile, 11, DateReading::DigitsFirst};

// The period values of a request text, as the programs look them up.
PeriodValues Sent(const std::string& request) {
  return {GetKeyValue("txDateFrom=", request, '&'), GetKeyValue("txTimeFrom=", request, '&'),
          GetKeyValue("txDateTo=", request, '&'), GetKeyValue("txTimeTo=", request, '&')};
}

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

// Each end from the source that gives it, the request's or the file's first
// as the rules say; then the checks in their order.
TEST(TakePeriod, EndsFromRequestAndFile) {
  const char* both = "txDateFrom=2024-03-01&txTimeFrom=08:00&txDateTo=2024-03-02&txTimeTo=08:00";
  struct Case {
    const char* request;
    PeriodValues file;
    const PeriodRules& rules;
    const char* from;
    const char* to;
    PeriodFault fault;
  } cases[] = {
      // The request alone, as either program takes it.
      {"DFW=h.dat&txDateFrom=2024-03-01&txTimeFrom=08%3A00&txDateTo=2024-03-02&txTimeTo=09%3A15",
       {},
       kSeries,
       "2024-03-01 08:00:00",
       "2024-03-02 09:15:00",
       PeriodFault::None},
      {"txDateFrom=24-3-1&txTimeFrom=08:00&txDateTo=2024-03-02&txTimeTo=09:15",
       {},
       kReport,
       "",
       "",
       PeriodFault::StartUnreadable},
      {"txDateFrom=2024-03-01&txTimeFrom=8:0&txDateTo=2024-03-02&txTimeTo=09:15",
       {},
       kReport,
       "",
       "2024-03-02 09:15:00",
       PeriodFault::StartUnreadable},
      {"txDateFrom=2024-03-01&txTimeFrom=08:00&txDateTo=24-3-2&txTimeTo=09:15",
       {},
       kReport,
       "2024-03-01 08:00:00",
       "",
       PeriodFault::EndUnreadable},
      {"txDateFrom=2024-03-01&txTimeFrom=08:00&txDateTo=2024-03-02&txTimeTo=915",
       {},
       kSeries,
       "2024-03-01 08:00:00",
       "",
       PeriodFault::TooShort},
      {"txDateFrom=2024-03-01&txTimeFrom=1230&txDateTo=2024-03-02&txTimeTo=8%3A30",
       {},
       kReport,
       "2024-03-01 00:00:00",
       "2024-03-02 00:00:00",
       PeriodFault::None},
      // The selection file's ends win in the export, each on its own; a file
      // date without time is the date and one blank, a time is taken as read.
      {both,
       {"2025-01-01", "", "", ""},
       kSeries,
       "2025-01-01 ",
       "2024-03-02 08:00:00",
       PeriodFault::Reversed},
      {both,
       {"2025-01-01", "", "2025-01-02", "7%3A00"},
       kSeries,
       "2025-01-01 ",
       "2025-01-02 7%3A00",
       PeriodFault::None},
      {both,
       {"25-1-1", "10:00:00", "", ""},
       kSeries,
       "2024-03-01 08:00:00",
       "2024-03-02 08:00:00",
       PeriodFault::None},  // a short file date gives no end
      {both,
       {"2025-1-", "", "", ""},
       kSeries,
       "2025-1- ",
       "2024-03-02 08:00:00",
       PeriodFault::TooShort},  // the shortest text that counts as a date
      // In the report the request's ends win over the file's.
      {both,
       {"2025-01-01", "", "2025-01-02", "7%3A00"},
       kReport,
       "2024-03-01 08:00:00",
       "2024-03-02 08:00:00",
       PeriodFault::None},
      {"txDateFrom=2024-03-01&txTimeFrom=08:00",
       {"2025-01-01", "", "2025-01-02", "07:00"},
       kReport,
       "2024-03-01 08:00:00",
       "2025-01-02 07:00",
       PeriodFault::None},
      // Ends of the file that only the report reads as dates.
      {"",
       {"2024-03-1", "", "2024-03-02", ""},
       kReport,
       "2024-03-1 ",
       "2024-03-02 ",
       PeriodFault::None},
      {"",
       {"2024-03-1", "", "2024-03-02", ""},
       kSeries,
       "2024-03-1 ",
       "2024-03-02 ",
       PeriodFault::TooShort},
      {"",
       {"2024-03-01", "", "2024-03-xx", ""},
       kReport,
       "2024-03-01 ",
       "2024-03-xx ",
       PeriodFault::Reversed},  // day 0 of March: the last of February
      {"",
       {"2024-03-01", "", "2024-03-xx", ""},
       kSeries,
       "2024-03-01 ",
       "2024-03-xx ",
       PeriodFault::EndUnreadable},
      {"", {}, kReport, "", "", PeriodFault::StartUnreadable},
      {"", {}, kSeries, "", "", PeriodFault::TooShort},
  };
  for (const Case& c : cases) {
    Period period = TakePeriod(ReadRequestPeriod(Sent(c.request)), c.file, c.rules);
    std::string what = std::string(c.request) + " / " + c.file.dateFrom + " " + c.file.dateTo;
    EXPECT_EQ(period.from, c.from) << what;
    EXPECT_EQ(period.to, c.to) << what;
    EXPECT_EQ(period.fault, c.fault) << what;
  }
}

TEST(TakePeriod, StampsAndDisplayTexts) {
  Period period = TakePeriod(
      ReadRequestPeriod(Sent("txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05"
                             "&txTimeTo=23%3A59")),
      {}, kReport);
  EXPECT_EQ(period.displayFrom, "05.03.2024 07:30:00");
  EXPECT_EQ(period.displayTo, "05.03.2024 23:59:00");
  EXPECT_EQ(period.stamps.from, 1709623800);
  EXPECT_EQ(period.stamps.to, 1709683140);
  EXPECT_EQ(period.stamps.fromOffset, 3600);
}

// What the report records of a request in its selection file: the dates as
// sent, the end only behind a start date.
TEST(RequestPeriod, ValuesAsSent) {
  RequestPeriod shortStart = ReadRequestPeriod(Sent("txDateFrom=24-3-1&txDateTo=2024-03-02"));
  EXPECT_EQ(shortStart.dateFrom, "24-3-1");
  EXPECT_FALSE(shortStart.startDated);
  EXPECT_EQ(shortStart.dateTo, "");

  RequestPeriod noTimes =
      ReadRequestPeriod(Sent("txDateFrom=2024-03-01&txDateTo=24-3-2&txTimeTo=9:15"));
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
