// The history query of an export.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/selection.h"

// The one query for all objects: rows of the period (both ends inclusive),
// State not "X", the chosen objects in time order.
std::string BuildSeriesQuery(int32_t fromSeconds, int32_t toSeconds,
                             const std::vector<SelectionEntry>& objects);
