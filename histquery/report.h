// The rows of the statement as they come, the statement run itself, and how
// the run ended, as the closing section tells it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/historyreader.h"
#include "common/historystore.h"
#include "common/period.h"
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

// Which bound stopped a free SQL text, as its page names it.
enum class SqlStop {
  TooLong,       // its deadline
  PageTooLarge,  // the page's bound: the rows shown are the first
  TempStorage,   // the bound of temporary files
  Memory,        // the heap's bound
};

// The links of a report of more than one page.
struct PageLinks {
  int64_t first = 0;  // the numbers of the first and last row shown, from 1
  int64_t last = 0;
  bool lastPage = false;  // no page follows: `last` is the number of rows
  std::string previous;   // the request of the page before, empty for none
  std::string next;       // the request of the page after, empty for none
  std::string views;      // the selection as request keys (chart, download)
};

// How a report run ended.
struct ReportEnd {
  std::optional<NotRun> notRun;
  PeriodFault periodFault = PeriodFault::None;  // NoPeriod: why
  std::optional<StoreFault> fault;              // where the store did not run to its end
  std::optional<SqlStop> sqlStop;
  int64_t stopBound = 0;           // the bound that stopped it, in milliseconds or MB
  int32_t rowCount = 0;            // rows printed
  std::optional<PageLinks> pages;  // a report of more than one page
  int64_t hiddenRows = 0;          // rows of the period not shown (State "X"), where known
  // Chosen objects without a row in the period (their labels, or names),
  // where the page knows all of the period's rows.
  std::vector<std::string> emptyObjects;
  int64_t rowsDeleted = 0;  // a deletion: rows deleted, also before a stop
  std::string stopReason;   // a deletion that stopped: SQLite's message
};

// A report shows at most this many rows a page; a page of rows of unusual
// size ends before this many bytes.
constexpr size_t kPageRows = 500;
constexpr long kPageBytes = 256 * 1024;

// Where a page of the report begins, and the rows shown and hidden before
// it (none for the first).
struct PageStart {
  std::optional<HistoryPlace> place;
  int64_t shown = 0;
  int64_t hidden = 0;
};

// The requests a page's links repeat: the report's without its page keys
// (as the delete link repeats it), and the selection for the chart and the
// download.
struct PageRequests {
  std::string report;
  std::string views;
};

// One page of the object report: its rows, read in slices (historyreader.h)
// and printed into `page` (the page's links before them where there is more
// than one page), with the rows of `read` from `start`. A failure's message
// in `message` is the store's line for standard error.
ReportEnd RunReportPage(const std::string& storePath, HistoryRead read, const PageStart& start,
                        const PageRequests& requests, const StatementLimits& limits,
                        ReportPage& page, std::string& message);

// Runs the free SQL text `sql` on the store within `limits` and prints its
// rows into `page` once the statement has ended: its lock never waits for a
// client. `lastWords` end the page should the run have to stop itself
// (ArmWallDeadline); `beforeWrite`, where set, is called once before a text
// that may change rows runs. The end's fault and bound, and the store's line
// for standard error in `message`.
ReportEnd RunFreeText(const std::string& storePath, const std::string& sql,
                      const StatementLimits& limits, const std::string& lastWords,
                      void (*beforeWrite)(), ReportPage& page, std::string& message);
