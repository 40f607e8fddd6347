// HistQuery: the CGI program behind the add-on's history report page.
//
// Usage: started by the web server as HistQuery.ksq, once per request, with
// REQUEST_METHOD GET (request in QUERY_STRING) or POST (CONTENT_LENGTH bytes
// on standard input). Request keys: SQL=, DFW=, txDateFrom=, txTimeFrom=,
// txDateTo=, txTimeTo=, obj= (repeated, name;label;kind), ACTION=DEL;
// VIEW=JSON|CHART|CSV with WIDTH= asks for the chart data, the chart page or
// the download of the same selection instead of the report.
//
// Reads: the request; HistPath.cfg (its first line names the directory of
// history.db); history.db, table HISTORY; the selection file histobj.dat (for
// an empty request) or the one named by DFW= in the working directory;
// HistHosts.cfg beside the program (host names besides IP addresses,
// localhost and the machine's own name that the report answers to).
// Writes: one ISO-8859-15 HTML page (or a view: UTF-8 JSON or CSV, or the
// chart page) to standard output; for a report, histobj.dat or
// histsql.dat (the last selection) in the working directory; deletes the
// chosen objects' rows of the period from HISTORY after ACTION=DEL.
// Errors of SQLite go to standard error as well.
//
// Exit status: always 0, also after an error; the page says what happened.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/historystore.h"
#include "histquery/crosssite.h"
#include "histquery/deletion.h"
#include "histquery/hostrule.h"
#include "histquery/page.h"
#include "histquery/report.h"
#include "histquery/request.h"
#include "histquery/selection.h"
#include "histquery/sqllimits.h"
#include "histquery/statement.h"
#include "histquery/summary.h"
#include "histquery/views.h"

namespace {

// The one exit status: the page says what happened, also after an error.
constexpr int kExitOk = 0;

// The limits of a run. Only the test build of the limits (HistQuery-testlimits)
// lets its environment lower them, so that a test need not wait a minute or
// fill 64 MiB; the programs that are installed or served never read it.
StatementLimits RunLimits() {
  StatementLimits limits;
#ifdef HISTQUERY_TEST_LIMITS
  if (const char* ms = std::getenv("HISTQUERY_TEST_DEADLINE_MS"))
    limits.deadlineMs = std::atoll(ms);
  if (const char* heap = std::getenv("HISTQUERY_TEST_HEAP_LIMIT"))
    limits.heapLimit = std::atoll(heap);
  if (const char* temp = std::getenv("HISTQUERY_TEST_TEMP_LIMIT"))
    limits.tempLimit = std::atoll(temp);
  if (const char* page = std::getenv("HISTQUERY_TEST_PAGE_LIMIT"))
    limits.pageLimit = std::atoll(page);
#endif
  return limits;
}

// The allow file of host names: beside the installed program; the test and
// demo builds read it from the working directory, as HistPath.cfg.
std::string AllowedHostsFile() {
#ifdef HISTHOSTS_CFG
  return HISTHOSTS_CFG;
#else
  return AllowFileBesideProgram();
#endif
}

// The chosen rows deleted, in slices so that the recorder's writes get in.
// The chart's summary follows what it removed.
ReportEnd Delete(const Selection& selection, const std::string& storePath) {
  const PeriodStamps& period = selection.period.stamps;
  ChangeOfHistory change;
  change.Deleting(period.from, period.to);
  Result<int64_t, DeletionStop> deletion =
      RunDeletion(storePath, DeletionCondition(period, selection.ComparedNames()), RunLimits());
  if (deletion.Ok()) change.Deleted(period.from, period.to, selection.ComparedNames());
  PrintMessageLine(stderr, deletion.Message());
  ReportEnd end;
  if (deletion.Ok()) {
    end.rowsDeleted = deletion.Value();
    return end;
  }
  const DeletionStop& stop = deletion.Fault().kind;
  end.fault = stop.fault;
  end.rowsDeleted = stop.deleted;
  end.stopReason = stop.reason;
  return end;
}

// A page of the report's rows printed into the page.
ReportEnd Report(const ReportRequest& request, const Selection& selection,
                 const std::string& storePath) {
  ReportPage page;
  std::string message;
  PageStart start{request.page, request.pageShown, request.pageHidden};
  // A report of every object has no time order to page by.
  if (selection.objects.empty()) start = PageStart();
  PageRequests requests{LinkEncoded(selection.deleteLink), SelectionQuery(selection)};
  ReportEnd end =
      RunReportPage(storePath, ReportRead(selection), start, requests, RunLimits(), page, message);
  PrintMessageLine(stderr, message);
  // Objects without rows are named by what the page calls them.
  for (std::string& name : end.emptyObjects) {
    for (const ChosenObject& object : selection.objects) {
      if (object.compared == name) {
        name = object.label.empty() ? object.name : object.label + " (" + object.name + ")";
        break;
      }
    }
  }
  return end;
}

// The free SQL text's rows printed into the page.
ReportEnd FreeText(const ReportRequest& request, const Selection& selection,
                   const std::string& storePath) {
  ReportPage page;
  page.sqlMode = true;
  StatementLimits limits = RunLimits();
  std::string message;
  // One that may change rows throws the chart's summary away first.
  ChangeOfHistory change;
  ReportEnd end =
      RunFreeText(storePath, SqlStatement(request.sqlText, selection.period.stamps), limits,
                  FreeTextLastWords(limits), ChangeOfHistory::Discard, page, message);
  PrintMessageLine(stderr, message);
  return end;
}

}  // namespace

