// The one statement of a run.
#pragma once

#include <string>
#include <vector>

#include "histquery/reportstate.h"

// The statement of the run's mode: the report or the deletion of the chosen
// objects' rows of the period (every object's without any), or the free SQL
// text with the period bound to the condition of every "where" (BindPeriod).
std::string BuildStatement(const ReportState& state);

// The condition of the deletion: the period and the chosen objects (every
// object without any), without any State condition.
std::string DeletionCondition(const ReportState& state);

// The chosen objects' names as the statement compares them with ObjName:
// form-decoded, upper-cased, a NUL byte as a blank.
std::vector<std::string> ComparedNames(const ReportState& state);
