// The selection of a run: mode, last selection file, request values, period.
#pragma once

#include <string>

#include "histquery/reportstate.h"

constexpr const char kObjectSelectionFile[] = "histobj.dat";
constexpr const char kSqlSelectionFile[] = "histsql.dat";

// Mode, selection file, request values and period of `state.request`, in
// that order: after it `state` holds everything the statement needs.
void TakeSelection(ReportState& state);

// The selection file a request asks to load first: histobj.dat for an empty
// request, else the DFW value when it is a plain file name in the working
// directory; empty when nothing is to be loaded.
std::string SelectionFileToLoad(const std::string& request);

// Up to 8 entries of a selection file into `state`; returns the file's
// period values. A file that does not open loads nothing.
PeriodValues LoadSelectionFile(ReportState& state, const std::string& fileName);

// The request's (object mode) entries into `state`, which they replace;
// returns the text of the selection file that records them and the request's
// period `sent`.
std::string TakeRequestValues(ReportState& state, const RequestPeriod& sent);

// Whether the request asks to change the history: a free SQL text (it may
// write) or ACTION=DEL.
bool AsksForChange(const ReportState& state);

// The period and entries of `state` as request keys, for a delete link:
// "txDateFrom=...&txTimeFrom=...&txDateTo=...&txTimeTo=..." and one
// "&obj=name;label;kind" per entry.
std::string SelectionAsRequest(const ReportState& state);
