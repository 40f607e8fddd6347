// Fixed texts of the views beside the report: the chart data, the chart page
// and the download. The chart page is ISO-8859-15 like the report; the chart
// data and the download are UTF-8.
#pragma once

#include "histquery/pagetexts.h"

// The chart data.
constexpr const char kJsonHead[] =
    "Content-Type: application/json\n"
    "X-Content-Type-Options: nosniff\n"
    "\n";

// A view's refusals and failures carry an HTTP status, so that a tool need
// not read the text to know there is no data.
constexpr const char kStatusBadRequest[] = "400 Bad Request";
constexpr const char kStatusServerError[] = "500 Internal Server Error";
constexpr const char kStatusBusy[] = "503 Service Unavailable";

// Their messages (ISO-8859-15 here, converted for the UTF-8 views).
constexpr const char kViewObjectsOnly[] =
    "Diagramm und Download gibt es nur f\xFCr eine Auswahl von Objekten, nicht mit SQL= oder "
    "ACTION=DEL";
constexpr const char kViewNoPeriod[] = "Es wurde kein Zeitraum ausgew\xE4hlt";
constexpr const char kViewPeriodUnreadableFormat[] = "%s ist kein g\xFCltiges Datum";
constexpr const char kViewPeriodReversedFormat[] =
    "Das Ende des Zeitraums (%s) liegt vor seinem Beginn (%s)";
// A hint above the chart (the text HTML-escaped in the slot).
constexpr const char kChartHintFormat[] = "<p><b>%s</b></p>\n";
constexpr const char kViewDroppedObjectsFormat[] =
    "Es werden h\xF6"
    "chstens 8 Objekte gezeigt, nicht gezeigt: %s";
constexpr const char kViewNoObject[] = "Es wurde kein Objekt ausgew\xE4hlt";
constexpr const char kViewStoreFailed[] = "Fehler bei der Datenbankabfrage";
constexpr const char kViewBusy[] =
    "Die Historie wird gerade von anderen Anfragen gelesen. Bitte versuchen Sie es gleich noch "
    "einmal.";

// The head of the chart data's error object (the status in the slot).
constexpr const char kJsonErrorHeadFormat[] =
    "Status: %s\n"
    "Content-Type: application/json\n"
    "X-Content-Type-Options: nosniff\n"
    "\n";

// The head of a download that cannot be made: a plain UTF-8 text follows.
constexpr const char kTextErrorHeadFormat[] =
    "Status: %s\n"
    "Content-Type: text/plain; charset=utf-8\n"
    "X-Content-Type-Options: nosniff\n"
    "\n";

// The last line of a download whose statement failed after rows were out.
constexpr const char kCsvBrokenOff[] = "Fehler: Die Datenbankabfrage brach ab, es fehlen Zeilen";

// The download: header, byte-order mark (so that a spreadsheet reads UTF-8)
// and the head line. The file name's slots take the period's ends as
// YYYY-MM-DD_HHMMSS.
constexpr const char kCsvHeadFormat[] =
    "Content-Type: text/csv; charset=utf-8\n"
    "Content-Disposition: attachment; filename=\"Historie_%s_%s.csv\"\n"
    "X-Content-Type-Options: nosniff\n"
    "\n"
    "\xEF\xBB\xBF"
    "Zeit;Objekt;Bezeichnung;Wert;Werttext;Quelle\r\n";
constexpr const char kCsvLineEnd[] = "\r\n";

// The chart page. Its first slot takes a hint (kChartHintFormat, or
// nothing), the other three the selection as request keys, ready for an
// attribute (see PrintChartPage); histchart.js reads the first and
// draws the chart, the table and the links from it.
constexpr const char kChartPageFormat[] =
    "Content-type: text/html; charset=iso-8859-15\n" HISTQUERY_FRAME_HEADERS
    "\n"
    "<!DOCTYPE HTML>\n"
    "<html><head><title>History-Diagramm</title>\n"
    "<meta name='viewport' content='width=device-width, initial-scale=1.0'>\n"
    "<meta charset='iso-8859-15'>\n"
    "<link rel='stylesheet' href='uPlot.min.css'><link rel='stylesheet' href='histchart.css'>\n"
    "</head>\n"
    "<body>\n"
    "<img src='favicon.ico' class='histchart-icon' alt=''>\n"
    "<h1>History-Diagramm</h1>\n"
    "%s"
    "<main id='histchart' data-query='%s'>\n"
    "<div class='histchart-tools'><button type='button' id='histchart-back' disabled>Zur\xFC"
    "ck</button> <button type='button' id='histchart-earlier' title='Fr\xFCher: um ein halbes "
    "Fenster zur\xFC"
    "ck'>&lt;</button> <button type='button' id='histchart-later' title='Sp\xE4ter: um ein "
    "halbes Fenster weiter'>&gt;</button> <button type='button' id='histchart-out' "
    "title='Den doppelten Zeitraum um dieselbe Mitte zeigen'>Verkleinern</button></div>\n"
    "<div class='histchart-tools'><button type='button' id='histchart-day'>24 Stunden</button> "
    "<button type='button' id='histchart-week'>7 Tage</button> "
    "<button type='button' id='histchart-month'>30 Tage</button> "
    "<button type='button' id='histchart-year'>1 Jahr</button></div>\n"
    "<p id='histchart-status'>Daten werden geladen ...</p>\n"
    "<div id='histchart-plot'></div>\n"
    "<div class='histchart-scroll'><table id='histchart-stats'><thead><tr><th>Bezeichnung</th>"
    "<th>Zeilen</th><th>Von</th><th>Bis</th><th>Minimum</th><th>am</th><th>Maximum</th>"
    "<th>am</th><th>Mittelwert</th><th>Letzter Wert</th></tr></thead><tbody></tbody>"
    "</table></div>\n"
    "<p><a id='histchart-report' href='HistQuery.ksq?%s'>Liste</a> "
    "<a id='histchart-csv' href='HistQuery.ksq?VIEW=CSV&amp;%s'>Download (CSV)</a></p>\n"
    "</main>\n"
    "<button type=\"button\" onclick=\"window.location.href = 'MainMenu.htm'\">Home</button>\n"
    "<button type=\"button\" onclick=\"window.location.href = "
    "'servmain.ksq?HTM=histobj.cls'\">Historyauswahl</button>\n"
    "<script src='uPlot.iife.min.js'></script><script src='histchart.js'></script>\n"
    "</body></html>\n";

// The chart page's place when there is nothing to draw: the status, then
// the message (HTML-escaped).
constexpr const char kChartRefusalFormat[] =
    "Status: %s\n"
    "Content-type: text/html; charset=iso-8859-15\n" HISTQUERY_FRAME_HEADERS
    "\n"
    "<!DOCTYPE HTML>\n"
    "<html><head><title>History-Diagramm</title>\n"
    "<meta name='viewport' content='width=device-width, initial-scale=1.0'>\n"
    "<meta charset='iso-8859-15'>\n"
    "<link rel='stylesheet' href='histchart.css'>\n"
    "</head>\n"
    "<body>\n"
    "<img src='favicon.ico' class='histchart-icon' alt=''>\n"
    "<h1>History-Diagramm</h1>\n"
    "<p><b>%s</b></p>\n"
    "<button type=\"button\" onclick=\"window.location.href = 'MainMenu.htm'\">Home</button>\n"
    "<button type=\"button\" onclick=\"window.location.href = "
    "'servmain.ksq?HTM=histobj.cls'\">Historyauswahl</button>\n"
    "</body></html>\n";
