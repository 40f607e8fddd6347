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

#include "common/historystatement.h"
#include "fuzzsupport.h"
#include "histquery/crosssite.h"
#include "histquery/deletion.h"
#include "histquery/hostrule.h"
#include "histquery/page.h"
#include "histquery/report.h"
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
void PrintFieldsAsRow(const std::string& text, bool sqlMode) {
  std::vector<std::string> fields;
  std::string rest = text;
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
  ReportPage page;
  page.out = NullOutput();
  page.sqlMode = sqlMode;
  PrintRow(&page, row);
  Require(page.rowCount == 1, "PrintRow: did not count its row");
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
  const ReportRequest request = ParseReportRequest(text);
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
  const Selection selection = TakeSelection(request, SelectionUse::Report);
  unlink(kObjectSelectionFile);
  unlink(kSqlSelectionFile);
  LeavePrivateDirectory();
  Require(selection.objects.size() <= static_cast<size_t>(kMaxObjectNames),
          "TakeSelection: too many entries");

  // The chart page puts the selection into an attribute, a script and an
  // address as it stands.
  Require(SelectionQuery(selection).find_first_not_of(
              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~%&=;") ==
              std::string::npos,
          "SelectionQuery: a byte that needs escaping");

  std::string loaded = SelectionFileToLoad(request);
  Require(loaded.find('/') == std::string::npos && (loaded.empty() || loaded[0] != '.'),
          "SelectionFileToLoad: a file outside the working directory");

  FILE* out = NullOutput();
  PrintModeHeader(out, request, selection.period);
  // The statement of the report or the free text; the deletion's slices are
  // one statement with the condition of the chosen objects.
  std::string statement =
      request.mode == ReportMode::Sql
          ? SqlStatement(request.sqlText, selection.period.stamps)
          : ReportStatement(selection.period.stamps.from, selection.period.stamps.to,
                            selection.ComparedNames());
  Require(request.mode == ReportMode::Sql || IsOneHistoryStatement(statement),
          "ReportStatement: not one statement");
  std::string condition = DeletionCondition(selection.period.stamps, selection.ComparedNames());
  Require(IsOneHistoryStatement(DeletionSliceStatement(condition)),
          "DeletionSliceStatement: not one statement");

  std::string decoded = text;
  DecodeSqlText(decoded);
  CheckHtml(text);
  CheckHtml(request.sqlText);
  CheckDeleteLink(LinkEncoded(text));
  CheckDeleteLink(link);
  CheckDeleteLink(LinkEncoded(selection.deleteLink));

  // A row in both forms: a table row, a report line.
  PrintFieldsAsRow(text, true);
  PrintFieldsAsRow(text, false);
  for (ReportMode mode : {ReportMode::Objects, ReportMode::Deletion, ReportMode::Sql}) {
    for (std::optional<NotRun> notRun :
         {std::optional<NotRun>(), std::optional<NotRun>(NotRun::NoPeriod),
          std::optional<NotRun>(NotRun::Refused)}) {
      for (std::optional<StoreFault> fault :
           {std::optional<StoreFault>(), std::optional<StoreFault>(StoreFault::Missing),
            std::optional<StoreFault>(StoreFault::OpenFailed),
            std::optional<StoreFault>(StoreFault::Failed)}) {
        ReportEnd end;
        end.notRun = notRun;
        end.fault = fault;
        // With rows, the closing section carries the delete link.
        end.rowCount = 1;
        end.rowsDeleted = 1;
        end.stopReason = text;
        PrintClosingSection(out, mode, selection.deleteLink, selection.period, end);
      }
    }
  }
  PrintPageEnd(out);
  return 0;
}
