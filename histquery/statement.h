// The statement of a run: the report's select or the free SQL text, and the
// condition of the deletion, which goes in slices (deletion.h).
#pragma once

#include <string>
#include <vector>

#include "common/datetime.h"
#include "histquery/request.h"
#include "histquery/selection.h"

// The report of the chosen objects' rows of the period (every object's
// without any), or the free SQL text with the period bound to the condition
// of every "where" (BindPeriod). A deletion has no statement of its own.
std::string BuildStatement(const ReportRequest& request, const Selection& selection);

// The condition of the deletion: the period and the chosen objects (every
// object without any), without any State condition, so that it also removes
// the rows that the report leaves out.
std::string DeletionCondition(const PeriodStamps& stamps, const std::vector<std::string>& names);
