// The rows of the statement as they come, the statement run itself, and how
// the run ended, as the closing section tells it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/historyreader.h"
#include "common/historystore.h"
#include "histquery/request.h"
#include "histquery/sqllimits.h"

// The page's rows being printed: main owns it, and the row handler gets it
// as its context.
struct ReportPage {
  FILE* out = stdout;
  bool sqlMode = false;  // rows as an HTML table, else as report lines
  int32_t rowCount = 0;
  // The line being printed: its room is allocated for the first rows and
  // reused by all others, and each row goes out in one write.
  std::string line;
};

// Row handler for the store: prints one row into the ReportPage that
// `context` points to; a table row in SQL mode (the first row opens the
// table), a report line in object mode.
void PrintRow(void* context, const HistoryRow& row);

// Why nothing ran.
enum class NotRun {
  NoPeriod,  // no usable period
  Refused,   // a change not shown to come from our own page
};

// How a report run ended.
struct ReportEnd {
  std::optional<NotRun> notRun;
  std::optional<StoreFault> fault;  // where the store did not run to its end
  int32_t rowCount = 0;             // rows printed
  int64_t rowsDeleted = 0;          // a deletion: rows deleted, also before a stop
  std::string stopReason;           // a deletion that stopped: SQLite's message
};

// The object report's rows, read in slices (historyreader.h), printed into
// `page`. A failure's message is the store's line for standard error.
Result<Done, StoreFault> ReadReportRows(const std::string& storePath, const HistoryRead& read,
                                        const StatementLimits& limits, ReportPage& page);

// Runs the free SQL text `sql` on the store within `limits`, its rows
// printed into `page`. A failure's message is the store's line for
// standard error.
Result<Done, StoreFault> RunReportStatement(const std::string& storePath, const std::string& sql,
                                            const StatementLimits& limits, ReportPage& page);
