// The views of a selection beside the report (VIEW=JSON, CHART, CSV): the
// same period and objects as the report, taken the same way (request,
// histobj.dat, DFW=), but only read: a view never writes a selection file and
// never deletes.
#pragma once

#include <cstdio>

#include "histquery/request.h"
#include "histquery/sqllimits.h"

// The whole answer of a view request to `out`: its refusal when the request
// is no object selection (SQL= or ACTION=DEL), has no usable period or no
// object; else the chart data, the chart page or the download. `cfgPath`
// names HistPath.cfg.
void ShowView(FILE* out, const ReportRequest& request, const char* cfgPath,
              const StatementLimits& limits);
