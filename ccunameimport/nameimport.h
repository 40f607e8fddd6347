// From the script service's raw answer to CCUDevNames.txt and CCUDevNames.imp.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// The name list in `response`: from 2 past the start of the first "\r\n\r\n"
// (so it begins with an empty CR LF line) to the end, less a closing CR LF.
// False when the response holds no "\r\n\r\n" (also when it is empty).
bool CutNameList(const std::string& response, std::string* nameList);

// True when the headers of `response` declare a Content-Length that its body
// does not reach: the service stopped or closed in the middle of its answer.
// False without such a header (the body then ends where the connection did).
bool AnswerShorterThanDeclared(const std::string& response);

// Length of the part of `nameList` up to and including its last line feed;
// what follows was cut in the middle when the answer was cut off.
size_t CompleteLinesLength(const std::string& nameList);

// Makes one line of CCUDevNames.txt (with its line feed, if any) a line of
// CCUDevNames.imp. False when the line is dropped: the central unit's own
// BidCoS objects, objects without address, and lines of 4 bytes or less.
bool CleanNameLine(std::string& line);

// Reads `names` in lines (a line longer than the line buffer in pieces) and
// writes each kept, cleaned line to `import`. Only lines that start before
// byte `limit` are taken. False when writing failed.
bool WriteImportLines(FILE* names, FILE* import, size_t limit);

// Writes CCUDevNames.txt from `nameList` and CCUDevNames.imp from what it
// reads back; with `cut`, the line cut in the middle stays out of
// CCUDevNames.imp. Both go under temporary names first: on failure the
// previous files stay. Returns an exit status (kExitOk, kExitCannotWrite with
// a message, kExitCannotReadBack).
int WriteNameFiles(const std::string& nameList, bool cut);
