// The one statement of a run.
#pragma once

#include <string>

#include "histquery/reportstate.h"

// Object mode: form-decodes and upper-cases the chosen names into `state.objectNames`, sets
// `state.deleteFlag` for "ACTION=DEL" and returns the report or deletion
// statement for the period and those objects (every object when none).
std::string BuildObjectStatement(ReportState& state);

// SQL mode: the free SQL text with the period bound to the condition of
// every "where" (BindPeriod).
std::string BuildSqlStatement(const ReportState& state);
