// The statement text both history programs send for a period and objects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "(TimeStamp >= FROM and TimeStamp <= TO)": both ends inclusive.
std::string PeriodCondition(int32_t fromStamp, int32_t toStamp);

// " and (ObjName = 'A' or ObjName = 'B')" for the names as compared (already
// upper-cased), each quoted into its literal; empty without names.
std::string ObjectCondition(const std::vector<std::string>& names);

// " and State is not \"X\"": the rows a report shows. A row without a State
// is not "X" either: the report's delete link removes it, so the report must
// show it.
extern const char kShownRowsCondition[];

// Rows of the period that a report shows; with names, only theirs in time
// order.
std::string ReportStatement(int32_t fromStamp, int32_t toStamp,
                            const std::vector<std::string>& names);
