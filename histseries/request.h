// The export request: argument, selection file, period and the one query.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/period.h"
#include "common/selection.h"

// Build-time sizes of the selection.
constexpr size_t MaxSeriesObjects = 24;

// What a selection file holds (objects at most MaxSeriesObjects).
using Selection = SelectionFileValues;

// Reads the open selection file up to its end or its 24th object line.
void ReadSelectionFile(FILE* file, Selection& selection);

// Name of the selection file to read: "history.dat" without a request, else
// the request's "DFW=" value (empty when it has none).
std::string SelectionFileName(const char* request);

// Opens the named selection file, or "history.vid" when that fails, and reads
// it. Neither file: the selection stays empty.
void LoadSelection(const std::string& fileName, Selection& selection);

// A period text that holds at least a date, a blank and the start of a time.
bool PeriodTextUsable(const std::string& periodText);

// True when a re-ordered period end "DD.MM.YYYY HH:MM:SS" reads as a date:
// day, month and year begin with a digit, the day is at most 31, the month
// at most 12, and the date lies within the 32-bit time stamps. The date
// conversion turns anything else into 1970 or -1, which would export the
// wrong period.
bool PeriodEndReadable(const std::string& displayText);

// Removes every entry whose name, upper-cased as the query compares it,
// repeats an earlier entry's: the rows go to the first one only, and the
// later one's file would replace the first one's. A message on standard
// error names each entry removed.
void DropRepeatedObjects(std::vector<SelectionEntry>& objects);

// The one query for all objects: rows of the period (both ends inclusive),
// State not "X", the chosen objects in time order.
std::string BuildSeriesQuery(int32_t fromSeconds, int32_t toSeconds,
                             const std::vector<SelectionEntry>& objects);
