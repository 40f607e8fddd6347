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

int ExitStatusFor(CallFault fault) {
  switch (fault) {
    case CallFault::CallFailed:
      return kExitCallFailed;
    case CallFault::FaultReply:
      return kExitFaultReply;
    case CallFault::FileNotWritten:
      return kExitFileNotWritten;
    case CallFault::AnswerNotBoolean:
      return kExitAnswerNotBoolean;
  }
  return kExitCallFailed;  // no other fault is ever returned
}

// Imports the device list of every service, one line each in `resultLog`.
// The exit status is the last call's, kept for compatibility: callers read
// the port 2010 outcome; an import file not written for any port makes it 253.
int ImportEveryList(const std::string& host, std::string& resultLog) {
  int status = kExitImported;
  bool fileNotWritten = false;
  for (const char* port : texts::kServicePorts) {
    Result<Done, CallFault> imported = ImportDevices(host, port);
    resultLog += (imported.Ok() ? ImportedLogLine(host, port) : imported.Message()) + "\n";
    status = imported.Ok() ? kExitImported : ExitStatusFor(imported.Fault().kind);
    if (status == kExitFileNotWritten) fileNotWritten = true;
  }
  return fileNotWritten ? kExitFileNotWritten : status;
}

// Reports one usage of `target`: the exit status is the answer (1 true, 0
// false) or the failure's. The host text alone is the URL, kept for
// compatibility: callers pass a bare host (port 2001).
int ReportUsage(const std::string& target, const std::string& host) {
  Result<bool, CallFault> answer =
      SendValueUsage(target, texts::kUsageValueKind, texts::kUsageReferences, host);
  if (!answer.Ok()) return ExitStatusFor(answer.Fault().kind);
  return answer.Value() ? kExitImported : kExitAnswerFalse;
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
  int status = argc < 3 ? ImportEveryList(host, resultLog) : ReportUsage(argv[2], host);
  bool resultWritten = WriteResultFile(resultLog);
  // One sync of the directory after the last file: all of them survive a power cut.
  if (!SyncDirectoryOf(texts::kResultFileName) || !resultWritten) status = kExitFileNotWritten;
  return status;
}
