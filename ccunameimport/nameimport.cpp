#include "ccunameimport/nameimport.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "ccunameimport/texts.h"
#include "common/replacefile.h"
#include "common/textops.h"

namespace {

constexpr char kHeaderEnd[] = "\r\n\r\n";
constexpr char kNameListStart[] = "\r\n";
constexpr char kContentLengthHeader[] = "Content-Length:";
constexpr char kTransferEncodingHeader[] = "Transfer-Encoding:";
constexpr char kChunkedCoding[] = "chunked";
constexpr char kHttpVersionPrefix[] = "HTTP/";
constexpr char kBidCoSPrefix[] = "BidCoS";
constexpr size_t kShortestKeptLine = 5;  // line feed included
constexpr char kSeparators[] = " :-/.()";

// The umlauts and the sharp s in Latin-1, and their ASCII spellings; the
// sharp s is written "sz" in the import files.
struct Transliteration {
  const char* latin1;
  const char* ascii;
};
const Transliteration kTransliterations[] = {
    {"\xE4", "ae"}, {"\xF6", "oe"}, {"\xFC", "ue"}, {"\xC4", "Ae"},
    {"\xD6", "Oe"}, {"\xDC", "Ue"}, {"\xDF", "sz"},
};

}  // namespace

namespace {

// The value of the first header line `name` (with its colon) in `head`, the
// part of the answer before its blank line. False when there is none.
bool HeaderValue(std::string_view head, const char* name, std::string* value) {
  size_t nameLength = std::strlen(name);
  // Header lines end in CR LF; the first line is the status line.
  size_t at = head.find("\r\n");
  while (at != std::string_view::npos) {
    size_t start = at + 2;
    at = head.find("\r\n", start);
    if (head.size() - start < nameLength ||
        strncasecmp(head.data() + start, name, nameLength) != 0) {
      continue;
    }
    size_t end = at == std::string_view::npos ? head.size() : at;
    value->assign(head.substr(start + nameLength, end - start - nameLength));
    return true;
  }
  return false;
}

// The status code of "HTTP/x.y NNN ...", or -1.
int StatusCode(std::string_view head) {
  if (head.compare(0, std::strlen(kHttpVersionPrefix), kHttpVersionPrefix) != 0) return -1;
  size_t blank = head.find(' ');
  size_t lineEnd = head.find("\r\n");
  if (blank == std::string_view::npos || blank > lineEnd || head.size() < blank + 4) return -1;
  int code = 0;
  for (size_t i = blank + 1; i < blank + 4; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(head[i]))) return -1;
    code = code * 10 + (head[i] - '0');
  }
  return code;
}

// A Transfer-Encoding value that names the chunked coding.
bool IsChunked(std::string value) {
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return value.find(kChunkedCoding) != std::string::npos;
}

}  // namespace

AnswerVerdict DecodeChunks(const std::string& text, size_t at, std::string* body) {
  for (;;) {
    size_t lineEnd = text.find("\r\n", at);
    if (lineEnd == std::string::npos) return AnswerVerdict::CutShort;
    const char* digits = text.c_str() + at;
    if (!std::isxdigit(static_cast<unsigned char>(*digits))) return AnswerVerdict::Malformed;
    char* end = nullptr;
    errno = 0;
    unsigned long long size = std::strtoull(digits, &end, 16);
    if (end != text.c_str() + lineEnd && *end != ';' && *end != ' ' && *end != '\t') {
      return AnswerVerdict::Malformed;
    }
    at = lineEnd + 2;
    if (size == 0) return AnswerVerdict::NameList;  // trailers, if any, are not needed
    // A size beyond what arrived (or beyond any number) never completes.
    if (errno == ERANGE || size > text.size() - at) return AnswerVerdict::CutShort;
    body->append(text, at, static_cast<size_t>(size));
    at += static_cast<size_t>(size);
    if (text.size() - at < 2) return AnswerVerdict::CutShort;
    if (text.compare(at, 2, "\r\n") != 0) return AnswerVerdict::Malformed;
    at += 2;
  }
}

