#include "common/historystatement.h"

#include "common/textops.h"

const char kShownRowsCondition[] = " and State is not \"X\"";

std::string PeriodCondition(int32_t fromStamp, int32_t toStamp) {
  return "(TimeStamp >= " + IntToString(fromStamp) + " and TimeStamp <= " + IntToString(toStamp) +
         ")";
}

std::string ObjectCondition(const std::vector<std::string>& names) {
  if (names.empty()) return "";
  std::string condition = " and (";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) condition += " or ";
    // Names go into a string literal: a quote in a name must not end it.
    condition += "ObjName = '" + SqlQuoted(names[i]) + "'";
  }
  return condition + ")";
}

std::string ReportStatement(int32_t fromStamp, int32_t toStamp,
                            const std::vector<std::string>& names) {
  std::string sql =
      "select * from HISTORY where " + PeriodCondition(fromStamp, toStamp) + kShownRowsCondition;
  if (names.empty()) return sql;
  return sql + ObjectCondition(names) + " order by TimeStamp";
}
