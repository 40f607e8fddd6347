// The export request as a whole: argument and selection file, repeated
// objects, period checks and the one query, each in its own file.
#pragma once

#include "common/period.h"
#include "histseries/periodcheck.h"
#include "histseries/repeatedobjects.h"
#include "histseries/selectionfile.h"
#include "histseries/seriesquery.h"
