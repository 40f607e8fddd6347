#include "histquery/statement.h"

#include "common/historystatement.h"
#include "common/textops.h"
#include "histquery/request.h"
#include "histquery/sqlperiod.h"

std::vector<std::string> ComparedNames(const ReportState& state) {
  std::vector<std::string> names;
  for (int k = 0; k < state.entryCount && k < kMaxObjectNames; ++k) {
    // Names arrive in the browser's form encoding ("K%FCche+Licht"), and are
    // compared as the recorder wrote them.
    // A NUL byte would end the statement text inside the literal.
    std::string name = FormDecoded(state.entries[k].name);
    for (char& c : name) {
      if (c == '\0') c = ' ';
    }
    names.push_back(UpperCase(name));
  }
  return names;
}

std::string DeletionCondition(const ReportState& state) {
  // The deletion has no State condition: it also removes the rows that the
  // report leaves out.
  return PeriodCondition(state.period.stamps.from, state.period.stamps.to) +
         ObjectCondition(ComparedNames(state));
}

std::string BuildStatement(const ReportState& state) {
  const PeriodStamps& stamps = state.period.stamps;
  switch (state.request.mode) {
    case ReportMode::Objects:
      return ReportStatement(stamps.from, stamps.to, ComparedNames(state));
    case ReportMode::Deletion:
      return "delete from HISTORY where " + DeletionCondition(state);
    case ReportMode::Sql:
      return BindPeriod(state.request.sqlText, PeriodCondition(stamps.from, stamps.to));
  }
  return "";
}
