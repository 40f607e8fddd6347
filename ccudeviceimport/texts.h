// Fixed texts and names of CcuDeviceImport.
#pragma once

#include <cstddef>

namespace texts {

constexpr char kDefaultHost[] = "127.0.0.1";
// Asked in this order; they stay texts and go unchanged into URL, file name and log.
constexpr const char* kServicePorts[] = {"2001", "2000", "2010"};
constexpr char kUrlScheme[] = "xmlrpc://";

constexpr char kListMethod[] = "listDevices";
constexpr char kUsageMethod[] = "reportValueUsage";
constexpr char kUsageValueKind[] = "PRESS";
constexpr int kUsageReferences = 1;

constexpr char kImportFilePrefix[] = "CCUDevices";
constexpr char kImportFileSuffix[] = ".imp";
// The blank before the line feed kept for compatibility: imports read the head as written.
constexpr char kImportFileHead[] = "##;IP=%s,Port=%s \n";
constexpr char kResultFileName[] = "XMLRPCResult.txt";
// "1" whatever the outcome, kept for compatibility: readers of the file expect it first.
constexpr char kResultFileHead[] = "1\n";

// Markers of the result text scan. A device struct prints its members
// ordered by name, so its ADDRESS stands first ("[ADDRESS:") unless a member
// sorts before it (ACTIVE, AES_KEY, a leading digit: ",ADDRESS:"); the address
// starts one character (the opening quote) after either marker. The comma
// keeps e.g. PARENT_ADDRESS and PARENT_TYPE out.
constexpr char kAddressName[] = "ADDRESS:";
constexpr char kStructStart = '[';
constexpr char kMemberSeparator = ',';
constexpr char kTypeMarker[] = ",TYPE:\"";

// Fault texts go into one log line: longer ones are cut there.
constexpr std::size_t kMaxLoggedFaultBytes = 4096;
constexpr char kCutMark[] = "...";

// Result log lines; host and port follow, "\n" ends each.
// "Inport" kept for compatibility: readers of XMLRPCResult.txt match this line.
constexpr char kLogCallFailed[] = "Kein Inport von ";
constexpr char kLogFaultStart[] = "Error ";
constexpr char kLogAtHost[] = " bei ";
constexpr char kLogImported[] = "Import von ";
constexpr char kLogImportedEnd[] = " ok";
constexpr char kLogFileFailed[] = "Importdatei nicht geschrieben: ";

}  // namespace texts
