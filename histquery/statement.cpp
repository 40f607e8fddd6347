#include "histquery/statement.h"

#include "common/historystatement.h"
#include "histquery/sqlperiod.h"

HistoryRead ReportRead(const Selection& selection) {
  HistoryRead read;
  read.from = selection.period.stamps.from;
  read.to = selection.period.stamps.to;
  read.names = selection.ComparedNames();
  return read;
}

std::string SqlStatement(const std::string& sqlText, const PeriodStamps& stamps) {
  return BindPeriod(sqlText, PeriodCondition(stamps.from, stamps.to));
}

std::string DeletionCondition(const PeriodStamps& stamps, const std::vector<std::string>& names) {
  return PeriodCondition(stamps.from, stamps.to) + ObjectCondition(names);
}
