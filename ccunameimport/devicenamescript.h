// The script that the script service runs for us: it writes one line
// "address=name" per device, each followed by the lines of its channels.
#pragma once

#include <string>

// 682 bytes; its length goes into the Content-Length header.
extern const std::string DeviceNameScript;
