// The period of a history selection as both history programs take it: the
// request's values, the selection file's values, the display text.
#pragma once

#include <string>

// A selection file's period values and the request's date values count as a
// date from this length on; a shorter one is no date.
constexpr size_t kMinPeriodDate = 7;

// The period values of a request ("txDateFrom=...&txTimeFrom=..." items).
// Without a start date long enough the end is not read either.
struct RequestPeriod {
  std::string dateFrom;     // as sent, also when too short
  std::string timeFrom;     // HH:MM:SS; only when fromGiven
  std::string dateTo;       // read only when startDated
  std::string timeTo;       // HH:MM:SS; only when toGiven
  bool startDated = false;  // dateFrom is long enough: the rest was read
  bool fromGiven = false;   // start date and time both usable
  bool toGiven = false;     // end date and time both usable
};

RequestPeriod ReadRequestPeriod(const std::string& request);

// The period of the request, YYYY-MM-DD HH:MM:SS. Ends that the request does
// not give leave the texts as they were.
void TakeRequestPeriod(const std::string& request, std::string& periodFrom, std::string& periodTo);

// The period of a selection file's values: each end that has a date becomes
// "date time", its time taken as read (no decoding, no completion); an end
// without a date leaves the text as it was.
void JoinFilePeriod(const std::string& dateFrom, const std::string& timeFrom,
                    const std::string& dateTo, const std::string& timeTo, std::string& periodFrom,
                    std::string& periodTo);

// A request's time value ("HH:MM" or "HH:MM:SS", each ":" possibly sent as
// "%3A") as HH:MM:SS; a value still too short after padding is midnight.
std::string NormalizeRequestTime(std::string time);

// "YYYY-MM-DD HH:MM:SS" re-ordered by position to "DD.MM.YYYY HH:MM:SS";
// a text cut short gives what is there.
std::string DisplayPeriodText(const std::string& period);
