// Every fixed text of the report page, in ISO-8859-15 single bytes.
//
// The front end and its users know these texts; they go out byte for byte.
// A "line" ends in one line feed, the CGI header too.
#pragma once

// Page head, written right after the request has been read.
// Our pages may be framed only by pages of the device itself: a page of
// another site could lay a report under its own buttons (its delete button).
#define HISTQUERY_FRAME_HEADERS   \
  "X-Frame-Options: SAMEORIGIN\n" \
  "Content-Security-Policy: frame-ancestors 'self'\n"

constexpr const char kPageHead[] =
    "Content-type: text/html\n" HISTQUERY_FRAME_HEADERS
    "\n"
    "<!DOCTYPE HTML>\n"
    "<html><head><title>SQL-Ergebnis</title>\n"
    "<meta name='viewport' content='width=device-width, initial-scale=1.0'>\n"
    "<meta charset='iso-8859-15'>\n"
    // The style block has no line break of its own: each rule is padded with
    // blanks instead (381 bytes, so the line holds 396 before its line feed).
    "<style type='text/css'>  "
    "h1 {                             "
    "\tfont-family: Arial;            "
    "\tcolor: blue;                   "
    "\ttext-align: center;            "
    "\tfont-size: large;              "
    "}                                "
    "body {                           "
    "\tfont-family: Arial;            "
    "\tcolor: black;                  "
    "\ttext-align: left;              "
    "\tfont-size: medium;             "
    "}"
    "</style></head>\n"
    "<body style='margin-top:10px; margin-left:30px'>\n"
    "<img src='favicon.ico' style='width: 48px; height: 48px; float: left'>\n"
    "<h1>History mit Quelle</h1><br><hr><br>\n"
    "<button type=\"button\" onclick=\"window.location.href = 'MainMenu.htm'\">Home</button>\n";

// Mode headers.
constexpr const char kSqlModeButton[] =
    "<button type=\"button\" onclick=\"window.location.href = "
    "'servmain.ksq?HTM=histsql.cls'\">SQL-Abfrage</button><br>\n";
constexpr const char kSqlModePeriodFormat[] = "<hr>Zeitraum von %s bis %s<hr>";
constexpr const char kSqlModeTextFormat[] = "%s<hr>";
constexpr const char kObjectModeHeader[] =
    "<button type=\"button\" onclick=\"window.location.href = "
    "'servmain.ksq?HTM=histobj.cls'\">Historyauswahl</button><br><hr><br>\n";

// Rows.
constexpr const char kTableStart[] = "<table><tr>";
constexpr const char kTableHeadCellFormat[] = "<th>%s</th>\n";
constexpr const char kTableHeadEnd[] = "</tr>";
constexpr const char kTableRowStartFormat[] = "<tr><td>%s</td>";
constexpr const char kTableCellFormat[] = "<td>%s</td>";
constexpr const char kTableRowEnd[] = "</tr>\n";
constexpr const char kTableEnd[] = "</table>";
constexpr const char kReportLineFormat[] = "%s : %s = %s <-[%s]<br>\n";

// Closing sections.
constexpr const char kSqlRowCountFormat[] = "<hr>%s Datens\xE4tze gefunden.<br><hr>\n";
constexpr const char kSqlNoRows[] = "<br><hr>Verarbeitung erfolgreich beendet<br><hr>\n";
constexpr const char kDeletionDone[] =
    "<b>Die ausgew\xE4hlten Daten wurden aus der Datenbank gel\xF6scht</b>\n";
constexpr const char kObjectNoRows[] =
    "<b>Es gibt keine Daten f\xFCr den ausgew\xE4hlten Zeitraum</b><hr>\n";
constexpr const char kObjectRowCountFormat[] = "<br><hr>%s Datens\xE4tze gefunden.<br><hr>\n";
// A report of more than one page: the rows shown, of how many; its links.
constexpr const char kPagedRowCountFormat[] = "<br><hr>Datens\xE4tze %s bis %s von %s.<br><hr>\n";
constexpr const char kMoreThanFormat[] = "mehr als %s";
constexpr const char kPageSpanFormat[] = "Datens\xE4tze %s bis %s von %s";
constexpr const char kPageLinksStart[] = "<p>";
constexpr const char kPreviousPageFormat[] = "<a href='HistQuery.ksq?%s'>&lt; Vorige Seite</a> ";
constexpr const char kNextPageFormat[] =
    " <a href='HistQuery.ksq?%s'>N\xE4"
    "chste Seite &gt;</a>";
constexpr const char kPageViewsFormat[] =
    " | <a href='HistQuery.ksq?VIEW=CHART&amp;%s'>Diagramm</a> "
    "<a href='HistQuery.ksq?VIEW=CSV&amp;%s'>Download (CSV)</a>";
constexpr const char kPageLinksEnd[] = "</p><hr>\n";
// Rows of the period the report does not show (State "X") and the deletion
// removes all the same.
constexpr const char kHiddenRowsFormat[] =
    "<b>%s Datens\xE4tze im Zeitraum, %s davon nicht angezeigt, die L\xF6schung entfernt sie "
    "mit</b><br>\n";
