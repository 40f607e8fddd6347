// Objects chosen more than once in a selection file.
#pragma once

#include <string>
#include <vector>

#include "common/selection.h"

// Removes every entry whose name, upper-cased as the query compares it,
// repeats an earlier entry's: the rows go to the first one only, and the
// later one's file would replace the first one's. Returns the names of the
// entries removed, in list order, for the caller to report.
std::vector<std::string> DropRepeatedObjects(std::vector<SelectionEntry>& objects);
