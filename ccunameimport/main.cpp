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
// Exit status:
//   0    both files written
//   252  a names file could not be written (previous file kept)
//   253  CCUDevNames.txt could not be read again (previous files kept)
//   254  the answer was cut off (size bound, time window, or shorter than
//        its Content-Length): CCUDevNames.txt holds what arrived,
//        CCUDevNames.imp only the complete lines
//   255  no name list received (no answer, or no header end in it): both
//        files left unchanged
#include <cstdio>
#include <cstring>
#include <string>

#include "ccunameimport/devicenamescript.h"
#include "ccunameimport/httpclient.h"
#include "ccunameimport/nameimport.h"
#include "ccunameimport/texts.h"

namespace {

struct NameImportRun {
  std::string host = kDefaultHost;
  std::string url;
  std::string response;
  HttpOutcome outcome;
  std::string nameList;
};

NameImportRun Run;

bool IsSoleArgument(int argc, char** argv, const char* option) {
  return argc == 2 && std::strcmp(argv[1], option) == 0;
}

int NoAnswer() {
  // The client's own messages end without a line break.
  if (Run.outcome.requestFailed) std::fputs("\n", stdout);
  std::fputs(kMsgNoAnswer, stdout);
  return kExitNoAnswer;
}

}  // namespace

int main(int argc, char** argv) {
  if (IsSoleArgument(argc, argv, "--help")) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (IsSoleArgument(argc, argv, "--version")) {
    std::printf(kVersionFormat, CCUNAMEIMPORT_VERSION);
    return kExitOk;
  }
  if (argc > 1) Run.host = argv[1];
  Run.url = kHttpSchemePrefix + Run.host + kScriptPath;

  Run.response = HttpRequest(kScriptMethod, Run.url.c_str(), kScriptContentType,
                             DeviceNameScript.c_str(), kScriptPort, true, &Run.outcome);
  if (!CutNameList(Run.response, &Run.nameList)) return NoAnswer();
  // A service that stalled or closed before the length it announced gave
  // only part of the list, however the receiving ended.
  if (AnswerShorterThanDeclared(Run.response)) Run.outcome.cut = true;

  int status = WriteNameFiles(Run.nameList, Run.outcome.cut);
  if (status != kExitOk) return status;
  if (Run.outcome.cut) {
    std::fputs(kMsgCutAnswer, stdout);
    return kExitCutAnswer;
  }
  return kExitOk;
}
