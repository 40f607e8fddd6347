#include "histseries/request.h"

#include "common/textops.h"
#include "histseries/texts.h"

namespace {

// An end whose text is cut short, or whose day, month or year does not begin
// with a digit, is refused: the conversion would take it for 1970 or -1 and
// export another period than the one asked for.
constexpr PeriodRules kSeriesPeriodRules = {true, 11, DateReading::DigitsFirst};

}  // namespace

Period TakeExportPeriod(const char* argument, const PeriodValues& file) {
  PeriodValues sent;
  if (argument != nullptr) {
    sent = {GetKeyValue("txDateFrom=", argument, '&'), GetKeyValue("txTimeFrom=", argument, '&'),
            GetKeyValue("txDateTo=", argument, '&'), GetKeyValue("txTimeTo=", argument, '&')};
  }
  return TakePeriod(ReadRequestPeriod(sent), file, kSeriesPeriodRules);
}

std::string PeriodRefusal(const Period& period) {
  switch (period.fault) {
    case PeriodFault::None:
      break;
    case PeriodFault::TooShort:
      return Formatted(kMessageNoPeriod, period.from.c_str(), period.to.c_str());
    case PeriodFault::StartUnreadable:
      return Formatted(kMessageUnreadablePeriod, period.from.c_str());
    case PeriodFault::EndUnreadable:
      return Formatted(kMessageUnreadablePeriod, period.to.c_str());
    case PeriodFault::Reversed:
      return Formatted(kMessageReversedPeriod, period.from.c_str(), period.to.c_str());
  }
  return "";
}
