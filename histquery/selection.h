// The selection of a run: the last selection file, the request's values, the
// period and the delete link.
#pragma once

#include <string>

#include "common/period.h"
#include "histquery/reportstate.h"

constexpr const char kObjectSelectionFile[] = "histobj.dat";
constexpr const char kSqlSelectionFile[] = "histsql.dat";

// The selection file to load, the request's entries, the selection file that
// records the request, the period and the delete link of `state.request`, in
// that order: after it `state` holds everything the statement needs.
void TakeSelection(ReportState& state);

// The selection file a request asks to load first: histobj.dat for an empty
// request or a bare view (VIEW= and WIDTH= alone), else the DFW value when it is a plain file name
// in the working directory; empty when nothing is to be loaded.
std::string SelectionFileToLoad(const ReportRequest& request);

// Up to 8 entries of a selection file into `state`; returns the file's
// period values. A file that does not open loads nothing.
PeriodValues LoadSelectionFile(ReportState& state, const std::string& fileName);

// The text of the selection file that records a request: its period values
// as `sent` reads them, then its SQL text or its object entries.
std::string SelectionFileContent(const ReportRequest& request, const RequestPeriod& sent);

// The period and entries of `state` as request keys, for a delete link:
// "txDateFrom=...&txTimeFrom=...&txDateTo=...&txTimeTo=..." and one
// "&obj=name;label;kind" per entry.
std::string SelectionAsRequest(const ReportState& state);
