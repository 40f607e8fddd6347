#include "histquery/sqlperiod.h"

#include <cstring>
#include <vector>

#include "common/textops.h"

namespace {

// Keywords that end a where condition standing at their own depth.
constexpr const char* kClauseKeywords[] = {"group", "order",     "limit",  "having",   "window",
                                           "union", "intersect", "except", "returning"};

bool IsWordChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

bool WordIs(const std::string& text, size_t begin, size_t end, const char* keyword) {
  if (end - begin != std::strlen(keyword)) return false;
  for (size_t i = begin; i < end; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != keyword[i - begin]) return false;
  }
  return true;
}

bool IsClauseKeyword(const std::string& text, size_t begin, size_t end) {
  for (const char* keyword : kClauseKeywords) {
    if (WordIs(text, begin, end, keyword)) return true;
  }
  return false;
}

// The end of the quoted text opening at `begin` with `quote`, which a doubled
// quote does not end ("[" ends at "]" without escapes); the end of the text
// when it is not closed, as SQLite then reports.
size_t QuotedEnd(const std::string& text, size_t begin) {
  char close = text[begin] == '[' ? ']' : text[begin];
  size_t at = begin + 1;
  while (at < text.size()) {
    if (text[at] != close) {
      ++at;
    } else if (close != ']' && at + 1 < text.size() && text[at + 1] == close) {
      at += 2;
    } else {
      return at + 1;
    }
  }
  return text.size();
}

// The new text, copied from the old one up to the points where a piece goes in.
class Binder {
 public:
  Binder(const std::string& text, const std::string& period) : text_(text), period_(period) {}

  std::string Bind() {
    size_t at = 0;
    while (at < text_.size()) at = Step(at);
    CloseWhere(0);
    Copy(text_.size());
    return out_;
  }

 private:
  // Reads one token at `at` and returns where the next one begins.
  size_t Step(size_t at) {
    char c = text_[at];
    char next = at + 1 < text_.size() ? text_[at + 1] : '\0';
    if (IsSqlSpace(c)) return at + 1;
    if (c == '-' && next == '-') {
      size_t end = text_.find('\n', at);
      return end == std::string::npos ? text_.size() : end;
    }
    if (c == '/' && next == '*') {
      size_t end = text_.find("*/", at + 2);
      return end == std::string::npos ? text_.size() : end + 2;
    }
    size_t end = at + 1;
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      end = QuotedEnd(text_, at);
    } else if (IsWordChar(static_cast<unsigned char>(c))) {
      while (end < text_.size() && IsWordChar(static_cast<unsigned char>(text_[end]))) ++end;
      if (WordIs(text_, at, end, "where")) {
        OpenWhere(end);
        return end;
      }
      if (IsClauseKeyword(text_, at, end)) CloseWhere(depth_);
    } else if (c == '(') {
      ++depth_;
    } else if (c == ')') {
      CloseWhere(depth_);
      if (depth_ > 0) --depth_;
    } else if (c == ';') {
      CloseWhere(0);
      depth_ = 0;
    }
    lastEnd_ = end;
    return end;
  }

  void OpenWhere(size_t end) {
    Copy(end);
    out_ += " " + period_ + " and (";
    // The blanks behind "where" would stand inside the parenthesis.
    while (copied_ < text_.size() && IsSqlSpace(text_[copied_])) ++copied_;
    lastEnd_ = end;
    open_.push_back(depth_);
  }

  // Ends the conditions opened at `depth` or deeper, behind the last token
  // that belongs to them (a comment in between stays outside).
  void CloseWhere(int depth) {
    while (!open_.empty() && open_.back() >= depth) {
      Copy(lastEnd_);
      out_ += ')';
      open_.pop_back();
    }
  }

  void Copy(size_t upTo) {
    if (upTo <= copied_) return;
    out_.append(text_, copied_, upTo - copied_);
    copied_ = upTo;
  }

  const std::string& text_;
  const std::string& period_;
  std::string out_;
  size_t copied_ = 0;
  size_t lastEnd_ = 0;
  int depth_ = 0;
  std::vector<int> open_;  // the depth of each where whose condition is open
};

}  // namespace

std::string BindPeriod(const std::string& text, const std::string& period) {
  return Binder(text, period).Bind();
}
