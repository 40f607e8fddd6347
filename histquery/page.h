// The page frame: head, mode header, closing section, page end.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "histquery/report.h"
#include "histquery/request.h"
#include "histquery/selection.h"
#include "histquery/sqllimits.h"

// `text` with & < > " ' as HTML character references.
std::string HtmlEscaped(const std::string& text);

// The same, appended to `out`: the row printer builds its lines in place.
void AppendHtmlEscaped(std::string& out, const char* text);

// The same, written to `out` piece by piece: a cell of a free SQL text may
// be a megabyte of quotes, six times that escaped, and never needs to stand
// whole in memory.
void PutHtmlEscaped(FILE* out, const char* text);

// The request text as it may stand in the delete link, inside a JavaScript
// string inside an attribute: every byte a query string does not normally
// hold is percent-encoded, so ordinary requests come out unchanged.
std::string LinkEncoded(const std::string& request);

// One value of a request (a date, a name, a label) with every byte but
// letters, digits and "-_.~" percent-encoded: the next request decodes it to
// the same bytes, and it may stand in an attribute, a script or an address.
std::string FieldEncoded(const std::string& text);

void PrintPageHead(FILE* out);
void PrintModeHeader(FILE* out, const ReportRequest& request, const Period& period);

// Row count, delete button (what follows "ACTION=DEL&" in its link:
// `deleteLink`), deletion confirmation, or what kept the run from its result.
void PrintClosingSection(FILE* out, ReportMode mode, const std::string& deleteLink,
                         const Period& period, const ReportEnd& end);

// Why the period cannot bound a statement: none given, an end that is no
// date, or an end before the start.
void PrintPeriodFault(FILE* out, PeriodFault fault, const Period& period);

// The objects of the request beyond the eighth, left out.
void PrintDroppedObjects(FILE* out, const std::vector<std::string>& names);

void PrintPageEnd(FILE* out);

// The links of a page of a long report: the page before and after, the
// rows shown, the chart and the download of the selection.
void PrintPageLinks(FILE* out, const PageLinks& links);

// What a free text's page ends with when its run has to stop itself past its
// deadline: the message and the page end.
std::string FreeTextLastWords(const StatementLimits& limits);

// The short page that refuses a request to the host name `name`.
void PrintHostRefusal(FILE* out, const char* name);
