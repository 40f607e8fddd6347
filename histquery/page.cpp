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

void AppendHtmlEscaped(std::string& out, const char* text) {
  // Runs without markup characters, by far the most, go out in one piece.
  const char* run = text;
  const char* at = text;
  for (; *at != '\0'; ++at) {
    const char* reference = CharacterReference(*at);
    if (reference == nullptr) continue;
    out.append(run, static_cast<size_t>(at - run));
    out += reference;
    run = at + 1;
  }
  out.append(run, static_cast<size_t>(at - run));
}

void PutHtmlEscaped(FILE* out, const char* text) {
  const char* run = text;
  const char* at = text;
  for (; *at != '\0'; ++at) {
    const char* reference = CharacterReference(*at);
    if (reference == nullptr) continue;
    std::fwrite(run, 1, static_cast<size_t>(at - run), out);
    std::fputs(reference, out);
    run = at + 1;
  }
  std::fwrite(run, 1, static_cast<size_t>(at - run), out);
}

std::string HtmlEscaped(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    const char* reference = CharacterReference(c);
    if (reference != nullptr)
      escaped += reference;
    else
      escaped += c;
  }
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

void PrintModeHeader(FILE* out, const ReportState& state) {
  if (state.request.mode != ReportMode::Sql) {
    std::fputs(kObjectModeHeader, out);
    return;
  }
  std::fputs(kSqlModeButton, out);
  std::fprintf(out, kSqlModePeriodFormat, HtmlEscaped(state.period.displayFrom).c_str(),
               HtmlEscaped(state.period.displayTo).c_str());
  std::fprintf(out, kSqlModeTextFormat, HtmlEscaped(state.request.sqlText).c_str());
}

void PrintClosingSection(FILE* out, const ReportState& state, RunOutcome outcome) {
  bool sqlMode = state.request.mode == ReportMode::Sql;
  // Rows that came before a failure stay on the page; their table is closed.
  if (sqlMode && state.rowCount > 0) std::fputs(kTableEnd, out);
  if (outcome == RunOutcome::Refused) {
    std::fputs(sqlMode ? kOtherSiteSqlRefused : kOtherSiteRefused, out);
    return;
  }
  if (outcome == RunOutcome::NoPeriod) {
    std::fputs(kNoPeriod, out);
    return;
  }
  if (state.request.mode == ReportMode::Deletion) {
    // Confirmed only when the deletion really ran (also when it matched no row).
    if (outcome == RunOutcome::Ran) {
      std::fputs(kDeletionDone, out);
    } else if (state.rowsDeleted > 0) {
      // Never the confirmation, and never "nothing deleted" either.
      std::string reason;
      AppendHtmlEscaped(reason, state.stopReason.c_str());
      std::fprintf(out, kDeletionStoppedFormat, std::to_string(state.rowsDeleted).c_str(),
                   reason.c_str());
    } else {
      std::fputs(kDeletionFailed, out);
    }
    return;
  }
  if (outcome == RunOutcome::OpenFailed || outcome == RunOutcome::Failed) {
    std::fputs(kStoreFailed, out);
    return;
  }
  std::string count = IntToString(state.rowCount);
  if (sqlMode) {
    if (state.rowCount > 0)
      std::fprintf(out, kSqlRowCountFormat, count.c_str());
    else
      std::fputs(kSqlNoRows, out);
    return;
  }
  if (state.rowCount == 0) {
    std::fputs(kObjectNoRows, out);
    return;
  }
  std::fprintf(out, kObjectRowCountFormat, count.c_str());
  std::fputs(kHomeButton, out);
  std::fputs(kSelectionButton, out);
  std::fputs(kDeleteLinkStart, out);
  std::fputs(LinkEncoded(state.deleteLink).c_str(), out);
  std::fputs(kDeleteLinkEnd, out);
  std::fputs(kDeleteWarning, out);
}

void PrintPageEnd(FILE* out) {
  std::fputs(kPageEnd, out);
}

void PrintHostRefusal(FILE* out, const char* name) {
  // The name only helps the reader find it; a long one is shown cut.
  std::fprintf(out, kHostRefusedFormat, HtmlEscaped(std::string(name).substr(0, 255)).c_str());
}
