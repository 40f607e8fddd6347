#include "histquery/selection.h"

#include <cstdio>

#include "common/replacefile.h"
#include "common/selection.h"
#include "common/textops.h"
#include "histquery/page.h"

namespace {

// The request's period wins over the selection file's, end by end; an end
// reads as a date when ParseDateTime reads it (HH:MM times too).
constexpr PeriodRules kReportPeriodRules = {PeriodSource::Request, kAnyPeriodLength,
                                            DateReading::AsParsed};

ChosenObject Chosen(const SelectionEntry& entry) {
  ChosenObject object;
  object.name = FormDecoded(entry.name);
  object.compared = CompareName(object.name);
  // A label is repeated into every line of a download: one longer than a
  // selection file keeps is cut there.
  object.label = FormDecoded(entry.label).substr(0, kSelectionValueLimit);
  object.kind = entry.kind;
  return object;
}

// Up to 8 entries of a selection file; `period` gets the file's period
// values. A file that does not open loads nothing.
std::vector<SelectionEntry> LoadSelectionFile(const std::string& fileName, PeriodValues& period) {
  if (fileName.empty()) return {};
  FILE* file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) return {};
  SelectionFileValues values;
  ReadSelectionLines(file, {"obj=", 4, kMaxObjectNames}, values);
  std::fclose(file);
  period = values.period;
  return values.objects;
}

}  // namespace

std::vector<std::string> Selection::ComparedNames() const {
  std::vector<std::string> names;
  for (const ChosenObject& object : objects) names.push_back(object.compared);
  return names;
}

Selection TakeSelection(const ReportRequest& request, SelectionUse use) {
  PeriodValues filePeriod;
  std::vector<SelectionEntry> entries = LoadSelectionFile(SelectionFileToLoad(request), filePeriod);
  RequestPeriod sent = ReadRequestPeriod(request.period);
  if (!request.text.empty()) {
    // The request's entries replace the file's, also by none; a view keeps
    // the file's when the request names none, as it has no use without.
    bool keepFileEntries = use == SelectionUse::View && request.objects.empty();
    if (request.mode != ReportMode::Sql && !keepFileEntries) {
      entries.clear();
      for (const std::string& object : request.objects)
        entries.push_back(ParseSelectionEntry(object));
    }
    // Without a writable working directory the report still runs, unsaved. A
    // last selection lost with the power costs only its choice again: the
    // file is not synced, and a report never waits for the SD card. A chart
    // or a download in another tab must not change what the report and the
    // selection page show next.
    if (use == SelectionUse::Report)
      ReplaceFileContent(request.mode == ReportMode::Sql ? kSqlSelectionFile : kObjectSelectionFile,
                         SelectionFileContent(request, sent), Durability::Unsynced);
  }
  Selection selection;
  for (const SelectionEntry& entry : entries) selection.objects.push_back(Chosen(entry));
  selection.period = TakePeriod(sent, filePeriod, kReportPeriodRules);
  // The delete link repeats a request that carried its period and objects;
  // for values that came from a selection file it carries them itself, so
  // that the deletion covers what the page showed even when the file has
  // changed (another tab) by the time of the click.
  selection.deleteLink =
      sent.fromGiven && sent.toGiven ? request.linkText : SelectionQuery(selection);
  return selection;
}

std::string CompareName(std::string decodedName) {
  for (char& c : decodedName) {
    if (c == '\0') c = ' ';
  }
  return UpperCase(decodedName);
}

std::string SelectionQuery(const Selection& selection) {
  const Period& period = selection.period;
  std::string query = "txDateFrom=" + FieldEncoded(TextPiece(period.from, 0, 10)) +
                      "&txTimeFrom=" + FieldEncoded(TextPiece(period.from, 11, 8)) +
                      "&txDateTo=" + FieldEncoded(TextPiece(period.to, 0, 10)) +
                      "&txTimeTo=" + FieldEncoded(TextPiece(period.to, 11, 8));
  for (const ChosenObject& object : selection.objects) {
    query += "&obj=" + FieldEncoded(object.name) + ";" + FieldEncoded(object.label) + ";" +
             FieldEncoded(object.kind != '\0' ? std::string(1, object.kind) : "");
  }
  return query;
}

std::string SelectionFileToLoad(const ReportRequest& request) {
  if (request.text.empty() || request.bareView) return kObjectSelectionFile;
  const std::string& name = request.selectionFile;
  // The request names a file of the working directory, nothing elsewhere.
  if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos) return "";
  return name;
}

std::string SelectionFileContent(const ReportRequest& request, const RequestPeriod& sent) {
  std::string content = "txDateFrom=" + sent.dateFrom + "\n";
  if (sent.startDated) {
    if (sent.fromGiven) content += "txTimeFrom=" + sent.timeFrom + "\n";
    content += "txDateTo=" + sent.dateTo + "\n";
    if (sent.toGiven) content += "txTimeTo=" + sent.timeTo + "\n";
  }
  if (request.mode == ReportMode::Sql) return content + "SQL=" + request.sqlText + "\n";
  for (const std::string& object : request.objects) content += "obj=" + object + "\n";
  return content;
}
