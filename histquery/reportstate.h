// The one record of a report run: main owns it, and hands it to the row
// handler as its context.
#pragma once

#include <cstdint>
#include <string>

#include "common/period.h"
#include "common/selection.h"
#include "histquery/request.h"

constexpr int kMaxEntries = 12;

// How the statement of a run went, as the closing section tells it.
enum class RunOutcome {
  NoPeriod,    // no usable period: nothing was run
  Ran,         // the statement ran to its end
  Missing,     // there is no history.db
  OpenFailed,  // SQLite could not open it
  Failed,      // the statement failed (locked, syntax error, missing table, a limit ...)
  Refused,     // a change not shown to come from our own page: nothing was run
};

struct ReportState {
  ReportRequest request;
  // The request asks for a change (ChangesHistory) that the browser does not
  // show to come from a page of this host: nothing runs, nothing is saved.
  bool refused = false;
  std::string deleteLink;  // what follows "ACTION=DEL&" in the delete link
  Period period;           // usable: both ends are dates and the start is not after the end
  SelectionEntry entries[kMaxEntries];
  int32_t entryCount = 0;  // at most kMaxObjectNames
  int32_t rowCount = 0;
  // A deletion: the rows it deleted, and SQLite's message where it stopped
  // before its end.
  int64_t rowsDeleted = 0;
  std::string stopReason;
  // The object report's line being printed: its room is allocated for the
  // first rows and reused by all others, and each row goes out in one write.
  std::string line;
};
