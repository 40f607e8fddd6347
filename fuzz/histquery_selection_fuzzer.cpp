// The report's selection file reader (histobj.dat, histsql.dat or a DFW=
// file) and what the report builds from what it read. The reader opens a
// file by name, so each input is written to a file of a private directory.
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/datetime.h"
#include "common/period.h"
#include "fuzzsupport.h"
#include "histquery/page.h"
#include "histquery/reportstate.h"
#include "histquery/selection.h"
#include "histquery/statement.h"

namespace {

std::string SelectionPath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseBerlinTime();
  SelectionPath = PrivateDirectory() + "/histobj.dat";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(SelectionPath.c_str(), "wb");
  Require(file != nullptr, "cannot create the selection file");
  bool written = std::fwrite(data, 1, size, file) == size;
  Require(std::fclose(file) == 0 && written, "cannot write the selection file");

  // An empty request loads histobj.dat: what the report then does with it.
  ReportState state;
  LoadSelectionFile(state, SelectionPath);
  Require(state.entryCount >= 0 && state.entryCount <= kMaxObjectNames,
          "LoadSelectionFile: too many entries");
  Require(state.periodFrom.empty() || state.periodFrom.size() >= 8,
          "LoadSelectionFile: start date too short");
  Require(state.periodFrom.size() <= 19 && state.periodTo.size() <= 19,
          "LoadSelectionFile: period text too long");
  state.displayFrom = DisplayPeriodText(state.periodFrom);
  state.displayTo = DisplayPeriodText(state.periodTo);
  if (PeriodReadable(state)) {
    ConvertPeriod(state.displayFrom, state.displayTo, state.fromStamp, state.toStamp);
  }
  PrintModeHeader(NullOutput(), state);
  Require(IsOneHistoryStatement(BuildObjectStatement(state)),
          "BuildObjectStatement: not one statement");
  PrintClosingSection(NullOutput(), state, RunOutcome::Ran);
  return 0;
}
