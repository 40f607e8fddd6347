// The chosen objects and the period values of a selection file, shared by
// the history report and the series export.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/period.h"

// One chosen history object, from a text "name;label;kind".
struct SelectionEntry {
  std::string name;   // the object's name as written
  std::string label;  // for display
  char kind = '\0';   // first character of the third field, NUL when it is empty
};

SelectionEntry ParseSelectionEntry(const std::string& text);

// Characters of an object line's value that a selection file read keeps.
constexpr size_t kSelectionValueLimit = 128;

// How a program's selection file writes its object lines: the report's
// "obj=name;..." (value at 4, 8 entries), the export's "txobs=name;..."
// (value at 6 whatever the sixth character is, 24 entries).
struct SelectionLayout {
  const char* objectPrefix;
  size_t valueOffset;
  size_t maxObjects;  // reading stops after this many object lines
};

// What a selection file holds. The period values stay empty until a line sets
// them; a later line of the same key replaces an earlier one.
struct SelectionFileValues {
  std::vector<SelectionEntry> objects;  // at most the layout's maxObjects
  PeriodValues period;
};

// Reads the open selection file up to its end or its last object line the
// layout allows. Reads of 254 characters (the rest of a longer line is read
// as a line of its own), reads under 4 characters skipped, the line end
// dropped; object values cut at 128 characters, dates at 10, times at 8.
void ReadSelectionLines(FILE* file, const SelectionLayout& layout, SelectionFileValues& values);
