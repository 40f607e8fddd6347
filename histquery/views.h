// The views of a selection beside the report (VIEW=JSON, CHART, CSV): the
// same period and objects as the report, taken the same way (request,
// histobj.dat, DFW=), but only read: a view never writes a selection file and
// never deletes.
#pragma once

#include <cstdio>
#include <string>

#include "histquery/reportstate.h"
#include "histquery/sqllimits.h"

// The whole answer of a view request to `out`: its refusal when the request
// is no object selection (SQL= or ACTION=DEL), has no usable period or no
// object; else the chart data, the chart page or the download. `cfgPath`
// names HistPath.cfg.
void ShowView(FILE* out, ReportState& state, const char* cfgPath, const StatementLimits& limits);

// The selection that `state` took, as request keys that the chart page hands
// to its links and its data requests: the period with seconds
// ("txDateFrom=2024-03-05&txTimeFrom=07%3A30%3A00&txDateTo=...&txTimeTo=...")
// and one "&obj=NAME;LABEL;KIND" per entry, every field percent-encoded but
// for letters, digits and "-_.~", so that it stands as it is in an attribute,
// a script and an address.
std::string ViewSelectionQuery(const ReportState& state);
