#include "ccunameimport/nameimport.h"

#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ccunameimport/texts.h"
#include "common/replacefile.h"
#include "common/strings.h"

namespace {

constexpr char kHeaderEnd[] = "\r\n\r\n";
constexpr char kContentLengthHeader[] = "Content-Length:";
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

int CannotWrite(const char* fileName) {
  std::printf(kMsgCannotWrite, fileName);
  return kExitCannotWrite;
}

}  // namespace

bool CutNameList(const std::string& response, std::string* nameList) {
  size_t separator = response.find(kHeaderEnd);
  if (separator == std::string::npos) return false;
  *nameList = response.substr(separator + 2);
  // The service closes its answer with CR LF; only that pair is dropped, so a
  // name at the very end is never shortened.
  size_t length = nameList->size();
  if (length >= 2 && nameList->compare(length - 2, 2, "\r\n") == 0) nameList->resize(length - 2);
  return true;
}

bool AnswerShorterThanDeclared(const std::string& response) {
  size_t separator = response.find(kHeaderEnd);
  if (separator == std::string::npos) return false;
  size_t bodyLength = response.size() - (separator + std::strlen(kHeaderEnd));
  // Header lines end in CR LF; the first one is the status line.
  size_t at = response.find("\r\n");
  while (at != std::string::npos && at < separator) {
    size_t start = at + 2;
    at = response.find("\r\n", start);
    size_t nameLength = std::strlen(kContentLengthHeader);
    if (response.size() - start < nameLength ||
        strncasecmp(response.c_str() + start, kContentLengthHeader, nameLength) != 0) {
      continue;
    }
    char* end = nullptr;
    unsigned long long declared = std::strtoull(response.c_str() + start + nameLength, &end, 10);
    if (end == response.c_str() + start + nameLength) return false;  // no number: no bound
    return bodyLength < declared;
  }
  return false;
}

size_t CompleteLinesLength(const std::string& nameList) {
  size_t lastLineFeed = nameList.rfind('\n');
  return lastLineFeed == std::string::npos ? 0 : lastLineFeed + 1;
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

bool WriteImportLines(FILE* names, FILE* import, size_t limit) {
  std::vector<char> buffer(kLineBufferSize);
  size_t offset = 0;
  while (offset < limit && std::fgets(buffer.data(), kLineBufferSize, names) != nullptr) {
    std::string line = buffer.data();
    offset += line.size();
    if (CleanNameLine(line) && std::fputs(line.c_str(), import) < 0) return false;
  }
  return std::ferror(import) == 0;
}

int WriteNameFiles(const std::string& nameList, bool cut) {
  FileReplacement text;
  if (!BeginReplacement(text, kNamesTextFile) ||
      std::fprintf(text.stream, "%s\n", nameList.c_str()) < 0 || !FinishReplacement(text)) {
    AbandonReplacement(text);
    return CannotWrite(kNamesTextFile);
  }
  FileReplacement import;
  if (!BeginReplacement(import, kNamesImportFile)) {
    AbandonReplacement(text);
    return CannotWrite(kNamesImportFile);
  }
  // The import file is made from the names file as written.
  FILE* names = std::fopen(text.tempPath.c_str(), "r");
  if (names == nullptr) {
    AbandonReplacement(import);
    AbandonReplacement(text);
    return kExitCannotReadBack;
  }
  bool written = WriteImportLines(names, import.stream, cut ? CompleteLinesLength(nameList) : SIZE_MAX);
  std::fclose(names);
  if (!written || !FinishReplacement(import)) {
    AbandonReplacement(import);
    AbandonReplacement(text);
    return CannotWrite(kNamesImportFile);
  }
  if (!CommitReplacement(text)) {
    AbandonReplacement(import);
    return CannotWrite(kNamesTextFile);
  }
  if (!CommitReplacement(import)) return CannotWrite(kNamesImportFile);
  return kExitOk;
}
