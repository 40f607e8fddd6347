// What a run reads or changes: the rows of the report and the views, the
// free SQL text with its period, and the condition of the deletion, which
// goes in slices (deletion.h).
#pragma once

#include <string>
#include <vector>

#include "common/datetime.h"
#include "common/historyreader.h"
#include "histquery/selection.h"

// The rows of the period and the chosen objects (every object's without
// any) that the object report and the views show.
HistoryRead ReportRead(const Selection& selection);

// The free SQL text with the period bound to the condition of every "where"
// (BindPeriod).
std::string SqlStatement(const std::string& sqlText, const PeriodStamps& stamps);

// The condition of the deletion: the period and the chosen objects (every
// object without any), without any State condition, so that it also removes
// the rows that the report leaves out.
std::string DeletionCondition(const PeriodStamps& stamps, const std::vector<std::string>& names);
