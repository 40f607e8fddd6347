#include "histquery/statement.h"

#include <algorithm>
#include <vector>

#include "common/historystatement.h"
#include "common/textops.h"
#include "histquery/request.h"
#include "histquery/sqlperiod.h"

std::string BuildObjectStatement(ReportState& state) {
  for (int k = 0; k < state.entryCount && k < kMaxObjectNames; ++k) {
    // Names arrive in the browser's form encoding ("K%FCche+Licht"), and are
    // compared as the recorder wrote them.
    // A NUL byte would end the statement text inside the literal.
    std::string name = FormDecoded(state.entries[k].name);
    for (char& c : name) {
      if (c == '\0') c = ' ';
    }
    state.objectNames[k] = UpperCase(name);
  }
  state.deleteFlag = GetKeyValue("ACTION=", state.request, '&') == "DEL";
  std::vector<std::string> names(
      state.objectNames, state.objectNames + std::min<int>(state.entryCount, kMaxObjectNames));
  // The deletion has no State condition: it also removes the rows that the
  // report leaves out.
  std::string sql = state.deleteFlag
                        ? "delete from HISTORY where " +
                              PeriodCondition(state.period.stamps.from, state.period.stamps.to) +
                              ObjectCondition(names)
                        : ReportStatement(state.period.stamps.from, state.period.stamps.to, names);
  return sql;
}

std::string BuildSqlStatement(const ReportState& state) {
  return BindPeriod(state.sqlText,
                    PeriodCondition(state.period.stamps.from, state.period.stamps.to));
}
