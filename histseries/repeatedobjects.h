// Objects chosen more than once in a selection file.
#pragma once

#include <vector>

#include "common/selection.h"

// Removes every entry whose name, upper-cased as the query compares it,
// repeats an earlier entry's: the rows go to the first one only, and the
// later one's file would replace the first one's. A message on standard
// error names each entry removed.
void DropRepeatedObjects(std::vector<SelectionEntry>& objects);
