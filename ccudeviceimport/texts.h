// Fixed texts and names of CcuDeviceImport.
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
// The blank before the line feed kept for compatibility: imports read the head as written.
const char kImportFileHead[] = "##;IP=%s,Port=%s \n";
const char kResultFileName[] = "XMLRPCResult.txt";
// "1" whatever the outcome, kept for compatibility: readers of the file expect it first.
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
// "Inport" kept for compatibility: readers of XMLRPCResult.txt match this line.
const char kLogCallFailed[] = "Kein Inport von ";
const char kLogFaultStart[] = "Error ";
const char kLogAtHost[] = " bei ";
const char kLogImported[] = "Import von ";
const char kLogImportedEnd[] = " ok";
const char kLogFileFailed[] = "Importdatei nicht geschrieben: ";

}  // namespace texts
