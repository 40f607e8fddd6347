// The name-list path of the name import: the answer checked (status, length,
// chunks, NUL bytes, how receiving ended) and cut to its name list, and each
// line of it cleaned for the import file. The files are streams in memory here.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ccunameimport/nameimport.h"
#include "fuzzsupport.h"

namespace {

// What leaves the cleaning holds no separator and no umlaut any more.
constexpr char kCleanedAway[] = " :-/.()\xE4\xF6\xFC\xC4\xD6\xDC\xDF";

void CheckImportLines(const std::string& nameList) {
  // CCUDevNames.txt as it is written: the list as a C string and a line feed.
  std::string text = std::string(nameList.c_str()) + "\n";
  FILE* names = fmemopen(&text[0], text.size(), "r");
  Require(names != nullptr, "fmemopen failed");
  char* imported = nullptr;
  size_t importedSize = 0;
  FILE* import = open_memstream(&imported, &importedSize);
  Require(import != nullptr, "open_memstream failed");

  bool written = WriteImportLines(names, import);
  std::fclose(names);
  std::fclose(import);
  Require(written, "WriteImportLines: failed on a memory stream");
  std::string lines(imported, importedSize);
  std::free(imported);

  Require(lines.find_first_of(kCleanedAway) == std::string::npos,
          "WriteImportLines: separator or umlaut left");
  Require(lines.size() <= 2 * text.size(), "WriteImportLines: output grew too much");
  Require(lines.compare(0, 6, "BidCoS") != 0 && (lines.empty() || lines[0] != '='),
          "WriteImportLines: dropped line kept");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HttpResponse received;
  received.raw.assign(reinterpret_cast<const char*>(data), size);
  const std::string& response = received.raw;
  std::string nameList;
  AnswerCheck check = CheckAnswer(received, &nameList);
  size_t headerEnd = response.find("\r\n\r\n");
  if (headerEnd == std::string::npos) {
    Require(check.verdict == AnswerVerdict::NoHeaderEnd, "CheckAnswer: header end missed");
    return 0;
  }
  // The cut: from the second half of the header end on.
  std::string rest = response.substr(headerEnd + 2);
  CheckImportLines(rest);

  // A name list only with a 2xx status and a body, never with a NUL in it;
  // decoded chunks never longer than what they came in; a plain body is the
  // cut, less only a closing CR LF.
  if (check.verdict == AnswerVerdict::NameList) {
    Require(check.status >= 200 && check.status <= 299, "CheckAnswer: error status taken");
    Require(nameList.find('\0') == std::string::npos, "CheckAnswer: NUL kept");
    Require(nameList.size() <= response.size(), "CheckAnswer: list grew");
    if (!check.framed && rest.find('\0') == std::string::npos) {
      Require(nameList == rest || nameList + "\r\n" == rest, "CheckAnswer: wrong name list");
    }
    CheckImportLines(nameList);
  }
  // Receiving cut off or reset: an answer without framing is never taken.
  for (bool reset : {false, true}) {
    HttpResponse ended = received;
    (reset ? ended.broken : ended.cut) = true;
    std::string cutList;
    AnswerVerdict verdict = CheckAnswer(ended, &cutList).verdict;
    bool unframed = check.verdict == AnswerVerdict::NameList && !check.framed;
    Require(verdict == (unframed ? AnswerVerdict::CutShort : check.verdict),
            "CheckAnswer: cut answer taken");
  }
  std::string body;
  DecodeChunks(rest, 0, &body);
  Require(body.size() <= rest.size(), "DecodeChunks: body grew");

  std::string line = rest;
  if (CleanNameLine(line)) {
    Require(line.find_first_of(kCleanedAway) == std::string::npos,
            "CleanNameLine: separator or umlaut left");
  }
  return 0;
}
