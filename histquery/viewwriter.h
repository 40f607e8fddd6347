// The views of a selection beside the report, asked for with VIEW=:
//
//   JSON   the chart data, for the chart page and other tools (UTF-8):
//          {"from":F,"to":T,"width":W,"objects":[{"name":"NAME","label":"Label",
//          "kind":"N","points":[[t,v],[t,null],...],"stats":{"count":n,
//          "first":t,"last":t,"min":v,"minTime":t,"max":v,"maxTime":t,
//          "mean":v,"lastValue":v}},...]}
//          Times are the history's seconds; "cut":true follows "points" when
//          width 0 left rows out; a statistic without a value is null.
//          Kinds C and U whose rows name some values by a text get
//          ,"texts":{"0":"geschlossen","1":"offen"} after "stats": value (as
//          a number is written) to the last text shown for it, in ascending
//          order of the values; none past 32 distinct values (see
//          ChartSeries). Kind N never has it.
//   CHART  the chart page (ISO-8859-15), which fetches the JSON itself.
//   CSV    every row, for a spreadsheet (UTF-8 with byte-order mark, ";"
//          between fields, CRLF after each line):
//          Zeit;Objekt;Bezeichnung;Wert;Werttext;Quelle
//          05.03.2024 07:30:00;TEMP_AUSSEN;Temperatur aussen;-3,5;-3,5;Sensor
//
// Texts handed in are ISO-8859-15, as the history and the selection hold
// them; labels already form-decoded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "histquery/chartseries.h"

// One object of the chart data: its name as the statement compares it
// (upper-cased), its label, its kind letter and its series.
struct ChartObject {
  std::string name;
  std::string label;
  char kind;
  ChartSeries series;
};

// The HTTP header of the chart data.
void PrintJsonHead(FILE* out);

// The whole chart data document, each series finished first; `messages`
// (ISO-8859-15 sentences, for instance which objects were left out) follow
// as "messages":[...] where there are any.
void WriteChartJson(FILE* out, int32_t from, int32_t to, int width,
                    std::vector<ChartObject>& objects,
                    const std::vector<std::string>& messages = {});

// {"error":"<message>"}: what the chart page shows where there is no data.
void WriteJsonError(FILE* out, const char* message);

// The HTTP header of the download, with the period in the file name, its
// byte-order mark and its head line.
void PrintCsvHead(FILE* out, int32_t from, int32_t to);

// One line of the download; a null text is an empty field.
void WriteCsvRow(FILE* out, int32_t time, const char* name, const char* label, const char* value,
                 const char* valueText, const char* source);

// The chart page for the selection `query`, with `hintHtml` (a paragraph of
// kChartHintFormat, or nothing) above the chart: request keys without VIEW= or
// WIDTH= ("txDateFrom=2024-03-05&txTimeFrom=00%3A00%3A00&txDateTo=...&
// txTimeTo=...&obj=NAME;LABEL;KIND..."), already safe inside a quoted
// attribute (no quote, no markup, an "&" only before a key).
void PrintChartPage(FILE* out, const std::string& query, const std::string& hintHtml = "");
