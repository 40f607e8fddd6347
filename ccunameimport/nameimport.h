// From the script service's raw answer to CCUDevNames.txt and CCUDevNames.imp.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "ccunameimport/httpclient.h"

// What the script service's raw answer turned out to be.
enum class AnswerVerdict {
  NameList,     // a 2xx answer with a complete, non-empty body
  NoHeaderEnd,  // no "\r\n\r\n" (also an empty response)
  Malformed,    // no "HTTP/x.y NNN" status line, or chunks that do not read
  ErrorStatus,  // a status other than 2xx: the body is an error page
  EmptyBody,    // nothing but line ends in the body
  CutShort,     // the body ends before its Content-Length or its last chunk
};

struct AnswerCheck {
  AnswerVerdict verdict = AnswerVerdict::NoHeaderEnd;
  int status = 0;       // the HTTP status code, when the status line read
  bool framed = false;  // Content-Length or chunks say where the body ends
};

// The one verdict on the answer and how receiving it ended: the status
// line, the Content-Length and Transfer-Encoding headers (case-insensitive),
// the body with chunks decoded and NUL bytes dropped; without either header
// the body ends where receiving did, which must not have been cut. With the
// verdict NameList, `nameList` is the body from 2 past the start of the
// header end, so that it begins with an empty CR LF line, less a closing CR
// LF; otherwise it is left as it was.
AnswerCheck CheckAnswer(const HttpResponse& received, std::string* nameList);

// Appends to `body` the data of the chunks of a "Transfer-Encoding: chunked"
// body that starts at `at` in `text`. Extensions behind a chunk size and
// trailers behind the last chunk are skipped. Verdict NameList when the last
// (size 0) chunk was reached, CutShort when the data ends before it,
// Malformed when a size or a chunk's closing CR LF does not read.
AnswerVerdict DecodeChunks(const std::string& text, size_t at, std::string* body);

// Makes one line of CCUDevNames.txt (with its line feed, if any) a line of
// CCUDevNames.imp. False when the line is dropped: the central unit's own
// BidCoS objects, objects without address, and lines of 4 bytes or less.
bool CleanNameLine(std::string& line);

// Reads `names` in lines (a line longer than the line buffer in pieces) and
// writes each kept, cleaned line to `import`. False when writing failed.
bool WriteImportLines(FILE* names, FILE* import);

// How writing the two names files went.
enum class NameFilesOutcome {
  Written,           // both files in place
  TextNotWritten,    // CCUDevNames.txt could not be written: both previous files kept
  ImportNotWritten,  // CCUDevNames.imp could not be written (CCUDevNames.txt may be new)
  TextNotReadBack,   // CCUDevNames.txt not readable again: both previous files kept
};

// Writes CCUDevNames.txt from `nameList` and CCUDevNames.imp from what it
// reads back. Both go under temporary names first: on failure the previous
// files stay. Prints nothing.
NameFilesOutcome WriteNameFiles(const std::string& nameList);
