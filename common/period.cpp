#include "common/period.h"

#include "common/textops.h"

namespace {

constexpr size_t kMinTime = 4;  // a shorter time value is no time

}  // namespace

RequestPeriod ReadRequestPeriod(const std::string& request) {
  RequestPeriod period;
  period.dateFrom = GetKeyValue("txDateFrom=", request, '&');
  if (period.dateFrom.size() < kMinPeriodDate) return period;
  period.startDated = true;
  std::string time = GetKeyValue("txTimeFrom=", request, '&');
  if (time.size() >= kMinTime) {
    period.timeFrom = NormalizeRequestTime(time);
    period.fromGiven = true;
  }
  period.dateTo = GetKeyValue("txDateTo=", request, '&');
  if (period.dateTo.size() < kMinPeriodDate) return period;
  time = GetKeyValue("txTimeTo=", request, '&');
  if (time.size() >= kMinTime) {
    period.timeTo = NormalizeRequestTime(time);
    period.toGiven = true;
  }
  return period;
}

void TakeRequestPeriod(const std::string& request, std::string& periodFrom, std::string& periodTo) {
  RequestPeriod period = ReadRequestPeriod(request);
  if (period.fromGiven) periodFrom = period.dateFrom + " " + period.timeFrom;
  if (period.toGiven) periodTo = period.dateTo + " " + period.timeTo;
}

void JoinFilePeriod(const std::string& dateFrom, const std::string& timeFrom,
                    const std::string& dateTo, const std::string& timeTo, std::string& periodFrom,
                    std::string& periodTo) {
  if (dateFrom.size() >= kMinPeriodDate) periodFrom = dateFrom + " " + timeFrom;
  if (dateTo.size() >= kMinPeriodDate) periodTo = dateTo + " " + timeTo;
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
