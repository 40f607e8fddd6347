// Taking the request from the CGI environment, and reading it once into the
// values of its keys: SQL=, DFW=, txDateFrom=, txTimeFrom=, txDateTo=,
// txTimeTo=, obj= (repeated), ACTION=, VIEW=, WIDTH=, PAGE=, SHOWN=, HIDDEN=.
// Every later step reads those values;
// none looks into the request text again, except where the text is repeated
// byte for byte (the delete link).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/historyreader.h"
#include "common/period.h"

// The most objects a request or a selection file gives: keys beyond the
// eighth are left out of the report, the deletion and the saved selection
// alike.
constexpr int kMaxObjectNames = 8;

// What a report run does.
enum class ReportMode {
  Objects,   // shows the chosen objects' rows of the period
  Deletion,  // ACTION=DEL: deletes them
  Sql,       // runs a free SQL text over the period
};

// How the selection is shown: the report page, or one of the views beside it
// (VIEW=JSON, VIEW=CHART, VIEW=CSV, in capitals as the links write them; any
// other value is the report).
enum class View {
  Report,
  Json,   // the chart data
  Chart,  // the chart page
  Csv,    // every row, for a spreadsheet
};

// A request, read once. A key's value is that of its first item ("key=..."
// at the start of the text or right behind an "&"), undecoded unless said.
struct ReportRequest {
  std::string text;  // as it arrived
  // The text without its page keys and with the fields' ";" decoded: what a
  // delete link repeats (FieldsDecoded, WithoutPageKeys).
  std::string linkText;
  // A SQL= value of 8 characters or more (counted undecoded) is SQL mode;
  // else ACTION=DEL (exactly) is a deletion.
  ReportMode mode = ReportMode::Objects;
  std::string sqlText;        // SQL mode: the free SQL text, decoded (DecodeSqlText)
  std::string selectionFile;  // DFW=
  // The period values and the obj= values with their ";" decoded (see
  // FieldsDecoded). An item counts as an object wherever it holds "obj="
  // ("xobj=A" gives A); its value is what follows the first one.
  PeriodValues period;
  std::vector<std::string> objects;  // at most kMaxObjectNames
  // The names of the obj= entries beyond the eighth, form-decoded: left out,
  // and named on the page.
  std::vector<std::string> droppedObjects;
  View view = View::Report;
  // A view asked for with no key but VIEW= and WIDTH=: it shows the last
  // selection, as an empty request shows it.
  bool bareView = false;
  // WIDTH=, the chart's width in pixel columns (ChartWidth).
  int chartWidth = 0;
  // SUMMARY=ROWS: the chart data from the rows even where the summary could
  // answer; SUMMARY=CHECK: from both, and whether they are the same (for
  // whoever looks after the device).
  enum class SummaryUse { Yes, Rows, Check } summaryUse = SummaryUse::Yes;
  // A page of a long report: PAGE=TIME,ROWID (the place of its first row),
  // SHOWN= and HIDDEN= (the rows shown and hidden before it); none for the
  // first page.
  std::optional<HistoryPlace> page;
  int64_t pageShown = 0;
  int64_t pageHidden = 0;
};

ReportRequest ParseReportRequest(const std::string& text);

// The request text without its page keys (PAGE=, SHOWN=, HIDDEN=): what the
// delete link of every page repeats.
std::string WithoutPageKeys(const std::string& text);

// The chart width a WIDTH= value asks for: kChartWidthDefault when it is
// missing or not only digits, 0 (every row) for 0, else the nearest of
// kChartWidthMin..kChartWidthMax. A tool that asked too much learns the width
// taken from the answer's "width".
int ChartWidth(const std::string& value);

// Whether a run of that mode may change the history: a deletion, or a free
// SQL text (it may write).
bool ChangesHistory(ReportMode mode);

// `text` with every "%3B" as ";": the fields of an object entry arrive with
// their separator encoded.
std::string FieldsDecoded(std::string text);

// A POST body above this is not a request of the front end: it is handled as
// an empty request and never read into memory.
constexpr long kMaxPostBody = 256 * 1024;

// The request text: the POST body or the GET query string; empty for any
// other method or when nothing usable arrived.
std::string ReadRequest();

// CONTENT_LENGTH bytes of `in`, or an empty text when the length is missing,
// not positive, too large, or more than the bytes that arrived.
std::string ReadPostBody(FILE* in);

// The free SQL text, form-decoded; control bytes (line feeds and tabs of a
// text area among them) become blanks, so the text is one line in
// histsql.dat and on the page.
void DecodeSqlText(std::string& text);
