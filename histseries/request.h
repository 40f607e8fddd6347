// The export request: argument, selection file, period and the one query.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/selection.h"

// Build-time sizes of the selection.
constexpr int MaxSeriesObjects = 24;
constexpr int SelectionLineRead = 255;   // fgets size: 254 characters per read
constexpr size_t ObjectValueLimit = 128;  // characters of an object line's value

// What a selection file holds. The period texts stay empty until a line sets
// them; a later line of the same key replaces an earlier one.
struct Selection {
  std::vector<SelectionEntry> objects;  // at most MaxSeriesObjects
  std::string dateFrom;
  std::string timeFrom;
  std::string dateTo;
  std::string timeTo;
};

// Reads the open selection file up to its end or its 24th object line.
void ReadSelectionFile(FILE* file, Selection& selection);

// Name of the selection file to read: "history.dat" without a request, else
// the request's "DFW=" value (empty when it has none).
std::string SelectionFileName(const char* request);

// Opens the named selection file, or "history.vid" when that fails, and reads
// it. Neither file: the selection stays empty.
void LoadSelection(const std::string& fileName, Selection& selection);

// The period of the request, YYYY-MM-DD HH:MM:SS. Ends that the request does
// not give leave the texts as they were.
void TakeRequestPeriod(const std::string& request, std::string& periodFrom,
                       std::string& periodTo);

// The selection file's period, which takes precedence over the request's.
void TakeFilePeriod(const Selection& selection, std::string& periodFrom, std::string& periodTo);

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