// The rows a deletion removed, below its confirmation.
constexpr const char kDeletedCountFormat[] = "<br>%s Datens\xE4tze wurden gel\xF6scht.<br>\n";
constexpr const char kHomeButton[] =
    "<button type=\"button\" onclick=\"window.location.href = 'MainMenu.htm'\">Home</button>\n";
constexpr const char kSelectionButton[] =
    "<button type=\"button\" onclick=\"window.location.href = "
    "'servmain.ksq?HTM=histobj.cls'\">Historyauswahl</button><br><hr><br>\n";
constexpr const char kDeleteLinkStart[] =
    "<button type=\"submit\" onclick=\"window.location.href = 'HistQuery.ksq?ACTION=DEL&";
constexpr const char kDeleteLinkEnd[] =
    "'\">Diese Daten aus der Datenbank l\xF6schen</button><br>\n";
constexpr const char kDeleteWarning[] =
    "<b>Die L\xF6schung kann nicht r\xFC"
    "ckg\xE4ngig gemacht werden!!</b><hr><br>\n";

// Our own messages where the run could not do what was asked.
constexpr const char kStoreFailed[] = "<br><hr>Fehler bei der Datenbankabfrage<br><hr>\n";
constexpr const char kDeletionFailed[] =
    "<b>Fehler: Die Daten wurden nicht aus der Datenbank gel\xF6scht</b><hr>\n";
// A deletion that stopped after some of its rows were gone: their number,
// then SQLite's message (HTML-escaped).
constexpr const char kDeletionStoppedFormat[] =
    "<b>Fehler: Die L\xF6schung brach ab, nur %s Datens\xE4tze wurden aus der Datenbank "
    "gel\xF6scht: %s</b><hr>\n";
constexpr const char kOtherSiteRefused[] =
    "<b>Fehler: Die Anfrage kam von einer fremden Seite, es wurde nichts ge\xE4ndert</b><hr>\n";
constexpr const char kOtherSiteSqlRefused[] =
    "<b>Fehler: Die Anfrage kam von einer fremden Seite, die SQL-Abfrage wurde nicht "
    "ausgef\xFChrt</b><hr>\n";
constexpr const char kNoPeriod[] = "<b>Es wurde kein Zeitraum ausgew\xE4hlt</b><hr>\n";
// A period given but not usable (the display text of the end in the slot),
// or whose end lies before its start (end, then start).
constexpr const char kPeriodUnreadableFormat[] =
    "<b>Fehler: %s ist kein g\xFCltiges Datum</b><hr>\n";
constexpr const char kPeriodReversedFormat[] =
    "<b>Fehler: Das Ende des Zeitraums (%s) liegt vor seinem Beginn (%s)</b><hr>\n";
// The objects of a request beyond the eighth (their names, HTML-escaped).
constexpr const char kDroppedObjectsFormat[] =
    "<b>Hinweis: Es werden h\xF6"
    "chstens 8 Objekte gezeigt, nicht gezeigt: %s</b><br>\n";
// A chosen object without a row in the period (its label or name).
constexpr const char kObjectWithoutRowsFormat[] =
    "<b>F\xFCr %s gibt es im Zeitraum keine Daten</b><br>\n";
// Other requests read the history: each takes its turn (readslots.h).
constexpr const char kBusy[] =
    "<br><hr>Fehler: Die Historie wird gerade von anderen Anfragen gelesen. Bitte versuchen Sie "
    "es gleich noch einmal.<br><hr>\n";

// The bounds of a free SQL text, each named where it stopped the text (the
// bound in the slot).
constexpr const char kSqlTooLongFormat[] =
    "<br><hr>Fehler: Die SQL-Abfrage brauchte l\xE4nger als %s Sekunden und wurde "
    "abgebrochen<br><hr>\n";
constexpr const char kSqlPageTooLargeFormat[] =
    "<br><hr>Fehler: Das Ergebnis ist gr\xF6\xDF"
    "er als %s MB, es zeigt nur die ersten %s "
    "Datens\xE4tze<br><hr>\n";
constexpr const char kSqlTempStorageFormat[] =
    "<br><hr>Fehler: Die Abfrage braucht mehr als %s MB tempor\xE4ren Speicher<br><hr>\n";
constexpr const char kSqlMemoryFormat[] =
    "<br><hr>Fehler: Die Abfrage braucht mehr als %s MB Speicher<br><hr>\n";

// Page end.
constexpr const char kPageEnd[] = "</body></html>\n";

// The whole page for a request to a host name that is not the device's own
// (the name, HTML-escaped, goes into the first %s).
constexpr const char kHostRefusedFormat[] =
    "Status: 403 Forbidden\n"
    "Content-type: text/html\n" HISTQUERY_FRAME_HEADERS
    "\n"
    "<!DOCTYPE HTML>\n"
    "<html><head><title>SQL-Ergebnis</title>\n"
    "<meta charset='iso-8859-15'></head>\n"
    "<body>\n"
    "<b>Fehler: Der Name %s ist f\xFCr dieses Ger\xE4t nicht freigegeben</b><br>\n"
    "Rufen Sie die Seite \xFC"
    "ber die IP-Adresse des Ger\xE4ts auf, oder tragen Sie den Namen in die Datei "
    "HistHosts.cfg neben dem Programm HistQuery ein (ein Name je Zeile).\n"
    "</body></html>\n";