AnswerCheck CheckAnswer(const HttpResponse& received, std::string* nameList) {
  const std::string& response = received.raw;
  AnswerCheck check;
  size_t headEnd = response.find(kHeaderEnd);
  if (headEnd == std::string::npos) return check;
  std::string_view head(response.data(), headEnd);
  size_t bodyStart = headEnd + std::strlen(kHeaderEnd);

  check.status = StatusCode(head);
  if (check.status < 0) {
    check.verdict = AnswerVerdict::Malformed;
    return check;
  }
  if (check.status < 200 || check.status > 299) {
    check.verdict = AnswerVerdict::ErrorStatus;
    return check;
  }
  // The list starts 2 past the start of the header end: with an empty CR LF line.
  std::string list = kNameListStart;
  std::string value;
  if (HeaderValue(head, kTransferEncodingHeader, &value) && IsChunked(value)) {
    check.framed = true;
    check.verdict = DecodeChunks(response, bodyStart, &list);
    if (check.verdict != AnswerVerdict::NameList) return check;
  } else {
    if (HeaderValue(head, kContentLengthHeader, &value)) {
      char* end = nullptr;
      unsigned long long declared = std::strtoull(value.c_str(), &end, 10);
      // A length without digits bounds nothing: the body ends at the close.
      check.framed = end != value.c_str();
      if (check.framed && response.size() - bodyStart < declared) {
        check.verdict = AnswerVerdict::CutShort;
        return check;
      }
    }
    list.append(response, bodyStart, std::string::npos);
  }
  // A NUL ends no name: it is dropped, the rest is kept.
  list.erase(std::remove(list.begin(), list.end(), '\0'), list.end());
  if (list.find_first_not_of("\r\n") == std::string::npos) {
    check.verdict = AnswerVerdict::EmptyBody;
    return check;
  }
  // Without a length or chunks the answer ends where receiving did: cut by
  // the size bound, the time window or a reset, it is only part of the list.
  if (!check.framed && (received.cut || received.broken)) {
    check.verdict = AnswerVerdict::CutShort;
    return check;
  }
  // The service closes its answer with CR LF; only that pair is dropped, so a
  // name at the very end is never shortened.
  if (list.compare(list.size() - 2, 2, "\r\n") == 0) list.resize(list.size() - 2);
  *nameList = std::move(list);
  check.verdict = AnswerVerdict::NameList;
  return check;
}

bool CleanNameLine(std::string& line) {
  if (line.compare(0, std::strlen(kBidCoSPrefix), kBidCoSPrefix) == 0) line[0] = '=';
  if (line.empty() || line[0] == '=' || line.size() < kShortestKeptLine) return false;
  for (char& c : line) {
    if (c != '\0' && std::strchr(kSeparators, c) != nullptr) c = '_';
  }
  for (const Transliteration& t : kTransliterations) ReplaceAll(line, t.latin1, t.ascii);
  return true;
}

bool WriteImportLines(FILE* names, FILE* import) {
  std::vector<char> buffer(kLineBufferSize);
  while (std::fgets(buffer.data(), kLineBufferSize, names) != nullptr) {
    std::string line = buffer.data();
    if (CleanNameLine(line) && std::fputs(line.c_str(), import) < 0) return false;
  }
  return std::ferror(import) == 0;
}

NameFilesOutcome WriteNameFiles(const std::string& nameList) {
  FileReplacement text;
  if (!BeginReplacement(text, kNamesTextFile) ||
      std::fprintf(text.stream, "%s\n", nameList.c_str()) < 0 || !FinishReplacement(text)) {
    AbandonReplacement(text);
    return NameFilesOutcome::TextNotWritten;
  }
  FileReplacement import;
  if (!BeginReplacement(import, kNamesImportFile)) {
    AbandonReplacement(text);
    return NameFilesOutcome::ImportNotWritten;
  }
  // The import file is made from the names file as written.
  FILE* names = std::fopen(text.tempPath.c_str(), "r");
  if (names == nullptr) {
    AbandonReplacement(import);
    AbandonReplacement(text);
    return NameFilesOutcome::TextNotReadBack;
  }
  bool written = WriteImportLines(names, import.stream);
  std::fclose(names);
  if (!written || !FinishReplacement(import)) {
    AbandonReplacement(import);
    AbandonReplacement(text);
    return NameFilesOutcome::ImportNotWritten;
  }
  if (!CommitReplacement(text)) {
    AbandonReplacement(import);
    return NameFilesOutcome::TextNotWritten;
  }
  bool imported = CommitReplacement(import);
  // One sync of the directory for both renames: the new files survive a power cut.
  if (!SyncDirectoryOf(kNamesImportFile) || !imported) return NameFilesOutcome::ImportNotWritten;
  return NameFilesOutcome::Written;
}
