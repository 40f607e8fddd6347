// The export request: the argument, the selection file it names (object and
// period lines, read through common/selection), the chosen objects without
// repeats, the period as the export takes it (common/period), and the one
// query for all objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/historyreader.h"
#include "common/period.h"
#include "common/selection.h"

// Build-time sizes of the selection.
constexpr size_t kMaxSeriesObjects = 24;

// What a selection file holds (objects at most kMaxSeriesObjects).
using Selection = SelectionFileValues;

// What an export is asked for.
struct ExportRequest {
  std::vector<SelectionEntry> objects;       // in list order, repeated names left out
  std::vector<std::string> repeatedObjects;  // the names left out, in list order
  Period period;
};

// The argument (null: none) and the selection file it names, read in that
// order: the whole request of a run.
ExportRequest ReadExportRequest(const char* argument);

// The request of an argument and a selection file already read.
ExportRequest TakeExportRequest(const char* argument, Selection selection);

// Name of the selection file to read: "history.dat" without a request, else
// the request's "DFW=" value (empty when it has none).
std::string SelectionFileName(const char* request);

// Opens the named selection file, or "history.vid" when that fails, and reads
// it. Neither file: the selection stays empty.
void LoadSelection(const std::string& fileName, Selection& selection);

// Reads the open selection file up to its end or its 24th object line.
void ReadSelectionFile(FILE* file, Selection& selection);

// Removes every entry whose name, upper-cased as the query compares it,
// repeats an earlier entry's: the rows go to the first one only, and the
// later one's file would replace the first one's. Returns the names of the
// entries removed, in list order, for the caller to report.
std::vector<std::string> DropRepeatedObjects(std::vector<SelectionEntry>& objects);

// The period of the argument (null: none) and the selection file's period
// values: the file's ends win, an end cut short or whose day, month or year
// does not begin with a digit is refused.
Period TakeExportPeriod(const char* argument, const PeriodValues& file);

// The message on standard error for a period that is not usable.
std::string PeriodRefusal(const Period& period);

// The one read for all objects: rows of the period (both ends inclusive),
// State not "X", the chosen objects in time order.
HistoryRead SeriesRead(const PeriodStamps& stamps, const std::vector<SelectionEntry>& objects);
