// CcuNameImport: fetches the address and name of every device and channel
// from the CCU's script service and writes them as import files.
//
// Usage: CcuNameImport [HOST]        (HOST defaults to 127.0.0.1)
//        CcuNameImport --help | --version   (only as the sole argument)
//
// Posts the device-name script to http://HOST:8181/Test.exe and writes, in
// the working directory:
//   CCUDevNames.txt  the name list of the answer, as received
//   CCUDevNames.imp  one line address=name per device and channel, with
//                    blanks and separators written '_', umlauts and the sharp
//                    s written in ASCII letters; the central unit's own BidCoS
//                    objects left out
// Both are written under a temporary name and renamed into place, so a run
// that fails leaves the previous files as they were.
//
// The answer is taken as a name list only when it is one: a 2xx status, a
// body that is not empty, complete by its Content-Length or its last chunk
// (chunked answers are decoded), or, without either, received up to the
// server's close. NUL bytes in it are dropped.
//
// Exit status:
//   0    both files written
//   251  the service answered with a status other than 2xx: both kept
//   252  a names file could not be written (previous file kept)
//   253  CCUDevNames.txt could not be read again (previous files kept)
//   254  the answer was cut off (size bound, time window, a reset, shorter
//        than its Content-Length, no last chunk): both kept
//   255  no name list received (no answer, no header end, an empty body, no
//        status line, chunks that do not read): both kept
#include <cstdio>
#include <string>

#include "ccunameimport/devicenamescript.h"
#include "ccunameimport/httpclient.h"
#include "ccunameimport/nameimport.h"
#include "ccunameimport/texts.h"
#include "common/programinfo.h"
#include "programhelp.h"

namespace {

// Exit status for a request that brought no answer: the client's message,
// which has no line break, then ours on a line of its own; both files stay.
int NoAnswer(const std::string& failure) {
  std::printf("%s\n", failure.c_str());
  std::fputs(kMsgNoAnswer, stdout);
  return kExitNoAnswer;
}

// Exit status for an answer that is no complete name list; both files stay.
int NotANameList(const AnswerCheck& check) {
  switch (check.verdict) {
    case AnswerVerdict::ErrorStatus:
      std::printf(kMsgErrorStatus, check.status);
      return kExitErrorStatus;
    case AnswerVerdict::CutShort:
      std::fputs(kMsgCutAnswer, stdout);
      return kExitCutAnswer;
    default:
      std::fputs(kMsgNoAnswer, stdout);
      return kExitNoAnswer;
  }
}

// Exit status, and the message, for how writing the names files went.
int ReportNameFiles(NameFilesOutcome outcome) {
  switch (outcome) {
    case NameFilesOutcome::Written:
      return kExitOk;
    case NameFilesOutcome::TextNotWritten:
      std::printf(kMsgCannotWrite, kNamesTextFile);
      return kExitCannotWrite;
    case NameFilesOutcome::ImportNotWritten:
      std::printf(kMsgCannotWrite, kNamesImportFile);
      return kExitCannotWrite;
    case NameFilesOutcome::TextNotReadBack:
      return kExitCannotReadBack;
  }
  return kExitCannotWrite;  // no other outcome is ever returned
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerAboutProgram(argc, argv, kProgramName, kProgramVersion, kProgramHelp)) {
    return kExitOk;
  }
  const std::string host = argc > 1 ? argv[1] : kDefaultHost;
  const std::string url = kHttpSchemePrefix + host + kScriptPath;

  const Result<HttpResponse, RequestFault> response = HttpRequest(
      kScriptMethod, url.c_str(), kScriptContentType, DeviceNameScript.c_str(), kScriptPort, true);
  if (!response.Ok()) return NoAnswer(response.Fault().message);
  std::string nameList;
  AnswerCheck check = CheckAnswer(response.Value(), &nameList);
  if (check.verdict != AnswerVerdict::NameList) return NotANameList(check);
  return ReportNameFiles(WriteNameFiles(nameList));
}
