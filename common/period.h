// The period of a history selection, as both history programs take it: from
// the request's values and the selection file's values to the period's texts
// (YYYY-MM-DD HH:MM:SS and the display form DD.MM.YYYY HH:MM:SS) and its
// stamps, or the reason there is none. Where the programs differ (which
// source wins, how strictly an end must read) they say so in PeriodRules.
#pragma once

#include <cstddef>
#include <string>

#include "common/datetime.h"

// A selection file's period values and the request's date values count as a
// date from this length on; a shorter one is no date.
constexpr size_t kMinPeriodDate = 7;

// The four period values as a request or a selection file gives them.
struct PeriodValues {
  std::string dateFrom;
  std::string timeFrom;
  std::string dateTo;
  std::string timeTo;
};

// A request's period values as a request gives a period: times completed,
// and without a start date long enough the end is not read either.
struct RequestPeriod {
  std::string dateFrom;     // as sent, also when too short
  std::string timeFrom;     // HH:MM:SS; only when fromGiven
  std::string dateTo;       // read only when startDated
  std::string timeTo;       // HH:MM:SS; only when toGiven
  bool startDated = false;  // dateFrom is long enough: the rest was read
  bool fromGiven = false;   // start date and time both usable
  bool toGiven = false;     // end date and time both usable
};

RequestPeriod ReadRequestPeriod(const PeriodValues& sent);

// A request's time value ("HH:MM" or "HH:MM:SS", each ":" possibly sent as
// "%3A") as HH:MM:SS; a value still too short after padding is midnight.
std::string NormalizeRequestTime(std::string time);

// "YYYY-MM-DD HH:MM:SS" re-ordered by position to "DD.MM.YYYY HH:MM:SS";
// a text cut short gives what is there.
std::string DisplayPeriodText(const std::string& period);

// Which source's end wins where both give one.
enum class PeriodSource { Request, SelectionFile };

// Period texts of any length are read (a short one reads as no date).
constexpr size_t kAnyPeriodLength = 0;

// What a program asks of a period; each field is named by its type:
// {PeriodSource::Request, kAnyPeriodLength, DateReading::AsParsed}.
struct PeriodRules {
  PeriodSource winner;
  // A shorter period text is no period at all.
  size_t minTextLength;
  // How strictly the display text of each end must read as a date.
  DateReading reading;
};

// Why a period cannot bound a statement.
enum class PeriodFault {
  None,
  TooShort,         // an end's text is shorter than the rules' minTextLength
  StartUnreadable,  // the start reads as no date
  EndUnreadable,    // the end reads as no date
  Reversed,         // the start lies after the end
};

struct Period {
  // Each end as the winning source gives it: the request's "date time" (time
  // completed), the file's "date time" (the time as read, no completion);
  // empty where neither gives the end.
  std::string from;
  std::string to;
  std::string displayFrom;  // DD.MM.YYYY HH:MM:SS, by position
  std::string displayTo;
  PeriodStamps stamps;  // once both ends read as dates
  PeriodFault fault = PeriodFault::None;

  bool Usable() const { return fault == PeriodFault::None; }
};

// The period of a request's values and a selection file's values: an end
// counts from a source where its date has kMinPeriodDate characters (and,
// for the request, its time is usable); the ends are checked and converted in
// the order of the faults above.
Period TakePeriod(const RequestPeriod& request, const PeriodValues& file, const PeriodRules& rules);
