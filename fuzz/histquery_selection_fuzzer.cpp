// The report's selection file reader (histobj.dat, histsql.dat or a DFW=
// file) and what the report builds from what it read, the way the report
// goes for an empty request. The reader opens a file by name, so each input
// is written to a file of a private directory.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/historystatement.h"
#include "fuzzsupport.h"
#include "histquery/page.h"
#include "histquery/selection.h"
#include "histquery/statement.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseBerlinTime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An empty request loads histobj.dat of the working directory: a private
  // one, left empty again for the next input.
  EnterPrivateDirectory();
  FILE* file = std::fopen(kObjectSelectionFile, "wb");
  Require(file != nullptr, "cannot create the selection file");
  bool written = std::fwrite(data, 1, size, file) == size;
  Require(std::fclose(file) == 0 && written, "cannot write the selection file");
  const Selection state = TakeSelection(ParseReportRequest(""), SelectionUse::Report);
  unlink(kObjectSelectionFile);
  LeavePrivateDirectory();

  Require(state.objects.size() <= static_cast<size_t>(kMaxObjectNames),
          "TakeSelection: too many entries");
  Require(state.period.from.empty() || state.period.from.size() >= 8,
          "TakeSelection: start date too short");
  Require(state.period.from.size() <= 19 && state.period.to.size() <= 19,
          "TakeSelection: period text too long");
  Require(!state.period.Usable() || state.period.stamps.from <= state.period.stamps.to,
          "TakeSelection: a reversed period");
  PrintModeHeader(NullOutput(), ParseReportRequest(""), state.period);
  Require(IsOneHistoryStatement(ReportStatement(state.period.stamps.from, state.period.stamps.to,
                                                state.ComparedNames())),
          "ReportStatement: not one statement");
  ReportEnd end;
  end.rowCount = 1;
  PrintClosingSection(NullOutput(), ReportMode::Objects, state.deleteLink, state.period, end);
  return 0;
}
