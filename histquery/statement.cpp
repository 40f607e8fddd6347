#include "histquery/statement.h"

#include "common/strings.h"
#include "histquery/request.h"

namespace {

std::string PeriodCondition(const ReportState& state) {
  return "(TimeStamp >= " + IntToString(state.fromStamp) +
         " and TimeStamp <= " + IntToString(state.toStamp) + ")";
}

}  // namespace

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
  // The deletion has no State condition: it also removes the rows that the
  // report leaves out.
  std::string sql = state.deleteFlag ? "delete from HISTORY where " + PeriodCondition(state)
                                     : "select * from HISTORY where " + PeriodCondition(state) +
                                           " and State <> \"X\"";
  if (state.entryCount > 0) {
    sql += " and (";
    for (int k = 0; k < state.entryCount && k < kMaxObjectNames; ++k) {
      if (k > 0) sql += " or ";
      sql += "ObjName = '" + SqlQuoted(state.objectNames[k]) + "'";
    }
    sql += state.deleteFlag ? ")" : ") order by TimeStamp";
  }
  return sql;
}

std::string BuildSqlStatement(const ReportState& state) {
  std::string sql = state.sqlText;
  ReplaceAll(sql, "where", "where " + PeriodCondition(state) + " and");
  return sql;
}
