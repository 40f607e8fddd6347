#include "histquery/statement.h"

#include "common/historystatement.h"
#include "histquery/sqlperiod.h"

std::string DeletionCondition(const PeriodStamps& stamps, const std::vector<std::string>& names) {
  return PeriodCondition(stamps.from, stamps.to) + ObjectCondition(names);
}

std::string BuildStatement(const ReportRequest& request, const Selection& selection) {
  const PeriodStamps& stamps = selection.period.stamps;
  if (request.mode == ReportMode::Sql)
    return BindPeriod(request.sqlText, PeriodCondition(stamps.from, stamps.to));
  return ReportStatement(stamps.from, stamps.to, selection.ComparedNames());
}
