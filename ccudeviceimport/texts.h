// Fixed texts, names and status values of CcuDeviceImport.
#pragma once

#include <cstddef>

namespace texts {

const char kDefaultHost[] = "127.0.0.1";
// Asked in this order; they stay texts and go unchanged into URL, file name and log.
const char* const kServicePorts[] = {"2001", "2000", "2010"};
const char kUrlScheme[] = "xmlrpc://";

const char kListMethod[] = "listDevices";
const char kUsageMethod[] = "reportValueUsage";
const char kUsageValueKind[] = "PRESS";
const int kUsageReferences = 1;

const char kImportFilePrefix[] = "CCUDevices";
const char kImportFileSuffix[] = ".imp";
const char kImportFileHead[] = "##;IP=%s,Port=%s \n";
const char kResultFileName[] = "XMLRPCResult.txt";
const char kResultFileHead[] = "1\n";

// Markers of the result text scan. A device struct prints its members
// ordered by name, so its ADDRESS stands first ("[ADDRESS:") unless a member
// sorts before it (ACTIVE, AES_KEY, a leading digit: ",ADDRESS:"); the address
// starts one character (the opening quote) after either marker. The comma
// keeps e.g. PARENT_ADDRESS and PARENT_TYPE out.
const char kAddressName[] = "ADDRESS:";
const char kStructStart = '[';
const char kMemberSeparator = ',';
const char kTypeMarker[] = ",TYPE:\"";

// Fault texts go into one log line: longer ones are cut there.
const std::size_t kMaxLoggedFaultBytes = 4096;
const char kCutMark[] = "...";

// Result log lines; host and port follow, "\n" ends each.
const char kLogCallFailed[] = "Kein Inport von ";
const char kLogFaultStart[] = "Error ";
const char kLogAtHost[] = " bei ";
const char kLogImported[] = "Import von ";
const char kLogImportedEnd[] = " ok";
const char kLogFileFailed[] = "Importdatei nicht geschrieben: ";


}  // namespace texts

// Results of one call; the exit status is their 8-bit form (-1 is 255 ...).
enum CallResult {
  kAnswerFalse = 0,
  kImported = 1,  // also: the usage report was answered true
  kCallFailed = -1,
  kFaultReply = -2,
  kFileNotWritten = -3,
  kAnswerNotBoolean = -4,
};
