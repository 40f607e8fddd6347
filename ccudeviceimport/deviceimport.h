// The device import and the usage report over XML-RPC, and the files they write.
#pragma once

#include <string>

// Results of one call, with the values callers of earlier versions knew
// (1, 0, -1 ...); main turns them into exit statuses.
enum CallResult {
  kAnswerFalse = 0,
  kImported = 1,  // also: the usage report was answered true
  kCallFailed = -1,
  kFaultReply = -2,
  kFileNotWritten = -3,
  kAnswerNotBoolean = -4,
};

// Asks the service at host:port for its device list and writes its import
// file. kImported, kCallFailed, kFaultReply or kFileNotWritten; appends one
// line to `resultLog` in every case.
CallResult ImportDevices(const std::string& host, const std::string& port, std::string& resultLog);

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

// Reports one usage of `target` to the service named by the host text alone.
// kImported (answer true), kAnswerFalse, kCallFailed, kFaultReply, or
// kAnswerNotBoolean when the answer is of another type.
CallResult SendValueUsage(const std::string& target, const std::string& valueKind, int references,
                          const std::string& host);

// Writes XMLRPCResult.txt: "1", the result log, a line feed. False when it
// could not be written.
bool WriteResultFile(const std::string& resultLog);
