// The one record of an export run, shared by the main sequence (the period,
// the outcome) and the series writer that fills it from the rows SQLite
// hands over. The writer in seriesfile.cpp holds the record itself.
#pragma once

#include <cstdint>
#include <string>

#include "common/replacefile.h"
#include "histseries/selectionfile.h"

// Room of a value text: 31 characters and the terminator. Longer texts are
// cut there.
constexpr size_t kValueTextSize = 32;
// Stream buffer of each series file being written.
constexpr size_t kSeriesBufferBytes = 32 * 1024;

// Thinning of kind N curves: a row is written when its value moved by more
// than the deadband or when more than maxGap seconds passed since the last
// written row. Longer periods thin harder.
constexpr float kDefaultDeadband = 0.09f;
constexpr int32_t kDefaultMaxGap = 1800;
constexpr int64_t kWeekSeconds = 604800;
constexpr float kWeekDeadband = 0.19f;
constexpr int32_t kWeekMaxGap = 3600;
constexpr int64_t kFourWeeksSeconds = 2419200;
constexpr float kFourWeeksDeadband = 0.29f;
constexpr int32_t kFourWeeksMaxGap = 10800;

struct SeriesObject {
  // The series file, name + ".sqr", written beside its place until
  // CloseSeries renames it there. A null stream: no series file (OpenSeries).
  FileReplacement output;
  // Holds a lock on the temporary file while it is written: besides the
  // process id in its name, what keeps the leftover sweep of another run from
  // taking it for one of a killed run.
  int tempLock = -1;
  std::string name;  // upper-cased, compared with each row's ObjName
  std::string label;
  char lastText[kValueTextSize] = " ";  // value last written (N) or handled (C, U)
  bool headerPending = true;
  float lastValue = 0;   // value last written (N)
  int32_t lastTime = 0;  // time of the row last written (N) or handled (C, U)
  char kind = '\0';
};

// The state of one export run.
struct ExportState {
  std::string periodFrom;  // YYYY-MM-DD HH:MM:SS, begins each first data line
  std::string periodTo;    // begins each closing line
  float deadband = kDefaultDeadband;
  int32_t maxGap = kDefaultMaxGap;
  SeriesObject series[kMaxSeriesObjects];
  int seriesCount = 0;        // entries in use
  bool seriesFailed = false;  // a series file was not created or not written
};

extern ExportState Export;
