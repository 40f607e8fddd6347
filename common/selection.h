// The chosen objects and the period texts of a selection, shared by the
// history report and the series export.
#pragma once

#include <string>

// One chosen history object, from a text "name;label;kind".
struct SelectionEntry {
  std::string name;   // the object's name as written
  std::string label;  // for display
  char kind = '\0';   // first character of the third field, NUL when it is empty
};

SelectionEntry ParseSelectionEntry(const std::string& text);

// A request's time value ("HH:MM" or "HH:MM:SS", each ":" possibly sent as
// "%3A") as HH:MM:SS; a value still too short after padding is midnight.
std::string NormalizeRequestTime(std::string time);

// "YYYY-MM-DD HH:MM:SS" re-ordered by position to "DD.MM.YYYY HH:MM:SS";
// a text cut short gives what is there.
std::string DisplayPeriodText(const std::string& period);
