// The device import and the usage report over XML-RPC, and the files they write.
#pragma once

#include <string>

#include "common/result.h"

// Why a call imported nothing or brought no usable answer; main turns it
// into the exit status.
enum class CallFault {
  CallFailed,        // no usable reply
  FaultReply,        // the service answered with a fault
  FileNotWritten,    // the import file could not be written
  AnswerNotBoolean,  // the usage answer is of another type
};

// Asks the service at host:port for its device list and writes its import
// file. CallFailed, FaultReply or FileNotWritten with the service's line for
// the result log as the message.
Result<Done, CallFault> ImportDevices(const std::string& host, const std::string& port);

// The result log line of a service whose device list was imported.
std::string ImportedLogLine(const std::string& host, const std::string& port);

// The import file lines for the records found in `resultText`, without the
// first line. A record is found whatever members stand before its ADDRESS;
// CR and LF in an address or type become blanks.
std::string DeviceImportLines(const std::string& resultText);

// `text` with each CR and LF replaced by a blank, for a line-based file.
std::string LineSafe(std::string text);

// Writes "CCUDevices" + port + ".imp" for `resultText`. False when it could
// not be written; an earlier file then stays as it was.
bool WriteDeviceImportFile(const std::string& resultText, const std::string& host,
                           const std::string& port);

// Reports one usage of `target` to the service named by the host text alone:
// the boolean answer, or CallFailed (the library's reason), FaultReply or
// AnswerNotBoolean (the answer's text).
Result<bool, CallFault> SendValueUsage(const std::string& target, const std::string& valueKind,
                                       int references, const std::string& host);

// Writes XMLRPCResult.txt: "1", the result log, a line feed. False when it
// could not be written.
bool WriteResultFile(const std::string& resultLog);
