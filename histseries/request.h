// The export request as a whole: argument and selection file, repeated
// objects, the period and the one query.
#pragma once

#include <string>

#include "common/period.h"
#include "histseries/repeatedobjects.h"
#include "histseries/selectionfile.h"
#include "histseries/seriesquery.h"

// The period of the request argument (null: none) and the selection file's
// period values, the file's ends winning.
Period TakeExportPeriod(const char* argument, const PeriodValues& file);

// The message on standard error for a period that is not usable.
std::string PeriodRefusal(const Period& period);
