#include "common/period.h"

#include "common/textops.h"

namespace {

constexpr size_t kMinTime = 4;  // a shorter time value is no time

// The end that wins: the preferred source's where it gives one.
const std::string& Winner(const std::string& preferred, const std::string& other) {
  return preferred.empty() ? other : preferred;
}

}  // namespace

RequestPeriod ReadRequestPeriod(const PeriodValues& sent) {
  RequestPeriod period;
  period.dateFrom = sent.dateFrom;
  if (period.dateFrom.size() < kMinPeriodDate) return period;
  period.startDated = true;
  if (sent.timeFrom.size() >= kMinTime) {
    period.timeFrom = NormalizeRequestTime(sent.timeFrom);
    period.fromGiven = true;
  }
  period.dateTo = sent.dateTo;
  if (period.dateTo.size() < kMinPeriodDate) return period;
  if (sent.timeTo.size() >= kMinTime) {
    period.timeTo = NormalizeRequestTime(sent.timeTo);
    period.toGiven = true;
  }
  return period;
}

std::string NormalizeRequestTime(std::string time) {
  ReplaceAll(time, "%3A", ":");
  if (time.size() <= 7) time += ":00";
  if (time.size() <= 7) time = "00:00:00";
  return time;
}

std::string DisplayPeriodText(const std::string& period) {
  return TextPiece(period, 8, 2) + "." + TextPiece(period, 5, 2) + "." + TextPiece(period, 0, 4) +
         " " + TextPiece(period, 11, 8);
}

Period TakePeriod(const RequestPeriod& request, const PeriodValues& file,
                  const PeriodRules& rules) {
  // Each source's ends as "date time", empty where it gives none. A file's
  // time is taken as read: no decoding, no completion.
  std::string requestFrom = request.fromGiven ? request.dateFrom + " " + request.timeFrom : "";
  std::string requestTo = request.toGiven ? request.dateTo + " " + request.timeTo : "";
  std::string fileFrom =
      file.dateFrom.size() >= kMinPeriodDate ? file.dateFrom + " " + file.timeFrom : "";
  std::string fileTo = file.dateTo.size() >= kMinPeriodDate ? file.dateTo + " " + file.timeTo : "";

  Period period;
  bool fileWins = rules.winner == PeriodSource::SelectionFile;
  period.from = fileWins ? Winner(fileFrom, requestFrom) : Winner(requestFrom, fileFrom);
  period.to = fileWins ? Winner(fileTo, requestTo) : Winner(requestTo, fileTo);
  period.displayFrom = DisplayPeriodText(period.from);
  period.displayTo = DisplayPeriodText(period.to);
  if (period.from.size() < rules.minTextLength || period.to.size() < rules.minTextLength) {
    period.fault = PeriodFault::TooShort;
  } else if (!DateTimeReadable(period.displayFrom.c_str(), '.', rules.reading)) {
    period.fault = PeriodFault::StartUnreadable;
  } else if (!DateTimeReadable(period.displayTo.c_str(), '.', rules.reading)) {
    period.fault = PeriodFault::EndUnreadable;
  } else {
    // An end that reads as no date would be taken as 1970 or -1, and a start
    // after the end matches nothing: either would answer another period than
    // the one asked for.
    period.stamps = ConvertPeriod(period.displayFrom, period.displayTo);
    if (period.stamps.from > period.stamps.to) period.fault = PeriodFault::Reversed;
  }
  return period;
}
