// HistSeries: exports the history of up to 24 objects over a period into one
// series file per object.
//
// Usage: HistSeries [REQUEST]      (or --help / --version as the sole argument)
//   REQUEST  DFW=FILE&txDateFrom=YYYY-MM-DD&txTimeFrom=HH:MM[:SS]
//            &txDateTo=YYYY-MM-DD&txTimeTo=HH:MM[:SS]   (":" may be "%3A")
//
// Reads:  the selection file FILE (default history.dat, fallback history.vid)
//         in the working directory: "txobs=name;label;kind" lines (kind N, C
//         or U) and txDateFrom=/txTimeFrom=/txDateTo=/txTimeTo= lines, whose
//         period overrides the request's; the first line of HistPath.cfg (the
//         configured path) naming the directory of history.db; table HISTORY.
// Writes: name + ".sqr" for every object, in the working directory, replaced
//         on every run as a whole (written under a temporary name, then
//         renamed). A series that cannot be written completely (a full disk),
//         or a failed query, leaves the previous file in place.
// Output: "Error opening HistPath.cfg<br>" or "Datei HistPath.cfg ist leer<br>"
//         on standard output; store errors, objects without a series file,
//         a refused period and objects chosen twice on standard error.
// Exit status: 0 done; 1 period missing, unreadable or reversed; 2 no
// HistPath.cfg; 3 the query failed (also: history.db exists but cannot be
// read); 4 a series file not written. Only 3 and 4 leave earlier series files
// in place of fresh ones.
#include <cstdio>
#include <string>

#include "common/historyreader.h"
#include "common/historystore.h"
#include "common/period.h"
#include "common/programinfo.h"
#include "histseries/request.h"
#include "histseries/seriesfile.h"
#include "histseries/texts.h"
#include "programhelp.h"

namespace {

// Prints a step's message on standard error; whether the step did its work.
bool Told(const Result<Done, SeriesFault>& step) {
  std::fputs(step.Message().c_str(), stderr);
  return step.Ok();
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerAboutProgram(argc, argv, kProgramName, kProgramVersion, kProgramHelp)) {
    return kExitDone;
  }
  ExportRequest request = ReadExportRequest(argc > 1 ? argv[1] : nullptr);
  for (const std::string& name : request.repeatedObjects)
    std::fprintf(stderr, kMessageRepeatedObject, name.c_str());
  const Period& period = request.period;
  if (!period.Usable()) {
    std::fputs(PeriodRefusal(period).c_str(), stderr);
    return kExitPeriodRefused;
  }
  // Kept for compatibility: its "<br>" messages on standard output here too, as callers match them.
  Result<std::string, PathFault> storePath = ResolveHistoryDb(HISTPATH_CFG);
  if (!storePath.Ok()) {
    std::printf("%s<br>", storePath.Fault().message.c_str());
    return kExitNoDatabase;
  }

  SeriesTable table;
  table.periodFrom = period.from;
  table.periodTo = period.to;
  SelectThinning(table, static_cast<int64_t>(period.stamps.to) - period.stamps.from);
  RemoveLeftoverSeries(request.objects);
  bool written = true;
  for (const SelectionEntry& entry : request.objects) written &= Told(OpenSeries(table, entry));
  // Rows stream from SQLite into the open files. A query that failed (a
  // locked database, a file that is no database) replaces no good series.
  // Only a history file that does not exist is no data: one that cannot be
  // opened or read (its permissions) is a failed query, as in HistQuery.
  Result<Done, StoreFault> query = ReadHistory(
      storePath.Value(), SeriesRead(period.stamps, request.objects), {OnHistoryRow, &table});
  PrintMessageLine(stderr, query.Message());
  bool queryRan = query.Ok() || query.Fault().kind == StoreFault::Missing;
  for (SeriesObject& series : table.series)
    written &= Told(queryRan ? CloseSeries(table, series) : AbandonSeries(table, series));
  written &= Told(SyncSeriesDirectory(table));
  if (!queryRan) return kExitQueryFailed;
  return written ? kExitDone : kExitSeriesNotWritten;
}
