#include "histquery/page.h"

#include <cctype>
#include <cstring>

#include "common/textops.h"
#include "histquery/pagetexts.h"

namespace {

// Besides letters and digits, the characters of an ordinary request; none of
// them can end the link's JavaScript string or its attribute.
constexpr const char kLinkSafe[] = "-_.~=&%;:,+/*()!?@$";

bool IsNameChar(unsigned char c) {
  return std::isalnum(c) != 0;
}

void AppendPercentEncoded(std::string& to, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  to += '%';
  to += kHex[c >> 4];
  to += kHex[c & 0x0F];
}

// The reference that stands for a markup character, null for any other.
const char* CharacterReference(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    default:
      return nullptr;
  }
}

// Whether the "&" at `at` would open a character reference inside an
// attribute value: one followed by "#", or by a name that no "=" ends (the
// request's own items, "&obj=" and the like, are left as they are).
bool StartsCharacterReference(const std::string& text, size_t at) {
  size_t end = at + 1;
  while (end < text.size() && IsNameChar(static_cast<unsigned char>(text[end]))) ++end;
  if (end == at + 1) return false;
  return end == text.size() || text[end] != '=';
}

}  // namespace

namespace {

// The one HTML escaper: `put` gets the runs without markup characters (by
// far the most, each in one piece) and the references between them.
template <typename Put>
void EscapeHtml(const char* text, size_t length, Put put) {
  const char* run = text;
  const char* end = text + length;
  for (const char* at = text; at < end; ++at) {
    const char* reference = CharacterReference(*at);
    if (reference == nullptr) continue;
    put(run, static_cast<size_t>(at - run));
    put(reference, std::strlen(reference));
    run = at + 1;
  }
  put(run, static_cast<size_t>(end - run));
}

// How many rows the period holds, as far as a page knows it.
std::string RowsOfPeriod(const PageLinks& links) {
  std::string last = std::to_string(links.last);
  return links.lastPage ? last : Formatted(kMoreThanFormat, last.c_str());
}

// The rows of the period the report hides, where the page knows them all.
void PrintHiddenRows(FILE* out, const ReportEnd& end) {
  int64_t shown = end.pages ? end.pages->last : end.rowCount;
  std::fprintf(out, kHiddenRowsFormat, std::to_string(shown + end.hiddenRows).c_str(),
               std::to_string(end.hiddenRows).c_str());
}

// Milliseconds as seconds, with a decimal comma where they are no whole one.
std::string SecondsText(int64_t ms) {
  std::string whole = std::to_string(ms / 1000);
  if (ms % 1000 == 0) return whole;
  return whole + "," + std::to_string(ms % 1000 / 100);
}

}  // namespace

void AppendHtmlEscaped(std::string& out, const char* text) {
  EscapeHtml(text, std::strlen(text),
             [&out](const char* piece, size_t n) { out.append(piece, n); });
}

void PutHtmlEscaped(FILE* out, const char* text) {
  EscapeHtml(text, std::strlen(text),
             [out](const char* piece, size_t n) { std::fwrite(piece, 1, n, out); });
}

std::string HtmlEscaped(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  EscapeHtml(text.data(), text.size(),
             [&escaped](const char* piece, size_t n) { escaped.append(piece, n); });
  return escaped;
}

std::string LinkEncoded(const std::string& request) {
  std::string link;
  link.reserve(request.size());
  for (size_t i = 0; i < request.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(request[i]);
    bool safe = c != 0 && (IsNameChar(c) || std::strchr(kLinkSafe, c) != nullptr);
    // The attribute value is HTML-decoded before the script sees it, so
    // "&apos;" would become a quote there: the ";" that ends a character
    // reference name is encoded. Request keys end in "=", never in ";".
    if (c == ';') {
      size_t j = i;
      while (j > 0 && IsNameChar(static_cast<unsigned char>(request[j - 1]))) --j;
      if (j < i && j > 0 && request[j - 1] == '&') safe = false;
    }
    if (c == '&' && StartsCharacterReference(request, i)) {
      // Inside the attribute "&lt" or "&not" stand for other characters even
      // without a closing ";": such an "&" is written as a reference itself.
      link += "&amp;";
    } else if (safe) {
      link += static_cast<char>(c);
    } else {
      AppendPercentEncoded(link, c);
    }
  }
  return link;
}

std::string FieldEncoded(const std::string& text) {
  std::string field;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    // strchr would find a NUL byte as the terminator.
    if (byte != 0 && (IsNameChar(byte) || std::strchr("-_.~", c) != nullptr))
      field += c;
    else
      AppendPercentEncoded(field, byte);
  }
  return field;
}

void PrintPageHead(FILE* out) {
  std::fputs(kPageHead, out);
}

void PrintModeHeader(FILE* out, const ReportRequest& request, const Period& period) {
  if (request.mode != ReportMode::Sql) {
    std::fputs(kObjectModeHeader, out);
    return;
  }
  std::fputs(kSqlModeButton, out);
  std::fprintf(out, kSqlModePeriodFormat, HtmlEscaped(period.displayFrom).c_str(),
               HtmlEscaped(period.displayTo).c_str());
  std::fprintf(out, kSqlModeTextFormat, HtmlEscaped(request.sqlText).c_str());
}

