// Fixed texts, names and limits of CcuNameImport and its HTTP client, kept in
// one place. Messages are printed byte for byte as they stand here.
#pragma once

#include <cstdint>

// HTTP client
constexpr char kHttpSchemePrefix[] = "http://";
// The path's slash is searched from here (see SplitUrl).
constexpr int kHostPathSplitStart = 9;
constexpr uint16_t kDefaultHttpPort = 80;
constexpr int kReceiveTimeoutSeconds = 2;
constexpr unsigned kSleepBeforeReceiveMicros = 500000;
constexpr unsigned kSleepAfterReceiveMicros = 200000;
constexpr int kReceiveWindowSeconds = 5;
constexpr int kResponseBufferSize = 256000;
constexpr int kChunkSize = 16384;
constexpr char kMsgHostNotFound[] = "Error - Host not found %s";
constexpr char kMsgNoConnection[] = "No connection to Host %s";

// The script service
constexpr char kDefaultHost[] = "127.0.0.1";
constexpr char kScriptPath[] = "/Test.exe";
constexpr char kScriptMethod[] = "POST";
constexpr char kScriptContentType[] = "text/xml";
constexpr uint16_t kScriptPort = 8181;

// Files in the working directory. Each is written under its temporary name
// first and renamed into place, so a failed run never leaves a half-written
// names file behind.
constexpr char kNamesTextFile[] = "CCUDevNames.txt";
constexpr char kNamesImportFile[] = "CCUDevNames.imp";
constexpr int kLineBufferSize = 128000;

// Exit statuses (negative results as 8-bit statuses).
constexpr int kExitOk = 0;
constexpr int kExitNoAnswer = 255;        // -1: no name list in the answer
constexpr int kExitCutAnswer = 254;       // -2: the answer was cut off
constexpr int kExitCannotReadBack = 253;  // -3: CCUDevNames.txt not readable again
constexpr int kExitCannotWrite = 252;     // -4: a names file could not be written
constexpr int kExitErrorStatus = 251;     // -5: the service answered with an error status

// Messages of the program itself; each stands on a line of its own.
constexpr char kMsgNoAnswer[] =
    "CcuNameImport: no name list received; CCUDevNames.txt and CCUDevNames.imp left unchanged\n";
constexpr char kMsgCutAnswer[] =
    "CcuNameImport: the answer was cut off; CCUDevNames.txt and CCUDevNames.imp left unchanged\n";
constexpr char kMsgErrorStatus[] =
    "CcuNameImport: the service answered with status %d; CCUDevNames.txt and CCUDevNames.imp "
    "left unchanged\n";
constexpr char kMsgCannotWrite[] = "CcuNameImport: cannot write %s\n";
