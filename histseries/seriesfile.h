// The series file writer: one text file per chosen object, fed row by row
// from the history query, which delivers the rows in TimeStamp order.
//
// A series file (object name + ".sqr") holds
//   Zeit, <label>                 header, before the object's first row
//   <time>,<value>                data lines; kind U also "<time>,1"/"<time>,0"
//   <periodTo>,<last value>       closing line, always
// The first data line carries periodFrom, every other one the row's TimeStamp
// as YYYY-MM-DD HH:MM:SS.
//
// Each step returns whether its series file holds this run's series, with
// the message for standard error where it does not; the writer prints
// nothing itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/historystore.h"
#include "common/replacefile.h"
#include "common/result.h"
#include "common/selection.h"

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

// The series of one export run: main owns it, and hands it to the row
// handler as its context.
struct SeriesTable {
  std::string periodFrom;  // YYYY-MM-DD HH:MM:SS, begins each first data line
  std::string periodTo;    // begins each closing line
  float deadband = kDefaultDeadband;
  int32_t maxGap = kDefaultMaxGap;
  std::vector<SeriesObject> series;  // one per chosen object, in list order
};

// False for a name whose series file would not lie in the working directory.
bool IsPlainFileName(const std::string& name);

// Removes the temporary series files (name + ".sqr." + process id + "." +
// six letters or digits, or without the process id as earlier versions named
// them) of the chosen objects that a run killed while writing left behind.
// A temporary whose writer still runs, or that a running export holds
// locked, is left alone.
void RemoveLeftoverSeries(const std::vector<SelectionEntry>& objects);

// Sets the thinning limits for a period of `periodLength` seconds.
void SelectThinning(SeriesTable& table, int64_t periodLength);

// Why a series file was not written; the message (for standard error) says
// which and why. The last good file stays in place.
enum class SeriesFault { NotWritten };

// Adds the series of `entry` to the table and creates its series file, under
// a temporary name beside it. An object whose name is not a plain file name,
// or whose file cannot be created, gets no series file (false).
Result<Done, SeriesFault> OpenSeries(SeriesTable& table, const SelectionEntry& entry);

// The row handler of the history query (columns: 1 TimeStamp, 2 ObjName,
// 4 value text), for the SeriesTable that `context` points to.
void OnHistoryRow(void* context, const HistoryRow& row);

// Writes the closing line of `series`, closes its file and renames it into
// place. When any write or the close failed (a full disk), the previous
// series file stays as it was and the temporary is removed (false).
Result<Done, SeriesFault> CloseSeries(const SeriesTable& table, SeriesObject& series);

// Ends `series` after the history query failed: the previous series file
// stays as it was (false, with a message that says so); where there is none
// yet, the series is closed as usual, so the caller still finds a file.
Result<Done, SeriesFault> AbandonSeries(const SeriesTable& table, SeriesObject& series);

// Syncs the directory of the series files once, after the last one was
// closed, so that their renames survive a power cut (false when it failed).
Result<Done, SeriesFault> SyncSeriesDirectory(const SeriesTable& table);
