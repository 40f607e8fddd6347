// The selection file of an export: which file, its object lines and period
// lines, read through the shared reader in common/selection.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "common/selection.h"

// Build-time sizes of the selection.
constexpr size_t kMaxSeriesObjects = 24;

// What a selection file holds (objects at most kMaxSeriesObjects).
using Selection = SelectionFileValues;

// Reads the open selection file up to its end or its 24th object line.
void ReadSelectionFile(FILE* file, Selection& selection);

// Name of the selection file to read: "history.dat" without a request, else
// the request's "DFW=" value (empty when it has none).
std::string SelectionFileName(const char* request);

// Opens the named selection file, or "history.vid" when that fails, and reads
// it. Neither file: the selection stays empty.
void LoadSelection(const std::string& fileName, Selection& selection);
