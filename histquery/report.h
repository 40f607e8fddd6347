// The rows of the statement as they come, and the statement run itself.
#pragma once

#include <cstdio>
#include <string>

#include "histquery/reportstate.h"

// Row handler for RunHistoryStatement: prints one row of `Report` to
// standard output. Always 0, so the statement runs to its end.
int ReportRow(void* unused, int columnCount, char** values, char** names);

// One row: a table row in SQL mode (the first counted row opens the table),
// a report line in object mode. A row whose first value is null or "NULL" is
// neither counted nor printed.
void PrintRow(FILE* out, ReportState& state, int columnCount, char** values, char** names);

struct StatementGuard;

// Runs `sql` on the store with ReportRow, within `guard`.
RunOutcome RunReportStatement(const std::string& storePath, const std::string& sql,
                              StatementGuard& guard);
