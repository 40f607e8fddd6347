// The report's path from the request text to its statement and page: mode,
// selection file, period, statement, escaping and the delete link. No
// database: the statement is only checked to be one that SQLite accepts.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzsupport.h"
#include "histquery/crosssite.h"
#include "histquery/hostrule.h"
#include "histquery/page.h"
#include "histquery/report.h"
#include "histquery/reportstate.h"
#include "histquery/request.h"
#include "histquery/selection.h"
#include "histquery/statement.h"
#include "histquery/views.h"

namespace {

// In the page the link stands in a JavaScript string inside an attribute: it
// must hold nothing that ends either, and nothing that HTML decoding changes.
void CheckDeleteLink(const std::string& link) {
  for (size_t i = 0; i < link.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(link[i]);
    Require(c > 0x20 && c < 0x7F && std::strchr("'\"<>\\`#", c) == nullptr,
            "LinkEncoded: unsafe byte in the delete link");
    if (c != '&') continue;
    // "&amp;" is the one reference written on purpose: it stands for an "&"
    // that would otherwise open one.
    if (link.compare(i, 5, "&amp;") == 0) {
      i += 4;
      continue;
    }
    // Browsers decode a reference in an attribute also without ";", unless
    // its name runs on into "=" (the request's own items).
    size_t j = i + 1;
    while (j < link.size() && std::isalnum(static_cast<unsigned char>(link[j])) != 0) ++j;
    Require(j == i + 1 || (j < link.size() && link[j] == '='),
            "LinkEncoded: a character reference in the delete link");
  }
}

void CheckHtml(const std::string& text) {
  std::string escaped = HtmlEscaped(text);
  Require(escaped.find_first_of("<>\"'") == std::string::npos, "HtmlEscaped: markup left");
  for (size_t at = escaped.find('&'); at != std::string::npos; at = escaped.find('&', at + 1)) {
    bool known = false;
    for (const char* ref : {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"}) {
      if (escaped.compare(at, std::strlen(ref), ref) == 0) known = true;
    }
    Require(known, "HtmlEscaped: bare ampersand");
  }
}

// A row made of the request's "&" fields, as the store would hand it over:
// an empty field stands for a null cell, the first one read as a stamp (a
// row without one never reaches PrintRow).
void PrintFieldsAsRow(ReportState& state) {
  std::vector<std::string> fields;
  std::string rest = state.request.text;
  for (int k = 0; k < 7; ++k) {
    size_t end = rest.find('&');
    fields.push_back(rest.substr(0, end));
    if (end == std::string::npos) break;
    rest.erase(0, end + 1);
  }
  if (fields[0].empty() || fields[0] == "NULL") return;
  std::vector<const char*> texts;
  std::vector<size_t> lengths;
  for (const std::string& field : fields) {
    texts.push_back(field.empty() ? nullptr : field.c_str());
    lengths.push_back(field.size());
  }
  HistoryRow row;
  row.stamp = static_cast<int32_t>(std::strtol(fields[0].c_str(), nullptr, 10));
  row.columnCount = static_cast<int>(fields.size());
  row.texts = texts.data();
  row.lengths = lengths.data();
  row.names = texts.data();
  int32_t rowsBefore = state.rowCount;
  PrintRow(NullOutput(), state, row);
  Require(state.rowCount - rowsBefore == 1, "PrintRow: did not count its row");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseBerlinTime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The body counts up to its first NUL byte, and an environment variable
  // cannot hold one.
  std::string text = UpToNul(data, size);
  ReportState state;
  state.request = ParseReportRequest(text);
  // Not refused, so that the selection files are written too.
  std::string link = LinkEncoded(text);
  // The request text stands in for the headers that decide about the host
  // and the origin.
  HostAllowed(text.c_str(), {"ccu", "ccu.lan"});
  RequestOrigin origin;
  origin.host = "ccu:8080";
  origin.origin = text.c_str();
  origin.referer = text.c_str();
  FromOwnPage(origin);

  // The selection files go to the working directory: a private one. The next
  // input starts without them, as on a fresh device.
  EnterPrivateDirectory();
  TakeSelection(state);
  unlink(kObjectSelectionFile);
  unlink(kSqlSelectionFile);
  LeavePrivateDirectory();
  Require(state.entryCount >= 0 && state.entryCount <= kMaxObjectNames,
          "TakeSelection: too many entries");

  // The chart page puts the selection into an attribute, a script and an
  // address as it stands.
  Require(ViewSelectionQuery(state).find_first_not_of(
              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~%&=;") ==
              std::string::npos,
          "ViewSelectionQuery: a byte that needs escaping");

  std::string loaded = SelectionFileToLoad(state.request);
  Require(loaded.find('/') == std::string::npos && (loaded.empty() || loaded[0] != '.'),
          "SelectionFileToLoad: a file outside the working directory");

  FILE* out = NullOutput();
  PrintModeHeader(out, state);
  // Every mode's statement; those of the chosen objects are one statement.
  ReportMode mode = state.request.mode;
  for (ReportMode each : {ReportMode::Objects, ReportMode::Deletion, ReportMode::Sql}) {
    state.request.mode = each;
    std::string statement = BuildStatement(state);
    Require(each == ReportMode::Sql || IsOneHistoryStatement(statement),
            "BuildStatement: not one statement");
  }
  state.request.mode = mode;

  std::string decoded = text;
  DecodeSqlText(decoded);
  CheckHtml(text);
  CheckHtml(state.request.sqlText);
  CheckDeleteLink(LinkEncoded(text));
  CheckDeleteLink(link);
  CheckDeleteLink(LinkEncoded(state.deleteLink));

  // A row in both forms: a table row, a report line.
  for (ReportMode each : {ReportMode::Sql, ReportMode::Objects}) {
    state.request.mode = each;
    PrintFieldsAsRow(state);
  }
  state.request.mode = mode;
  for (RunOutcome outcome : {RunOutcome::NoPeriod, RunOutcome::Ran, RunOutcome::Missing,
                             RunOutcome::OpenFailed, RunOutcome::Failed, RunOutcome::Refused}) {
    PrintClosingSection(out, state, outcome);
  }
  state.rowCount = 1;  // with rows, the closing section carries the delete link
  PrintClosingSection(out, state, RunOutcome::Ran);
  PrintPageEnd(out);
  return 0;
}
