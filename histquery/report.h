// The rows of the statement as they come, and the statement run itself.
#pragma once

#include <cstdio>
#include <string>

#include "common/historystore.h"
#include "histquery/reportstate.h"
#include "histquery/sqllimits.h"

// Row handler for RunHistoryStatement: prints one row of the ReportState
// that `context` points to, on standard output.
void ReportRow(void* context, const HistoryRow& row);

// One row: a table row in SQL mode (the first row opens the table), a report
// line in object mode.
void PrintRow(FILE* out, ReportState& state, const HistoryRow& row);

// How a store's run is told on the page; the store's message stays.
Result<RunOutcome> PageOutcome(const Result<StoreOutcome>& run);

// Runs `sql` on the store within `limits` (those of a free text in SQL
// mode), its rows printed into the page of `state`; the message is the
// store's, for standard error.
Result<RunOutcome> RunReportStatement(const std::string& storePath, const std::string& sql,
                                      const StatementLimits& limits, ReportState& state);
