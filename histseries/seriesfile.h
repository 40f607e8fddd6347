// The series file writer: one text file per chosen object, fed row by row
// from the history query, which delivers the rows in TimeStamp order.
//
// A series file (object name + ".sqr") holds
//   Zeit, <label>                 header, before the object's first row
//   <time>,<value>                data lines; kind U also "<time>,1"/"<time>,0"
//   <periodTo>,<last value>       closing line, always
// The first data line carries periodFrom, every other one the row's TimeStamp
// as YYYY-MM-DD HH:MM:SS.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/replacefile.h"
#include "histseries/request.h"

// Room of a value text: 31 characters and the terminator. Longer texts are
// cut there.
constexpr size_t ValueTextSize = 32;

// Thinning of kind N curves: a row is written when its value moved by more
// than the deadband or when more than maxGap seconds passed since the last
// written row. Longer periods thin harder.
constexpr float DefaultDeadband = 0.09f;
constexpr int32_t DefaultMaxGap = 1800;
constexpr int64_t WeekSeconds = 604800;
constexpr float WeekDeadband = 0.19f;
constexpr int32_t WeekMaxGap = 3600;
constexpr int64_t FourWeeksSeconds = 2419200;
constexpr float FourWeeksDeadband = 0.29f;
constexpr int32_t FourWeeksMaxGap = 10800;

struct SeriesObject {
  // The series file, name + ".sqr", written beside its place until
  // CloseSeries renames it there. A null stream: no series file (OpenSeries).
  FileReplacement output;
  // Holds a lock on the temporary file while it is written, so that the
  // leftover sweep of another run never takes it for one of a killed run.
  int tempLock = -1;
  std::string name;      // upper-cased, compared with each row's ObjName
  std::string label;
  char lastText[ValueTextSize] = " ";  // value last written (N) or handled (C, U)
  bool headerPending = true;
  float lastValue = 0;   // value last written (N)
  int32_t lastTime = 0;  // time of the row last written (N) or handled (C, U)
  char kind = '\0';
};

// The state of one export run.
struct ExportState {
  std::string periodFrom;  // YYYY-MM-DD HH:MM:SS, begins each first data line
  std::string periodTo;    // begins each closing line
  float deadband = DefaultDeadband;
  int32_t maxGap = DefaultMaxGap;
  SeriesObject series[MaxSeriesObjects];
  int seriesCount = 0;  // entries in use
  bool seriesFailed = false;  // a series file was not created or not written
};

extern ExportState Export;

// False for a name whose series file would not lie in the working directory.
bool IsPlainFileName(const std::string& name);

// Removes the temporary series files (name + ".sqr." + six letters or
// digits) of the chosen objects that a run killed while writing left behind.
// A temporary that a running export still holds is left alone.
void RemoveLeftoverSeries(const std::vector<SelectionEntry>& objects);

// Prepares entry `index` for `entry` and creates its series file, under a
// temporary name beside it. An object whose name is not a plain file name, or
// whose file cannot be created, gets no series file; a message on standard
// error says so.
void OpenSeries(int index, const SelectionEntry& entry);

// Sets the thinning limits for a period of `periodLength` seconds.
void SelectThinning(int64_t periodLength);

// The row handler of the history query (columns: 1 TimeStamp, 2 ObjName,
// 4 value text). Always 0: every row is taken.
int OnHistoryRow(void* context, int columnCount, char** columns, char** columnNames);

// Writes the closing line of entry `index`, closes its file and renames it
// into place. When any write or the close failed (a full disk), the previous
// series file stays as it was, the temporary is removed and a message on
// standard error says so.
void CloseSeries(int index);

// Ends entry `index` after the history query failed: the previous series file
// stays as it was (a message on standard error says so); where there is none
// yet, the series is closed as usual, so the caller still finds a file.
void AbandonSeries(int index);