int main() {
  // A web client that goes away closes our standard output: the run still
  // ends its statement (above all a deletion) and exits 0; what it writes
  // then is lost, nothing else.
  std::signal(SIGPIPE, SIG_IGN);
  // A long page goes out in large writes, not in one per few rows.
  static char pageBuffer[64 * 1024];
  std::setvbuf(stdout, pageBuffer, _IOFBF, sizeof pageBuffer);
  // A name that is not the device's own gets nothing at all: no selection
  // file, no statement.
  if (!CgiHostAllowed(AllowedHostsFile())) {
    PrintHostRefusal(stdout, CgiHostName().c_str());
    return kExitOk;
  }
  ReportRequest request = ParseReportRequest(ReadRequest());
  // A deletion or a free SQL text that is not shown to come from our own page
  // runs not at all, and leaves no trace.
  bool refused = ChangesHistory(request.mode) && !FromOwnPage(CgiRequestOrigin());
  // The chart, its data and the download only read: they answer in their own
  // form and end the run.
  if (request.view != View::Report) {
    ShowView(stdout, request, HISTPATH_CFG, RunLimits());
    return kExitOk;
  }
  PrintPageHead(stdout);
  const Selection selection =
      TakeSelection(request, refused ? SelectionUse::RefusedReport : SelectionUse::Report);
  PrintModeHeader(stdout, request, selection.period);
  if (request.mode != ReportMode::Sql) PrintDroppedObjects(stdout, request.droppedObjects);

  ReportEnd end;
  // Without a usable period nothing runs: above all no deletion of
  // everything a delete link without dates would otherwise ask for.
  if (refused) {
    end.notRun = NotRun::Refused;
  } else if (!selection.period.Usable()) {
    end.notRun = NotRun::NoPeriod;
    end.periodFault = selection.period.fault;
  } else {
    Result<std::string, PathFault> storePath = ResolveHistoryDb(HISTPATH_CFG);
    if (!storePath.Ok()) {
      std::printf("%s<br>", storePath.Fault().message.c_str());  // the message ends the page
      return kExitOk;
    }
    switch (request.mode) {
      case ReportMode::Objects:
        end = Report(request, selection, storePath.Value());
        break;
      case ReportMode::Deletion:
        end = Delete(selection, storePath.Value());
        break;
      case ReportMode::Sql:
        end = FreeText(request, selection, storePath.Value());
        break;
    }
  }
  PrintClosingSection(stdout, request.mode, selection.deleteLink, selection.period, end);
  PrintPageEnd(stdout);
  return kExitOk;
}
