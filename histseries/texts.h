// Fixed texts of HistSeries: file names, request keys, series lines and
// messages, in one place so the exact bytes can be checked at a glance.
#pragma once

// Selection files in the working directory: the first is read unless the
// request names another, the second when that cannot be opened.
constexpr const char kDefaultSelectionFile[] = "history.dat";
constexpr const char kFallbackSelectionFile[] = "history.vid";

// Key of the request argument (items joined by '&') that names the
// selection file; the period keys are read by common/period.
constexpr const char kKeySelectionFile[] = "DFW=";

// Prefix of an object line of the selection file ("txobs=name;label;kind").
constexpr const char kObjectLinePrefix[] = "txobs";

// Series files: object name + ".sqr", one header line, data lines of time and
// value, one closing line.
constexpr const char kSeriesFileSuffix[] = ".sqr";
constexpr const char kSeriesHeaderLine[] = "Zeit, %s\n";
constexpr const char kSeriesValueLine[] = "%s,%s\n";
constexpr const char kSeriesHighLine[] = "%s,1\n";
constexpr const char kSeriesLowLine[] = "%s,0\n";

// Messages on standard error: a refused period, an object chosen twice, a
// series file not written or not synced.
constexpr const char kMessageNoPeriod[] =
    "HistSeries: no usable period (from \"%s\", to \"%s\"); no series file written\n";
constexpr const char kMessageNotPlainName[] =
    "HistSeries: object name \"%s\" is not a plain file name; no series file for it\n";
constexpr const char kMessageCannotCreate[] = "HistSeries: cannot create series file %s: %s\n";
constexpr const char kMessageCannotWrite[] =
    "HistSeries: cannot write series file %s: %s; the previous file is kept\n";
constexpr const char kMessageCannotSync[] =
    "HistSeries: cannot sync the directory of the series files: %s; a power cut may lose them\n";
constexpr const char kMessageQueryFailed[] =
    "HistSeries: the history query failed; %s is kept as it was\n";
constexpr const char kMessageUnreadablePeriod[] =
    "HistSeries: the period end \"%s\" is no readable date; no series file written\n";
constexpr const char kMessageReversedPeriod[] =
    "HistSeries: the period starts (%s) after it ends (%s); no series file written\n";
constexpr const char kMessageRepeatedObject[] =
    "HistSeries: object \"%s\" is chosen again; that later entry is ignored\n";

// Exit statuses. Callers that only ran the program keep working; callers
// that look can tell fresh series from ones that stayed from an earlier run.
constexpr int kExitDone = 0;              // every chosen series file written
constexpr int kExitPeriodRefused = 1;     // no usable or readable period: no file touched
constexpr int kExitNoDatabase = 2;        // HistPath.cfg missing or empty: no file touched
constexpr int kExitQueryFailed = 3;       // the query failed: series files kept as they were
constexpr int kExitSeriesNotWritten = 4;  // some series file not written: that one kept
