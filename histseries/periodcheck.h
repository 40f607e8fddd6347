// Checks of the export period before it becomes time stamps: a period that
// would export another span than the one asked for is refused.
#pragma once

#include <string>

// A period text that holds at least a date, a blank and the start of a time.
bool PeriodTextUsable(const std::string& periodText);

// True when a re-ordered period end "DD.MM.YYYY HH:MM:SS" reads as a date:
// day, month and year begin with a digit, the day is at most 31, the month
// at most 12, and the date lies within the 32-bit time stamps. The date
// conversion turns anything else into 1970 or -1, which would export the
// wrong period.
bool PeriodEndReadable(const std::string& displayText);
