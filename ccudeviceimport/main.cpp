// CcuDeviceImport: imports the device lists of the central unit's XML-RPC
// interface services, or reports one value usage to them.
//
// Usage:
//   CcuDeviceImport [HOST]          asks listDevices of the services on the ports
//                                   2001, 2000 and 2010 of HOST (default 127.0.0.1)
//   CcuDeviceImport HOST TARGET ... sends reportValueUsage(TARGET, "PRESS", 1) to
//                                   the service named by the HOST text alone
//                                   (libXmlRpc takes a bare host as port 2001);
//                                   further arguments are ignored
//   CcuDeviceImport --help | --version   (as the only argument) prints a short text
//
// Writes, in the working directory, each replaced as a whole (temporary file,
// then rename): "CCUDevices" + port + ".imp" for every service that answered
// without a fault (address and type of each device), and XMLRPCResult.txt
// ("1", one log line per service, an empty line). Prints nothing otherwise.
//
// Exit status, the 8-bit form of the last call's result:
//   main mode, the result for port 2010: 1 imported, 255 no usable reply, 254 fault reply;
//   usage report: 1 or 0 (the boolean answer), 255, 254, 252 answer not a boolean;
//   either mode: 253 when an import file or XMLRPCResult.txt could not be written.
#include <malloc.h>

#include <string>

#include "common/programinfo.h"
#include "common/replacefile.h"
#include "deviceimport.h"
#include "programhelp.h"
#include "texts.h"

namespace {

// The exit statuses: the 8-bit forms of the call results, as callers of
// earlier versions read them.
constexpr int kExitOk = 0;                  // --help or --version answered
constexpr int kExitAnswerFalse = 0;         // usage report answered false
constexpr int kExitImported = 1;            // imported, or usage report answered true
constexpr int kExitCallFailed = 255;        // -1: no usable reply
constexpr int kExitFaultReply = 254;        // -2: fault reply
constexpr int kExitFileNotWritten = 253;    // -3: an import file or XMLRPCResult.txt not written
constexpr int kExitAnswerNotBoolean = 252;  // -4: usage answer not a boolean

int ExitStatusFor(CallResult result) {
  switch (result) {
    case kAnswerFalse:
      return kExitAnswerFalse;
    case kImported:
      return kExitImported;
    case kCallFailed:
      return kExitCallFailed;
    case kFaultReply:
      return kExitFaultReply;
    case kFileNotWritten:
      return kExitFileNotWritten;
    case kAnswerNotBoolean:
      return kExitAnswerNotBoolean;
  }
  return kExitCallFailed;  // no other result is ever returned
}

// The device lists are read one after another, each into some 200,000 small
// values that are freed before the next list comes: the heap is kept for the
// next list (no trimming, no fast bins merged on the way) instead of being
// given back and faulted in again. The peak stays that of one list.
void KeepHeapBetweenLists() {
  mallopt(M_MXFAST, 0);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
  mallopt(M_TOP_PAD, 16 * 1024 * 1024);
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerAboutProgram(argc, argv, kProgramName, kProgramVersion, kProgramHelp)) return kExitOk;
  KeepHeapBetweenLists();
  const std::string host = argc > 1 ? argv[1] : texts::kDefaultHost;
  std::string resultLog;  // one line per service; ends up in XMLRPCResult.txt
  CallResult result = kAnswerFalse;
  bool fileNotWritten = false;  // then the run must not end as a success
  if (argc < 3) {
    // Last result is the exit status, kept for compatibility: callers read the port 2010 outcome.
    for (const char* port : texts::kServicePorts) {
      result = ImportDevices(host, port, resultLog);
      if (result == kFileNotWritten) fileNotWritten = true;
    }
  } else {
    // Host text alone as URL, kept for compatibility: callers pass a bare host (port 2001).
    result = SendValueUsage(argv[2], texts::kUsageValueKind, texts::kUsageReferences, host);
  }
  if (!WriteResultFile(resultLog)) fileNotWritten = true;
  // One sync of the directory after the last file: all of them survive a power cut.
  if (!SyncDirectoryOf(texts::kResultFileName)) fileNotWritten = true;
  if (fileNotWritten) result = kFileNotWritten;
  return ExitStatusFor(result);
}