void PrintClosingSection(FILE* out, ReportMode mode, const std::string& deleteLink,
                         const Period& period, const ReportEnd& end) {
  bool sqlMode = mode == ReportMode::Sql;
  // Rows that came before a failure stay on the page; their table is closed.
  if (sqlMode && end.rowCount > 0) std::fputs(kTableEnd, out);
  if (end.notRun == NotRun::Refused) {
    std::fputs(sqlMode ? kOtherSiteSqlRefused : kOtherSiteRefused, out);
    return;
  }
  if (end.notRun == NotRun::NoPeriod) {
    PrintPeriodFault(out, end.periodFault, period);
    return;
  }
  if (mode == ReportMode::Deletion) {
    // Confirmed only when the deletion really ran (also when it matched no row).
    if (!end.fault) {
      std::fputs(kDeletionDone, out);
      std::fprintf(out, kDeletedCountFormat, std::to_string(end.rowsDeleted).c_str());
    } else if (end.rowsDeleted > 0) {
      // Never the confirmation, and never "nothing deleted" either.
      std::fprintf(out, kDeletionStoppedFormat, std::to_string(end.rowsDeleted).c_str(),
                   HtmlEscaped(end.stopReason).c_str());
    } else {
      std::fputs(kDeletionFailed, out);
    }
    return;
  }
  if (end.fault == StoreFault::Busy) {
    std::fputs(kBusy, out);
    return;
  }
  if (end.sqlStop) {
    std::string bound = std::to_string(end.stopBound);
    switch (*end.sqlStop) {
      case SqlStop::TooLong:
        std::fprintf(out, kSqlTooLongFormat, SecondsText(end.stopBound).c_str());
        break;
      case SqlStop::PageTooLarge:
        std::fprintf(out, kSqlPageTooLargeFormat, bound.c_str(), IntToString(end.rowCount).c_str());
        break;
      case SqlStop::TempStorage:
        std::fprintf(out, kSqlTempStorageFormat, bound.c_str());
        break;
      case SqlStop::Memory:
        std::fprintf(out, kSqlMemoryFormat, bound.c_str());
        break;
    }
    return;
  }
  if (end.fault == StoreFault::OpenFailed || end.fault == StoreFault::Failed) {
    std::fputs(kStoreFailed, out);
    return;
  }
  std::string count = IntToString(end.rowCount);
  if (sqlMode) {
    if (end.rowCount > 0)
      std::fprintf(out, kSqlRowCountFormat, count.c_str());
    else
      std::fputs(kSqlNoRows, out);
    return;
  }
  if (end.rowCount == 0 && !end.pages) {
    if (end.hiddenRows > 0) PrintHiddenRows(out, end);
    std::fputs(kObjectNoRows, out);
    return;
  }
  for (const std::string& object : end.emptyObjects)
    std::fprintf(out, kObjectWithoutRowsFormat, HtmlEscaped(object).c_str());
  if (end.pages)
    std::fprintf(out, kPagedRowCountFormat, std::to_string(end.pages->first).c_str(),
                 std::to_string(end.pages->last).c_str(), RowsOfPeriod(*end.pages).c_str());
  else
    std::fprintf(out, kObjectRowCountFormat, count.c_str());
  if (end.hiddenRows > 0) PrintHiddenRows(out, end);
  std::fputs(kHomeButton, out);
  std::fputs(kSelectionButton, out);
  std::fputs(kDeleteLinkStart, out);
  std::fputs(LinkEncoded(deleteLink).c_str(), out);
  std::fputs(kDeleteLinkEnd, out);
  std::fputs(kDeleteWarning, out);
}

void PrintPageEnd(FILE* out) {
  std::fputs(kPageEnd, out);
}

void PrintPeriodFault(FILE* out, PeriodFault fault, const Period& period) {
  // An end that was never given is no period at all.
  if (period.from.empty() || period.to.empty()) fault = PeriodFault::TooShort;
  switch (fault) {
    case PeriodFault::StartUnreadable:
      std::fprintf(out, kPeriodUnreadableFormat, HtmlEscaped(period.displayFrom).c_str());
      return;
    case PeriodFault::EndUnreadable:
      std::fprintf(out, kPeriodUnreadableFormat, HtmlEscaped(period.displayTo).c_str());
      return;
    case PeriodFault::Reversed:
      std::fprintf(out, kPeriodReversedFormat, HtmlEscaped(period.displayTo).c_str(),
                   HtmlEscaped(period.displayFrom).c_str());
      return;
    default:
      std::fputs(kNoPeriod, out);
      return;
  }
}

void PrintDroppedObjects(FILE* out, const std::vector<std::string>& names) {
  if (names.empty()) return;
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  std::fprintf(out, kDroppedObjectsFormat, HtmlEscaped(list).c_str());
}

void PrintPageLinks(FILE* out, const PageLinks& links) {
  std::fputs(kPageLinksStart, out);
  // The report's requests are link-encoded as the delete link is, ready for
  // the attribute.
  if (!links.previous.empty()) std::fprintf(out, kPreviousPageFormat, links.previous.c_str());
  std::fprintf(out, kPageSpanFormat, std::to_string(links.first).c_str(),
               std::to_string(links.last).c_str(), RowsOfPeriod(links).c_str());
  if (!links.next.empty()) std::fprintf(out, kNextPageFormat, links.next.c_str());
  std::string selection = HtmlEscaped(links.views);
  std::fprintf(out, kPageViewsFormat, selection.c_str(), selection.c_str());
  std::fputs(kPageLinksEnd, out);
}

std::string FreeTextLastWords(const StatementLimits& limits) {
  return Formatted(kSqlTooLongFormat, SecondsText(limits.deadlineMs).c_str()) + kPageEnd;
}

void PrintHostRefusal(FILE* out, const char* name) {
  // The name only helps the reader find it; a long one is shown cut.
  std::fprintf(out, kHostRefusedFormat, HtmlEscaped(std::string(name).substr(0, 255)).c_str());
}
