// The export's selection file reader, fed from memory, and the export's
// steps from what it read to its query, as main takes them. The first line
// of the input also serves as the request argument.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/historystatement.h"
#include "fuzzsupport.h"
#include "histseries/request.h"
#include "histseries/seriesfile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseBerlinTime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Selection selection;
  if (size > 0) {
    std::vector<char> bytes(data, data + size);
    FILE* file = fmemopen(bytes.data(), bytes.size(), "r");
    Require(file != nullptr, "fmemopen failed");
    ReadSelectionFile(file, selection);
    std::fclose(file);
  }
  Require(selection.objects.size() <= kMaxSeriesObjects, "ReadSelectionFile: too many objects");
  Require(selection.period.dateFrom.size() <= 10 && selection.period.dateTo.size() <= 10 &&
              selection.period.timeFrom.size() <= 8 && selection.period.timeTo.size() <= 8,
          "ReadSelectionFile: period part too long");
  for (const SelectionEntry& entry : selection.objects) {
    Require(entry.name.size() + entry.label.size() <= kSelectionValueLimit,
            "ReadSelectionFile: object value too long");
    if (IsPlainFileName(entry.name)) {
      Require(entry.name.find('/') == std::string::npos, "IsPlainFileName: a path");
    }
  }

  std::string request = UpToNul(data, size);
  request = request.substr(0, request.find('\n'));
  std::string fileName = SelectionFileName(request.c_str());
  Require(SelectionFileName(nullptr) == "history.dat", "SelectionFileName: default file");
  (void)fileName;

  // What main takes from the argument and the file.
  size_t chosen = selection.objects.size();
  ExportRequest exported = TakeExportRequest(request.c_str(), selection);
  Require(exported.objects.size() + exported.repeatedObjects.size() == chosen,
          "TakeExportRequest: objects lost");
  const Period& period = exported.period;
  if (period.Usable()) {
    Require(period.stamps.from <= period.stamps.to, "TakeExportPeriod: a reversed period");
    SeriesTable table;
    SelectThinning(table, static_cast<int64_t>(period.stamps.to) - period.stamps.from);
  } else {
    Require(!PeriodRefusal(period).empty(), "PeriodRefusal: no message");
  }
  // A history without rowids is read in this one statement.
  HistoryRead read = SeriesRead(period.stamps, exported.objects);
  Require(IsOneHistoryStatement(ReportStatement(read.from, read.to, read.names)),
          "SeriesRead: not one statement");
  return 0;
}
