// Replacing an output file as a whole.
#pragma once

#include <string>

// Writes `content` to a new file beside `fileName` and renames it into place,
// so readers see the old file or the complete new one, never a part. False
// when anything fails; the old file then stays and no temporary is left.
bool ReplaceFile(const std::string& fileName, const std::string& content);
