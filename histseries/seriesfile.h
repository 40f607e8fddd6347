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
#include <vector>

#include "common/selection.h"
#include "histseries/exportstate.h"

// False for a name whose series file would not lie in the working directory.
bool IsPlainFileName(const std::string& name);

// Removes the temporary series files (name + ".sqr." + process id + "." +
// six letters or digits, or without the process id as earlier versions named
// them) of the chosen objects that a run killed while writing left behind.
// A temporary whose writer still runs, or that a running export holds
// locked, is left alone.
void RemoveLeftoverSeries(const std::vector<SelectionEntry>& objects);

// Prepares entry `index` for `entry` and creates its series file, under a
// temporary name beside it. An object whose name is not a plain file name, or
// whose file cannot be created, gets no series file; a message on standard
// error says so. The writer reports its own failures because its calls have
// no failure path: a failed series only marks Export.seriesFailed.
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

// Syncs the directory of the series files once, after the last one was
// closed, so that their renames survive a power cut. A failure marks
// Export.seriesFailed, with a message on standard error.
void SyncSeriesDirectory();
