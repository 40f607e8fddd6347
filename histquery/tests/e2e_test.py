"""End-to-end tests of HistQuery: the built program runs as a CGI process (and
behind a real lighttpd) against real SQLite files in a temporary directory.

Finds its programs with tests/testkit.py's program(); sets TZ=Europe/Berlin.
"""
import fcntl
import html
import json
import os
import random
import re
import resource
import shutil
import socket
import sqlite3
import subprocess
import sys
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
import testkit  # noqa: E402
from testkit import stamp  # noqa: E402

BIN = testkit.program("HistQuery-localcfg")
# The same program whose time and heap limits the environment may lower.
LIMITS_BIN = testkit.program("HistQuery-testlimits")
DEMO_CONF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "demo",
                         "lighttpd.conf.in")

# The page texts, written out independently of the program's sources.
STYLE_PIECES = [
    ("<style type='text/css'>", 2), ("h1 {", 29), ("\tfont-family: Arial;", 12),
    ("\tcolor: blue;", 19), ("\ttext-align: center;", 12), ("\tfont-size: large;", 14),
    ("}", 32), ("body {", 27), ("\tfont-family: Arial;", 12), ("\tcolor: black;", 18),
    ("\ttext-align: left;", 14), ("\tfont-size: medium;", 13), ("}", 0),
]
STYLE = "".join(text + " " * blanks for text, blanks in STYLE_PIECES)
HOME = "<button type=\"button\" onclick=\"window.location.href = 'MainMenu.htm'\">Home</button>\n"
# Only pages of the device itself may frame ours.
FRAMES = "X-Frame-Options: SAMEORIGIN\nContent-Security-Policy: frame-ancestors 'self'\n"
HEAD = ("Content-type: text/html\n" + FRAMES + "\n<!DOCTYPE HTML>\n"
        "<html><head><title>SQL-Ergebnis</title>\n"
        "<meta name='viewport' content='width=device-width, initial-scale=1.0'>\n"
        "<meta charset='iso-8859-15'>\n" + STYLE + "</style></head>\n"
        "<body style='margin-top:10px; margin-left:30px'>\n"
        "<img src='favicon.ico' style='width: 48px; height: 48px; float: left'>\n"
        "<h1>History mit Quelle</h1><br><hr><br>\n" + HOME)
OBJ_BUTTON = ("<button type=\"button\" onclick=\"window.location.href = "
              "'servmain.ksq?HTM=histobj.cls'\">Historyauswahl</button><br><hr><br>\n")
SQL_BUTTON = ("<button type=\"button\" onclick=\"window.location.href = "
              "'servmain.ksq?HTM=histsql.cls'\">SQL-Abfrage</button><br>\n")
END = "</body></html>\n"
NO_DATA = "<b>Es gibt keine Daten f\xfcr den ausgew\xe4hlten Zeitraum</b><hr>\n"
SQL_DONE = "<br><hr>Verarbeitung erfolgreich beendet<br><hr>\n"
DELETED = "<b>Die ausgew\xe4hlten Daten wurden aus der Datenbank gel\xf6scht</b>\n"


def deleted(rows):
    """The confirmation of a deletion and the number of rows it removed."""
    return DELETED + "<br>%d Datens\xe4tze wurden gel\xf6scht.<br>\n" % rows


NOT_DELETED = "<b>Fehler: Die Daten wurden nicht aus der Datenbank gel\xf6scht</b><hr>\n"
FAILED = "<br><hr>Fehler bei der Datenbankabfrage<br><hr>\n"
NO_PERIOD = "<b>Es wurde kein Zeitraum ausgew\xe4hlt</b><hr>\n"
OTHER_SITE = "<b>Fehler: Die Anfrage kam von einer fremden Seite, es wurde nichts ge\xe4ndert</b><hr>\n"
OTHER_SITE_SQL = ("<b>Fehler: Die Anfrage kam von einer fremden Seite, die SQL-Abfrage wurde nicht "
                  "ausgef\xfchrt</b><hr>\n")
HOST_REFUSED = ("Status: 403 Forbidden\nContent-type: text/html\n" + FRAMES + "\n<!DOCTYPE HTML>\n"
                "<html><head><title>SQL-Ergebnis</title>\n<meta charset='iso-8859-15'></head>\n"
                "<body>\n<b>Fehler: Der Name %s ist f\xfcr dieses Ger\xe4t nicht freigegeben</b><br>\n"
                "Rufen Sie die Seite \xfcber die IP-Adresse des Ger\xe4ts auf, oder tragen Sie den "
                "Namen in die Datei HistHosts.cfg neben dem Programm HistQuery ein (ein Name je "
                "Zeile).\n</body></html>\n")
# What a browser sends with a request from the report's own page: a run that
# changes rows needs it, a report does not care.
OWN_PAGE = {"HTTP_SEC_FETCH_SITE": "same-origin"}
PERIOD = "txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05&txTimeTo=23%3A59"

REQUEST = ("txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05&txTimeTo=23%3A59"
           "&obj=Licht1%3BKueche%3BN")
SAVED = ("txDateFrom=2024-03-05\ntxTimeFrom=07:30:00\ntxDateTo=2024-03-05\n"
         "txTimeTo=23:59:00\nobj=Licht1;Kueche;N\n")
# The delete link of a report whose values came from SAVED carries them.
SAVED_LINK = ("txDateFrom=2024-03-05&txTimeFrom=07%3A30%3A00&txDateTo=2024-03-05"
              "&txTimeTo=23%3A59%3A00&obj=Licht1;Kueche;N")


def latin(text):
    return text.encode("latin-1")


def latin1(page):
    return page.decode("latin-1")


def report_lines(rows):
    return "".join("%s : %s = %s <-[%s]<br>\n" % r for r in rows)


def offer_deletion(count, link, hidden=0):
    """The closing section of a report of `count` rows; `hidden` rows of the
    period it does not show (State "X") are named beside the count."""
    hidden_line = ("<b>%d Datens\xe4tze im Zeitraum, %d davon nicht angezeigt, die L\xf6schung "
                   "entfernt sie mit</b><br>\n" % (count + hidden, hidden)) if hidden else ""
    return ("<br><hr>%d Datens\xe4tze gefunden.<br><hr>\n" % count + hidden_line + HOME + OBJ_BUTTON +
            "<button type=\"submit\" onclick=\"window.location.href = 'HistQuery.ksq?ACTION=DEL&"
            + link + "'\">Diese Daten aus der Datenbank l\xf6schen</button><br>\n"
            "<b>Die L\xf6schung kann nicht r\xfcckg\xe4ngig gemacht werden!!</b><hr><br>\n")


def sql_header(period_from, period_to, text):
    return SQL_BUTTON + "<hr>Zeitraum von %s bis %s<hr>%s<hr>" % (period_from, period_to, text)


ROWS = [  # TimeStamp text, ObjName, ObjKind, Value, ValueText, Source, State
    ("2024-03-05 07:29:59", "LICHT1", "N", "0", "0", "Taster", ""),
    ("2024-03-05 07:30:00", "LICHT1", "N", "1", "1", "Taster", ""),
    ("2024-03-05 08:00:00", "LICHT1", "N", "0", "0", "Zentrale", "X"),
    ("2024-03-05 12:15:30", "LICHT1", "N", "0", "aus", "Programm", ""),
    ("2024-03-05 20:00:00", "HEIZUNG", "C", "21.5", "21.5", "Sensor", ""),
    ("2024-03-05 23:00:00", "LICHT1", "N", "1", "1", "Zentrale", "X"),
    ("2024-03-05 23:59:00", "LICHT1", "N", "1", "an", "Taster", ""),
    ("2024-03-06 00:00:00", "LICHT1", "N", "0", "0", "Taster", ""),
]
REPORTED = [
    ("05.03.2024 07:30:00", "LICHT1", "1", "Taster"),
    ("05.03.2024 12:15:30", "LICHT1", "aus", "Programm"),
    ("05.03.2024 23:59:00", "LICHT1", "an", "Taster"),
]


class Site:
    """A working directory with HistPath.cfg and a data directory for history.db."""

    def __init__(self, case, rows=ROWS, with_db=True):
        self.dir = testkit.scratch(case, "histquery_e2e.")
        self.data = os.path.join(self.dir, "data")
        os.mkdir(self.data)
        self.db = os.path.join(self.data, "history.db")
        with open(os.path.join(self.dir, "HistPath.cfg"), "w") as cfg:
            cfg.write(self.data + "  \n")
        if with_db:
            testkit.make_history(self.db, [(stamp(r[0]),) + tuple(r[1:]) for r in rows])

    def run(self, method="GET", query=None, body=None, content_length=None, timeout=30,
            headers=OWN_PAGE, program=None, **options):
        env = dict(headers)
        if method is not None:
            env["REQUEST_METHOD"] = method
        if query is not None:
            env["QUERY_STRING"] = query
        if body is not None and content_length is None:
            content_length = str(len(body))
        if content_length is not None:
            env["CONTENT_LENGTH"] = content_length
        proc = testkit.run([program or BIN], env, body or b"", self.dir, timeout=timeout, **options)
        self.stderr = proc.stderr.decode("latin-1")
        if proc.returncode != 0:
            raise AssertionError("exit status %d" % proc.returncode)
        return proc.stdout

    def listing(self):
        """Every file below the site with its bytes, the database's too (but
        for the file of turns, which stays)."""
        found = {}
        for top, _, names in os.walk(self.dir):
            for name in names:
                if name == testkit.TURNS_FILE:
                    continue
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    found[os.path.relpath(path, self.dir)] = f.read()
        return found

    def file(self, name):
        path = os.path.join(self.dir, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def rows(self):
        con = sqlite3.connect(self.db)
        result = con.execute("select TimeStamp, ObjName, State from HISTORY "
                             "order by TimeStamp, ObjName").fetchall()
        con.close()
        return result


class CgiTests(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)

    def test_object_report_page_and_selection_file(self):
        page = self.site.run(query=REQUEST)
        expected = (HEAD + OBJ_BUTTON + report_lines(REPORTED) +
                    offer_deletion(3, REQUEST.replace("%3B", ";"), 2) + END)
        self.assertEqual(page, latin(expected))
        self.assertEqual(len(page.split(b"\n")[8]), 396)
        self.assertEqual(self.site.file("histobj.dat"), latin(SAVED))
        self.assertIsNone(self.site.file("histsql.dat"))

    def test_post_gives_the_same_page(self):
        get = self.site.run(query=REQUEST)
        self.assertEqual(self.site.run(method="POST", body=latin(REQUEST)), get)
        # An empty request shows the saved selection again; its delete link
        # carries the saved values.
        again = self.site.run(method="GET")
        self.assertEqual(again, get.replace(latin(REQUEST.replace("%3B", ";")), latin(SAVED_LINK)))
        self.assertEqual(self.site.file("histobj.dat"), latin(SAVED))

    def test_deletion_from_the_link_removes_hidden_rows_too(self):
        link = REQUEST.replace("%3B", ";")
        before = len(self.site.rows())
        page = self.site.run(query="ACTION=DEL&" + link)
        self.assertEqual(page, latin(HEAD + OBJ_BUTTON + deleted(before - 3) + END))
        self.assertEqual(self.site.rows(), [
            (stamp("2024-03-05 07:29:59"), "LICHT1", ""),
            (stamp("2024-03-05 20:00:00"), "HEIZUNG", ""),
            (stamp("2024-03-06 00:00:00"), "LICHT1", ""),
        ])
        self.assertEqual(self.site.file("histobj.dat"), latin(SAVED))
        # Nothing left to match: still confirmed, since the deletion ran.
        self.assertEqual(self.site.run(query="ACTION=DEL&" + link),
                         latin(HEAD + OBJ_BUTTON + deleted(0) + END))

    def test_sql_mode_table_and_selection_file(self):
        text = "select ObjName, State from HISTORY where State = 'X'"
        query = ("SQL=select+ObjName%2C+State+from+HISTORY+where+State+%3D+%27X%27"
                 "&DFW=histsql.dat&txDateFrom=2024-03-05&txTimeFrom=07%3A30"
                 "&txDateTo=2024-03-05&txTimeTo=23%3A59")
        page = self.site.run(query=query)
        # The first column is a date only where it holds one: a name stays a name.
        cell = "<tr><td>LICHT1</td><td>X</td></tr>\n"
        expected = (HEAD + sql_header("05.03.2024 07:30:00", "05.03.2024 23:59:00",
                                      text.replace("'", "&#39;")) +
                    "<table><tr><th>ObjName</th>\n<th>State</th>\n</tr>" + cell * 2 +
                    "</table><hr>2 Datens\xe4tze gefunden.<br><hr>\n" + END)
        self.assertEqual(page, latin(expected))
        self.assertEqual(self.site.file("histsql.dat"), latin(
            "txDateFrom=2024-03-05\ntxTimeFrom=07:30:00\ntxDateTo=2024-03-05\n"
            "txTimeTo=23:59:00\nSQL=" + text + "\n"))
        self.assertIsNone(self.site.file("histobj.dat"))
        # A later call naming histsql.dat takes its period.
        page = self.site.run(query="DFW=histsql.dat&SQL=select+count(*)+from+HISTORY+where+1")
        self.assertIn(b"<tr><td>6</td></tr>\n", page)

    def test_sql_mode_without_rows_and_with_a_failing_statement(self):
        period = "&txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05&txTimeTo=23%3A59"
        page = self.site.run(query="SQL=update+HISTORY+set+State%3D%27X%27+where+1" + period)
        self.assertTrue(page.endswith(latin("<hr>" + SQL_DONE + END)))
        self.assertEqual([r[2] for r in self.site.rows()], ["", "X", "X", "X", "X", "X", "X", ""])
        page = self.site.run(query="SQL=selectx+from+HISTORY" + period)
        self.assertTrue(page.endswith(latin("selectx from HISTORY<hr>" + FAILED + END)))
        self.assertIn("SQL error creating table:", self.site.stderr)

    def test_failure_after_rows_keeps_them_and_closes_the_table(self):
        # abs() overflows on the HEIZUNG row, after three rows were printed.
        query = ("SQL=select+TimeStamp%2C+abs(case+when+ObjName%3D%27HEIZUNG%27+then+"
                 "-9223372036854775807-1+else+0+end)+from+HISTORY+where+1"
                 "&txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-06&txTimeTo=00%3A00")
        page = self.site.run(query=query).decode("latin-1")
        self.assertIn("<tr><td>05.03.2024 12:15:30</td><td>0</td></tr>\n</table>" + FAILED + END,
                      page)
        self.assertEqual(page.count("<tr><td>"), 3)

    def test_missing_store(self):
        os.remove(self.site.db)
        page = self.site.run(query=REQUEST)
        self.assertEqual(page, latin(HEAD + OBJ_BUTTON + NO_DATA + END))
        page = self.site.run(query="ACTION=DEL&" + REQUEST)
        self.assertEqual(page, latin(HEAD + OBJ_BUTTON + NOT_DELETED + END))
        self.assertFalse(os.path.exists(self.site.db))
        self.assertEqual(self.site.stderr, "")

    def test_missing_table_is_a_failure_not_an_empty_result(self):
        con = sqlite3.connect(self.site.db)
        con.execute("drop table HISTORY")
        con.commit()
        con.close()
        self.assertEqual(self.site.run(query=REQUEST), latin(HEAD + OBJ_BUTTON + FAILED + END))
        self.assertEqual(self.site.run(query="ACTION=DEL&" + REQUEST),
                         latin(HEAD + OBJ_BUTTON + NOT_DELETED + END))

    def test_locked_database(self):
        holder = sqlite3.connect(self.site.db, isolation_level=None, check_same_thread=False)
        holder.execute("begin exclusive")
        page = self.site.run(query="ACTION=DEL&" + REQUEST)
        self.assertEqual(page, latin(HEAD + OBJ_BUTTON + NOT_DELETED + END))
        self.assertIn("locked", self.site.stderr)
        self.assertEqual(len(self.site.rows_while(holder)), len(ROWS))
        holder.execute("rollback")
        # A writer that lets go within a moment is waited for.
        holder.execute("begin exclusive")
        threading.Timer(0.5, lambda: holder.execute("rollback")).start()
        page = self.site.run(query=REQUEST)
        holder.close()
        self.assertIn(latin(report_lines(REPORTED)), page)

    def test_no_period_runs_nothing(self):
        empty = latin(HEAD + OBJ_BUTTON + NO_PERIOD + END)
        self.assertEqual(self.site.run(method=None), empty)
        self.assertIsNone(self.site.file("histobj.dat"))
        # The delete link of such a page deletes nothing.
        self.assertEqual(self.site.run(query="ACTION=DEL&"), empty)
        self.assertEqual(self.site.run(query="ACTION=DEL&obj=LICHT1%3Bx%3BN"), empty)
        self.assertEqual(len(self.site.rows()), len(ROWS))
        self.assertEqual(self.site.file("histobj.dat"), b"txDateFrom=\nobj=LICHT1;x;N\n")
        # A start without an end is no period either.
        page = self.site.run(query="ACTION=DEL&txDateFrom=2024-03-05&txTimeFrom=07%3A30")
        self.assertEqual(page, empty)
        self.assertEqual(len(self.site.rows()), len(ROWS))

    def test_unusable_requests_read_as_empty(self):
        with open(os.path.join(self.site.dir, "histobj.dat"), "wb") as f:
            f.write(latin(SAVED))
        expected = latin(HEAD + OBJ_BUTTON + report_lines(REPORTED) + offer_deletion(3, SAVED_LINK, 2) + END)
        cases = [
            dict(method="HEAD", query=REQUEST),
            dict(method="POST", body=latin(REQUEST), content_length="abc"),
            dict(method="POST", body=latin(REQUEST), content_length="0"),
            dict(method="POST", body=latin(REQUEST), content_length="-5"),
            dict(method="POST", body=latin(REQUEST), content_length=str(len(REQUEST) + 1)),
            dict(method="POST", body=latin(REQUEST), content_length="1099511627776"),
            dict(method="POST", body=b"a" * 300000, content_length="300000"),
            dict(method="GET"),
        ]
        for case in cases:
            with self.subTest(**{k: v for k, v in case.items() if k != "body"}):
                self.assertEqual(self.site.run(**case), expected)
        self.assertEqual(self.site.file("histobj.dat"), latin(SAVED))

    def test_missing_config_ends_the_page_early(self):
        os.remove(os.path.join(self.site.dir, "HistPath.cfg"))
        page = self.site.run(query=REQUEST)
        self.assertEqual(page, latin(HEAD + OBJ_BUTTON + "Error opening HistPath.cfg<br>"))

    def test_dfw_loads_only_plain_names(self):
        secret = os.path.join(self.site.data, "secret.dat")
        with open(secret, "w") as f:
            f.write("txDateFrom=2024-03-05\ntxTimeFrom=07:30:00\ntxDateTo=2024-03-05\n"
                    "txTimeTo=23:59:00\nobj=LICHT1;x;N\n")
        for name in ("data/secret.dat", secret, "../" + os.path.basename(self.site.dir) +
                     "/data/secret.dat"):
            page = self.site.run(query="DFW=" + name + "&x=1")
            self.assertTrue(page.endswith(latin(NO_PERIOD + END)), name)
        shutil.copy(secret, os.path.join(self.site.dir, "mine.dat"))
        page = self.site.run(query="DFW=mine.dat&x=1")
        # The period is loaded; the request's (no) objects replace the file's.
        self.assertIn(latin("<br><hr>4 Datens\xe4tze gefunden."), page)

    def test_reads_wait_for_their_turn(self):
        # Two other readers hold both turns: each read waits 3 s, then says so
        # in its own form; nothing was read.
        busy = "Die Historie wird gerade von anderen Anfragen gelesen. Bitte versuchen Sie es " \
               "gleich noch einmal."
        with open(os.path.join(self.site.dir, testkit.TURNS_FILE), "a+b") as turns:
            fcntl.lockf(turns, fcntl.LOCK_EX | fcntl.LOCK_NB, 2, 0)
            for query, end in ((REQUEST, "<br><hr>Fehler: " + busy + "<br><hr>\n" + END),
                               ("VIEW=JSON&" + REQUEST, json.dumps(
                                   {"error": busy}, ensure_ascii=False, separators=(",", ":"))),
                               ("VIEW=CSV&" + REQUEST, busy)):
                with self.subTest(query=query[:12]):
                    page = self.site.run(query=query)
                    self.assertIn(latin(end) if query == REQUEST else end.encode("utf-8"), page)
                    if query != REQUEST:
                        self.assertTrue(page.startswith(b"Status: 503"), page[:60])

    def test_more_than_eight_objects(self):
        names = ["O%d" % i for i in range(1, 11)]
        rows = [("2024-03-05 10:00:%02d" % i, n, "N", "1", "1", "S", "") for i, n in
                enumerate(names)]
        site = Site(self, rows)
        query = ("txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59" +
                 "".join("&obj=%s%%3B%%3BN" % n for n in names))
        page = site.run(query=query).decode("latin-1")
        self.assertIn("8 Datens\xe4tze gefunden", page)
        self.assertIn("<b>Hinweis: Es werden h\xf6chstens 8 Objekte gezeigt, nicht gezeigt: O9, "
                      "O10</b><br>\n", page)
        self.assertNotIn(": O9 =", page)
        site.run(query="ACTION=DEL&" + query)
        self.assertEqual([r[1] for r in site.rows()], ["O9", "O10"])
        self.assertEqual(site.file("histobj.dat").count(b"obj="), 8)

    def test_request_beginning_with_obj(self):
        query = "obj=Licht1%3BKueche%3BN&txDateFrom=2024-03-05&txTimeFrom=07%3A30" \
                "&txDateTo=2024-03-05&txTimeTo=23%3A59"
        page = self.site.run(query=query)
        self.assertIn(latin(report_lines(REPORTED)), page)

    def test_injection_attempts(self):
        rows = ROWS + [("2024-03-05 09:00:00", "<B>'X\"", "N", "<script>", "a&b", "'src'", "")]
        site = Site(self, rows)
        period = "txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05&txTimeTo=23%3A59"
        # A quote in an object name stays inside its literal: nothing is deleted.
        site.run(query="ACTION=DEL&" + period + "&obj=x' or '1'='1%3B%3BN")
        self.assertEqual(len(site.rows()), len(rows))
        # Values and the delete link cannot leave their places.
        # Names arrive as sent; only the field separators are decoded.
        query = period + "&obj=<B>'X\"%3B%3BN&z=');alert(1);//&q=&apos;<x>"
        page = site.run(query=query).decode("latin-1")
        self.assertIn("05.03.2024 09:00:00 : &lt;B&gt;&#39;X&quot; = a&amp;b "
                      "<-[&#39;src&#39;]<br>\n", page)
        self.assertIn("'HistQuery.ksq?ACTION=DEL&" + period +
                      "&obj=%3CB%3E%27X%22;;N&z=%27);alert(1);//&q=&amp;apos%3B%3Cx%3E'\">", page)
        site.run(query="ACTION=DEL&" + period + "&obj=<B>'X\"%3B%3BN")
        self.assertEqual(len(site.rows()), len(rows) - 1)
        # In SQL mode the text shown is escaped; running it is the feature.
        page = site.run(query="SQL=select+%27%3Cscript%3E%27+from+HISTORY+where+ObjName%3D%27"
                              "HEIZUNG%27&" + period).decode("latin-1")
        self.assertIn("<hr>select &#39;&lt;script&gt;&#39; from HISTORY where ObjName=&#39;"
                      "HEIZUNG&#39;<hr><table><tr><th>&#39;&lt;script&gt;&#39;</th>", page)
        self.assertNotIn("<script>", page)


class ChangeTests(unittest.TestCase):
    """What may change the history: another site's pages may not, a free SQL
    text only changes rows, within bounds; deletions cover what was shown."""

    def setUp(self):
        self.site = Site(self)

    def test_only_our_own_page_changes_rows(self):
        sql_delete = "SQL=delete+from+HISTORY+where+1&DFW=histsql.dat&" + PERIOD
        sql_select = "SQL=select+count(*)+from+HISTORY+where+1&" + PERIOD
        deletion = "ACTION=DEL&" + REQUEST
        everything = ("ACTION=DEL&txDateFrom=1970-01-02&txTimeFrom=00%3A00&txDateTo=2037-12-31"
                      "&txTimeTo=23%3A59")
        host = {"HTTP_HOST": "box:8080"}
        cases = [  # query, headers, closing (None: it ran), rows left
            # Over plain http a foreign page's navigation or <img> sends no
            # Sec-Fetch-Site nor Origin, and it can strip the Referer.
            (everything, host, OTHER_SITE, len(ROWS)),
            (sql_delete, host, OTHER_SITE_SQL, len(ROWS)),
            (sql_select, {}, OTHER_SITE_SQL, len(ROWS)),
            (deletion, dict(host, HTTP_SEC_FETCH_SITE="same-site"), OTHER_SITE, len(ROWS)),
            (deletion, dict(host, HTTP_SEC_FETCH_SITE="none"), OTHER_SITE, len(ROWS)),
            (everything, dict(host, HTTP_SEC_FETCH_SITE="cross-site"), OTHER_SITE, len(ROWS)),
            (deletion, dict(host, HTTP_ORIGIN="null", HTTP_REFERER="http://box:8080/"),
             OTHER_SITE, len(ROWS)),
            (deletion, dict(host, HTTP_REFERER="http://evil/x.html"), OTHER_SITE, len(ROWS)),
            (sql_delete, dict(host, HTTP_ORIGIN="http://evil:8080"), OTHER_SITE_SQL, len(ROWS)),
            ("SQL=drop+table+HISTORY&" + PERIOD, dict(host, HTTP_SEC_FETCH_SITE="same-site"),
             OTHER_SITE_SQL, len(ROWS)),
            # Reports stay open to every request.
            (REQUEST, dict(host, HTTP_SEC_FETCH_SITE="cross-site"), None, len(ROWS)),
            # Our own page: the delete button navigates (Referer), the SQL
            # form posts (Origin); a secure or loopback origin says so itself.
            (deletion, dict(host, HTTP_REFERER="http://box:8080/HistQuery.ksq"),
             deleted(len(ROWS) - 3), 3),
            (deletion, dict(HTTP_HOST="box", HTTP_REFERER="http://box:80/"),
             deleted(len(ROWS) - 3), 3),
            (deletion, dict(host, HTTP_SEC_FETCH_SITE="same-origin",
                            HTTP_ORIGIN="http://box:8080"), deleted(len(ROWS) - 3), 3),
            (sql_delete, dict(host, HTTP_ORIGIN="http://box:8080"), None, 2),
        ]
        for query, headers, closing, left in cases:
            with self.subTest(query=query[:30], headers=headers):
                site = Site(self)
                with open(os.path.join(site.dir, "HistHosts.cfg"), "w") as f:
                    f.write("box\n")
                page = site.run(query=query, headers=headers)
                if closing is None:
                    self.assertTrue(page.endswith(latin(SQL_DONE + END)) or
                                    latin("Datens\xe4tze gefunden") in page, page[-200:])
                else:
                    self.assertTrue(page.endswith(latin(closing + END)), page[-200:])
                self.assertEqual(len(site.rows()), left)
                if closing in (OTHER_SITE, OTHER_SITE_SQL):  # no trace: no selection file either
                    self.assertEqual(sorted(site.listing()),
                                     ["HistHosts.cfg", "HistPath.cfg", "data/history.db"])

    def test_other_host_names_get_nothing(self):
        own = socket.gethostname()
        cases = [  # Host, allowed
            ("evil.example:8091", False),
            ("box.evil.example", False),
            ("[::1", False),
            ("192.168.178.20:8080", True),
            ("[::1]:8080", True),
            ("LOCALHOST", True),
            ("Box:8080", True),  # listed in HistHosts.cfg
            (own, True),
        ]
        for host, allowed in cases:
            with self.subTest(host=host):
                site = Site(self)
                with open(os.path.join(site.dir, "HistHosts.cfg"), "w") as f:
                    f.write("# this device\nbox\n")
                before = site.listing()
                # A rebound name is the page's own origin to the browser.
                origin = "http://" + host
                for query in ("ACTION=DEL&" + REQUEST, REQUEST,
                              "SQL=delete+from+HISTORY+where+1&" + PERIOD):
                    page = site.run(query=query, headers=dict(
                        OWN_PAGE, HTTP_HOST=host, HTTP_ORIGIN=origin))
                    if allowed:
                        self.assertTrue(page.startswith(latin(HEAD)), page[:100])
                    else:
                        name = host.split(":")[0].lower() if host[0] != "[" else ""
                        self.assertEqual(page, latin(HOST_REFUSED % name))
                        self.assertEqual(site.listing(), before)
                if allowed:
                    self.assertLess(len(site.rows()), len(ROWS))

    def test_sql_texts_that_reach_beyond_the_rows_are_refused(self):
        before = self.site.listing()
        texts = [
            "attach database 'copy.db' as c",
            "vacuum into 'report.html'",
            "vacuum into 'data/copy.db'",
            "vacuum main",
            "create table T(x)",
            "create trigger T after insert on HISTORY begin delete from HISTORY; end",
            "drop table HISTORY",
            "alter table HISTORY add column y",
            "create index I on HISTORY(ObjName)",
            "pragma journal_mode=off",
            "pragma hard_heap_limit=0",
            "select * from pragma_table_info('HISTORY')",
            "select sql from sqlite_master",
            "select load_extension('/tmp/x.so')",
            "insert into sqlite_master values('table','T','T',0,'')",
        ]
        for text in texts:
            with self.subTest(text=text):
                query = "SQL=" + urllib.parse.quote_plus(text) + "&" + PERIOD
                page = self.site.run(query=query)
                self.assertTrue(page.endswith(latin(FAILED + END)), page[-200:])
                after = self.site.listing()
                after.pop("histsql.dat")
                self.assertEqual(after, before)

    def test_rows_of_history_can_still_be_changed(self):
        text = ("insert into HISTORY values (1709650000, 'NEU', 'N', '1', '1', 'Hand', '');"
                "update HISTORY set State='X' where ObjName='NEU';"
                "delete from HISTORY where ObjName='HEIZUNG'")
        page = self.site.run(query="SQL=" + urllib.parse.quote_plus(text) + "&" + PERIOD)
        self.assertTrue(page.endswith(latin(SQL_DONE + END)), page[-200:])
        self.assertIn((1709650000, "NEU", "X"), self.site.rows())
        self.assertNotIn("HEIZUNG", [r[1] for r in self.site.rows()])

    def test_sql_texts_stay_within_their_bounds(self):
        forever = ("with recursive c(x) as (select 1 union all select x+1 from c) "
                   "select count(*) from c")
        five = ("select length(a)+length(b)+length(c)+length(d)+length(e) from (select "
                "randomblob(900000) a, randomblob(900000) b, randomblob(900000) c, "
                "randomblob(900000) d, randomblob(900000) e)")
        junk = ("insert into HISTORY (TimeStamp, ObjName, ValueText) with recursive c(x) as "
                "(select 1 union all select x+1 from c limit 1000) select x, 'JUNK', "
                "printf('%.*c', 900000, 'x') from c")
        quotes = "select " + ", ".join(["printf('%.*c', 999999, char(34))"] * 32)
        # Rows of 100,044 bytes each, after a table head of 36.
        many = ("with recursive c(x) as (select 1 union all select x+1 from c limit 100) "
                "select x, printf('%.*c', 99999, 'y') y from c")
        slow_call = ("select instr(printf('%.*c', 900000, 'a') || 'b', "
                     "printf('%.*c', 400000, 'a') || 'c')")
        too_long = ("<br><hr>Fehler: Die SQL-Abfrage brauchte l\xe4nger als 0,3 Sekunden und wurde "
                    "abgebrochen<br><hr>\n")
        functions = ("select count(*), strftime('%Y', max(TimeStamp), 'unixepoch'), "
                     "json_extract('{\"a\":2}', '$.a'), '{\"b\":3}' ->> 'b', round(2.5), abs(-4), "
                     "row_number() over () from HISTORY where 1")
        one_row = "</table><hr>1 Datens\xe4tze gefunden.<br><hr>\n"
        both = [(stamp("2024-03-05 07:29:59"), "LICHT1", ""),
                (stamp("2024-03-06 00:00:00"), "LICHT1", "")]
        cases = [  # text, environment of the test build, end of the page or what SQLite said,
                   # rows of LICHT1 and HEIZUNG left (None: all of them)
            (forever, {"HISTQUERY_TEST_DEADLINE_MS": "300"}, too_long, None),
            # One call of a function that runs far past the deadline: the run
            # ends itself, its lock given up first.
            (slow_call, {"HISTQUERY_TEST_DEADLINE_MS": "300"}, too_long, None),
            (five, {"HISTQUERY_TEST_HEAP_LIMIT": str(4 * 1024 * 1024)},
             "<br><hr>Fehler: Die Abfrage braucht mehr als 4 MB Speicher<br><hr>\n", None),
            (five, {}, one_row, None),  # within 64 MiB
            ("select replace(hex(zeroblob(300000)), '0', '00')", {}, "too big", None),
            # The database grows by 64 MiB at most; the statement fails whole.
            (junk, {}, "database or disk is full", None),
            # 31 cells of a megabyte of quotes each, 186 MB of page: the page
            # ends at its bound, after its last whole row.
            (quotes, {}, "<br><hr>Fehler: Das Ergebnis ist gr\xf6\xdfer als 8 MB, es zeigt nur "
             "die ersten 0 Datens\xe4tze<br><hr>\n", None),
            (many, {"HISTQUERY_TEST_PAGE_LIMIT": str(4 * 1024 * 1024)},
             "</table><br><hr>Fehler: Das Ergebnis ist gr\xf6\xdfer als 4 MB, es zeigt nur die "
             "ersten %d Datens\xe4tze<br><hr>\n" % ((4 * 1024 * 1024 - 36) // 100044), None),
            # A sort spills to temporary files within their bound.
            ("select * from HISTORY a, HISTORY b, HISTORY c order by random()", {},
             "<br><hr>Fehler: Die Abfrage braucht mehr als 48 MB tempor\xe4ren Speicher<br><hr>\n",
             None),
            ("select hex(fts3_tokenizer('simple'))", {}, "not authorized", None),
            (functions, {}, "<tr><td>6</td><td>2024</td><td>2</td><td>3</td>"
             "<td>3.0</td><td>4</td><td>1</td></tr>\n" + one_row, None),
            # The period binds the whole condition, in any case, never in quotes.
            ("delete from HISTORY where ObjName = 'LICHT1' or ObjName = 'HEIZUNG'", {}, SQL_DONE,
             both),
            ("select count(*) from HISTORY WHERE ObjName = 'LICHT1'", {},
             "<tr><td>5</td></tr>\n" + one_row, None),
            # An aggregate per object at the test build's bounded heap; its
            # first column is a name, shown as it is.
            ("select ObjName, count(*), max(Value) from HISTORY where 1 group by ObjName",
             {"HISTQUERY_TEST_HEAP_LIMIT": str(8 * 1024 * 1024)},
             "<tr><td>HEIZUNG</td><td>1</td><td>21.5</td></tr>\n<tr><td>LICHT1</td><td>5</td>"
             "<td>1</td></tr>\n</table><hr>2 Datens\xe4tze gefunden.<br><hr>\n", None),
            ("select count(*), 'nowhere' from HISTORY where 1", {},
             "<tr><td>6</td><td>nowhere</td></tr>\n" + one_row, None),
        ]
        # Enough rows that the three-way join sorts far more than 64 MiB.
        filler = [("2024-02-01 00:%02d:%02d" % (i // 60, i % 60), "FILL", "N", "1", "1", "S", "")
                  for i in range(100)]
        for text, env, expected, left in cases:
            # SQLite's printf takes seconds a megabyte under the sanitizers.
            if os.environ.get("TESTS_SANITIZED") and "printf" in text:
                continue
            with self.subTest(text=text[:40], env=env):
                site = Site(self, ROWS + filler)
                size = os.path.getsize(site.db)
                page = site.run(query="SQL=" + urllib.parse.quote_plus(text) + "&" + PERIOD,
                                headers=dict(OWN_PAGE, **env), program=LIMITS_BIN,
                                preexec_fn=limited_memory, timeout=120)
                if expected.startswith("<") or expected == SQL_DONE:
                    self.assertTrue(page.endswith(latin(expected + END)), page[-200:])
                else:
                    self.assertTrue(page.endswith(latin(FAILED + END)), page[-200:])
                    self.assertIn(expected, site.stderr)
                rows = [r for r in site.rows() if r[1] != "FILL"]
                self.assertEqual(rows, [(stamp(r[0]), r[1], r[6]) for r in ROWS]
                                 if left is None else left)
                self.assertEqual(os.path.getsize(site.db), size)
                # Every way out releases the lock.
                con = sqlite3.connect(site.db, timeout=0, isolation_level=None)
                con.execute("begin exclusive")
                con.execute("rollback")
                con.close()
        # printf gives NULL past the length bound, as SQLite defines it: no
        # 300 MB value, and no row, as for any NULL first column. Under the
        # sanitizers SQLite's printf takes minutes to get there.
        if os.environ.get("TESTS_SANITIZED"):
            return
        page = self.site.run(query="SQL=" + urllib.parse.quote_plus(
            "select printf('%.*c', 300000000, 'x')") + "&" + PERIOD)
        self.assertTrue(page.endswith(latin(SQL_DONE + END)), page[-200:])

    def test_delete_links_of_saved_selections_delete_what_was_shown(self):
        shown_rows = [r for r in self.site.rows()]
        saved_other = ("txDateFrom=2024-03-01\ntxTimeFrom=00:00\ntxDateTo=2024-03-31\n"
                       "txTimeTo=23:59\nobj=LICHT1;;N\nobj=HEIZUNG;;N\n")
        cases = [  # how the report was asked for, the selection file, rows left after its link
            # LICHT1's 3 rows shown and its 2 hidden ones of the period go; the
            # wider selection saved meanwhile would have taken all 7 of it.
            ("", "histobj.dat", SAVED.replace("07:30:00", "07:30"), 3),
            ("DFW=mine.dat&obj=LICHT1%3Bx%3BN", "mine.dat", SAVED, 3),
            ("DFW=mine.dat", "mine.dat", SAVED, 2),  # no objects: every object of the period
        ]
        for query, name, saved, left in cases:
            with self.subTest(query=query):
                site = Site(self)
                with open(os.path.join(site.dir, name), "w") as f:
                    f.write(saved)
                page = site.run(query=query)
                link = re.search(rb"'HistQuery.ksq\?(ACTION=DEL&[^']*)'", page).group(1)
                # Another tab saves a wider selection before the click.
                for other in ("histobj.dat", "mine.dat"):
                    with open(os.path.join(site.dir, other), "w") as f:
                        f.write(saved_other)
                page = site.run(query=link.decode("latin-1"))
                self.assertTrue(page.endswith(latin(deleted(len(ROWS) - left) + END)),
                                page[-200:])
                self.assertEqual(len(site.rows()), left)
        self.assertEqual(len(shown_rows), len(ROWS))

    def test_browser_encoded_names_and_sql_texts(self):
        site = self.site
        con = sqlite3.connect(site.db)
        # The recorder writes Latin-1 bytes as text.
        con.executemany("insert into HISTORY values (?, cast(? as text), 'N', ?, ?, 'Taster', '')",
                        [(stamp("2024-03-05 10:00:00"), latin("K\xdcCHE LICHT"), "1", "an"),
                         (stamp("2024-03-05 11:00:00"), latin("K\xdcCHE LICHT"), "0", "aus")])
        con.commit()
        con.close()
        query = PERIOD + "&obj=K%FCche+Licht%3BK%FCche%3BN"
        page = site.run(query=query)
        self.assertIn(latin("10:00:00 : K\xdcCHE LICHT = an <-[Taster]<br>\n"), page)
        self.assertIn(latin("<br><hr>2 Datens\xe4tze gefunden."), page)
        link = re.search(rb"'HistQuery.ksq\?(ACTION=DEL&[^']*)'", page).group(1)
        self.assertEqual(link, latin("ACTION=DEL&" + query.replace("%3B", ";")))
        self.assertTrue(site.run(query=link.decode("latin-1")).endswith(latin(deleted(2) + END)))
        self.assertEqual(len(site.rows()), len(ROWS))
        page = site.run(query="SQL=select+ObjName+from+HISTORY+where+ObjName+like+%27LICHT%25%27+"
                              "and+Source%3D%27Programm%27&" + PERIOD)
        self.assertIn(b"<hr>1 Datens", page)

    def test_unreadable_dates_refuse_the_period(self):
        unreadable = "<b>Fehler: 05.13.2024 07:30:00 ist kein g\xfcltiges Datum</b><hr>\n"
        reversed_ = ("<b>Fehler: Das Ende des Zeitraums (05.03.2024 23:59:00) liegt vor seinem "
                     "Beginn (06.03.2024 00:00:00)</b><hr>\n")
        for query, message in (
                ("txDateFrom=2024-13-05&txTimeFrom=07%3A30&txDateTo=2024-12-05&txTimeTo=23%3A59",
                 unreadable),
                ("ACTION=DEL&txDateFrom=2024-13-05&txTimeFrom=07%3A30&txDateTo=2024-12-05"
                 "&txTimeTo=23%3A59", unreadable),
                ("ACTION=DEL&txDateFrom=2024-03-06&txTimeFrom=00%3A00&txDateTo=2024-03-05"
                 "&txTimeTo=23%3A59", reversed_),
                ("txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59"
                 "&obj=LICHT1%3BL%3BN&obj=FEHLT%3BNirgends%3BN", "<b>F\xfcr Nirgends (FEHLT) gibt es "
                 "im Zeitraum keine Daten</b><br>\n")):
            with self.subTest(query=query):
                page = self.site.run(query=query)
                self.assertIn(latin(message), page)
                self.assertEqual(len(self.site.rows()), len(ROWS))

    def test_a_period_covers_its_own_days_in_every_zone(self):
        # A row without State is shown, and deleted, like the others.
        rows = [(t, "LICHT1", "N", "0", text, "Taster", state) for t, text, state in (
            ("2026-12-02 23:59:59", "vorher", ""), ("2026-12-03 00:00:00", "erste", ""),
            ("2026-12-03 23:59:59", "letzte", None), ("2026-12-04 00:00:00", "danach", ""))]
        request = ("txDateFrom=2026-12-03&txTimeFrom=00%3A00&txDateTo=2026-12-03"
                   "&txTimeTo=23%3A59%3A59&obj=Licht1%3BKueche%3BN")
        shown = report_lines([("03.12.2026 00:00:00", "LICHT1", "erste", "Taster"),
                              ("03.12.2026 23:59:59", "LICHT1", "letzte", "Taster")])
        # West of UTC, with half hours, and in the southern summer time.
        for zone in ("Europe/Berlin", "UTC", "America/New_York", "Asia/Kolkata",
                     "Pacific/Auckland"):
            with self.subTest(zone=zone):
                site = Site(self, rows=rows)
                headers = dict(OWN_PAGE, TZ=zone)
                page = site.run(query=request, headers=headers)
                self.assertEqual(page, latin(HEAD + OBJ_BUTTON + shown + offer_deletion(
                    2, request.replace("%3B", ";")) + END))
                site.run(query="ACTION=DEL&" + request.replace("%3B", ";"), headers=headers)
                self.assertEqual(site.rows(), [(stamp("2026-12-02 23:59:59"), "LICHT1", ""),
                                               (stamp("2026-12-04 00:00:00"), "LICHT1", "")])


def limited_memory():
    """A preexec_fn: at most 128 MiB of address space, as on a small device."""
    resource.setrlimit(resource.RLIMIT_AS, (128 << 20, 128 << 20))


# AddressSanitizer's shadow memory and qemu's guest space take far more address
# space than the bound: those builds run without it.
if os.environ.get("TESTS_NO_ADDRESS_BOUND"):
    limited_memory = None  # noqa: F811


def _rows_while(self, holder):
    return holder.execute("select * from HISTORY").fetchall()


Site.rows_while = _rows_while


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def recorded_rows(first, count, step, seed):
    """A recorder's rows, one round every `step` seconds: a sensor, a contact
    whose values are named, a mode given as text; some hidden, some with a
    fraction of a second, some stored after later ones of their hour."""
    draw = random.Random(seed)
    rows = []
    for k in range(count):
        at = first + k * step + draw.randint(0, step - 1)
        rows.append((at + draw.choice([0, 0, 0.25]), "TEMP", "C", "%.1f" % draw.uniform(-5, 30),
                     None, "Sensor", draw.choice(["", "", "", "X"])))
        if k % 3 == 0:
            value = draw.choice(["0", "1"])
            rows.append((at + 7, "KONTAKT", "N", value, "offen" if value == "1" else "zu",
                         "Sensor", ""))
        if k % 5 == 0:
            rows.append((at + 11, "MODUS", "T", draw.choice(["Tag", "Nacht"]), None, "Zentrale",
                         ""))
    late = [(r[0] - 300,) + r[1:] for r in rows[5::97]]
    return rows + late


class SummaryTests(unittest.TestCase):
    """The chart data of long windows from the summary of the history: the
    same bytes as from the rows, whatever happened to the history since."""

    FIRST = stamp("2024-03-01 00:00:00")
    OBJECTS = "&obj=Temp%3BAussen%3BC&obj=Kontakt%3BTuer%3BN&obj=Modus%3BModus%3BT"
    WINDOWS = [  # from, to, width: columns of days, of hours, ends inside hours
        ("2024-03-01&txTimeFrom=00%3A00", "2024-06-30&txTimeTo=23%3A59", 100),
        ("2024-03-05&txTimeFrom=13%3A13", "2024-07-01&txTimeTo=08%3A08", 100),
        ("2024-03-01&txTimeFrom=00%3A00", "2024-03-10&txTimeTo=23%3A59", 100),
        ("2024-03-02&txTimeFrom=05%3A17", "2024-03-21&txTimeTo=14%3A41", 150),
    ] + [  # and a few drawn at random (seeded): 5 to 100 days, to the minute
        (time.strftime("%Y-%m-%d&txTimeFrom=%H%%3A%M", time.gmtime(start)),
         time.strftime("%Y-%m-%d&txTimeTo=%H%%3A%M", time.gmtime(start + days * 86400)),
         random.Random(start).randint(100, 120))
        for start, days in ((1709251200 + random.Random(k).randint(0, 30 * 86400),
                             random.Random(-k).randint(5, 100)) for k in range(4))]

    def setUp(self):
        self.site = Site(self, with_db=False)
        # Twenty days of dense rows, then four months of sparse ones: a row
        # appended later into the third day lies more than a slice of rowids
        # after its hour's first.
        testkit.make_history(self.site.db, recorded_rows(self.FIRST, 2880, 600, 1) +
                             recorded_rows(self.FIRST + 20 * 86400, 960, 3 * 3600, 4))

    def assert_summary_answers(self, step):
        for date_from, date_to, width in self.WINDOWS:
            query = ("VIEW=JSON&WIDTH=%d&txDateFrom=%s&txDateTo=%s" % (width, date_from, date_to) +
                     self.OBJECTS)
            with self.subTest(step=step, window=(date_from, date_to, width)):
                self.assertEqual(self.site.run(query=query + "&SUMMARY=CHECK").split(b"\n\n")[1],
                                 b'{"check":"same"}\n')
                self.assertEqual(self.site.run(query=query),
                                 self.site.run(query=query + "&SUMMARY=ROWS"))

    def test_the_summary_follows_the_history(self):
        def change(sql, *values):
            con = sqlite3.connect(self.site.db)
            con.execute(sql, values)
            con.commit()
            con.close()

        self.assert_summary_answers("made")
        self.assertIsNotNone(self.site.file("histsum.db"))
        # The recorder goes on, also into hours summed up already.
        later = recorded_rows(self.FIRST + 3 * 86400, 24, 600, 2)
        con = sqlite3.connect(self.site.db)
        con.executemany("insert into HISTORY values (?,?,?,?,?,?,?)", later)
        con.commit()
        con.close()
        self.assert_summary_answers("appended")
        # The contact's value 2 is named only now.
        change("insert into HISTORY values (?, 'KONTAKT', 'N', '2', 'gekippt', 'Sensor', '')",
               self.FIRST + 5 * 86400 + 10)
        self.assert_summary_answers("named")
        self.site.run(query="ACTION=DEL&txDateFrom=2024-03-04&txTimeFrom=10%3A20"
                            "&txDateTo=2024-03-06&txTimeTo=03%3A10&obj=Temp%3BAussen%3BC")
        self.assertIn(latin("wurden gel\xf6scht"), self.site.run(
            query="ACTION=DEL&txDateFrom=2024-03-07&txTimeFrom=00%3A00&txDateTo=2024-03-07"
                  "&txTimeTo=12%3A00", headers=dict(OWN_PAGE)))
        self.assert_summary_answers("deleted")
        self.site.run(query="SQL=update+HISTORY+set+Value%3D%2799%27+where+ObjName%3D%27TEMP%27"
                            "+and+TimeStamp+%3C+1709500000&" + PERIOD)
        self.assert_summary_answers("changed by SQL")
        os.remove(self.site.db)
        testkit.make_history(self.site.db, recorded_rows(self.FIRST, 1000, 3600, 3))
        self.assert_summary_answers("another history")
        with open(os.path.join(self.site.dir, "histsum.db"), "r+b") as summary:
            summary.seek(4096)
            summary.write(b"\xff" * 8192)
        self.assert_summary_answers("damaged")
        with open(os.path.join(self.site.dir, "histsum.db"), "r+b") as summary:
            summary.truncate(os.path.getsize(summary.name) // 2)
        self.assert_summary_answers("cut short")


class LighttpdTests(unittest.TestCase):
    """The report behind a real lighttpd with mod_cgi, as HistQuery.ksq."""

    def setUp(self):
        lighttpd = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
        if not os.path.exists(lighttpd):
            self.skipTest("lighttpd is not installed")
        self.site = Site(self)
        root = self.site.dir
        shutil.copy(BIN, os.path.join(root, "HistQuery.ksq"))
        self.port = free_port()
        conf = os.path.join(root, "lighttpd.conf")
        # The demo's own configuration: what it serves and refuses is tried here.
        with open(DEMO_CONF) as f:
            demo = f.read()
        with open(conf, "w") as f:
            f.write(demo.replace("@DOCROOT@", root).replace("@PORT@", str(self.port))
                    .replace("@RUNDIR@", root))
            if os.geteuid() == 0:
                f.write('server.username = "nobody"\nserver.groupname = "nogroup"\n')
        if os.geteuid() == 0:
            # The unprivileged server must reach the files of the run.
            for path in (root, self.site.data):
                os.chmod(path, 0o777)
            os.chmod(self.site.db, 0o666)
        self.server = subprocess.Popen([lighttpd, "-D", "-f", conf],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(self.stop)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if self.server.poll() is not None:
                    self.fail("lighttpd ended: " + self.server.stderr.read().decode())
                time.sleep(0.05)

    def stop(self):
        self.server.terminate()
        self.server.wait(timeout=10)
        self.server.stderr.close()

    def get(self, path, data=None, headers=None):
        url = "http://127.0.0.1:%d/%s" % (self.port, path)
        request = urllib.request.Request(url, data=data, headers=headers or {})
        with urllib.request.urlopen(request, timeout=30) as response:
            self.assertEqual(response.status, 200)
            self.assertEqual(response.headers["Content-Type"], "text/html")
            return response.read()

    def test_a_long_report_in_pages(self):
        # Two objects every 10 s, one row each a second (so that a page may end
        # between the rows of one second), hidden rows among them; stored with
        # the clock set back 600 s once.
        start = stamp("2024-03-05 01:00:00")
        at = [start + 10 * i if i < 400 else start + 10 * (i - 60) for i in range(700)]
        rows = [(start - 5, "LICHT1", "N", "0", "first", "Taster", "")]
        for i, t in enumerate(at):
            for name in ("LICHT1", "HEIZUNG"):
                hidden = "X" if name == "HEIZUNG" and i % 50 == 7 else ""
                rows.append((t, name, "N", str(i), "v%d" % i, "S", hidden))
        con = sqlite3.connect(self.site.db)
        con.execute("delete from HISTORY")
        con.executemany("insert into HISTORY values (?,?,?,?,?,?,?)", rows)
        con.commit()
        shown = con.execute("select TimeStamp, ObjName, ValueText, Source from HISTORY where "
                            "State is not 'X' order by TimeStamp, rowid").fetchall()
        con.close()
        expected = [(time.strftime("%d.%m.%Y %H:%M:%S", time.gmtime(t)), n, v, s)
                    for t, n, v, s in shown]
        query = ("txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59"
                 "&obj=Licht1%3BL%3BN&obj=Heizung%3BH%3BN")
        link = lambda name, page: html.unescape(re.search(
            r"<a href='HistQuery.ksq\?([^']*)'>%s" % name, page).group(1))
        pages, page, delete_links = [], latin1(self.get("HistQuery.ksq?" + query)), set()
        while True:
            pages.append(page)
            delete_links.add(re.search(r"ACTION=DEL&([^']*)'", page).group(1))
            if "N\xe4chste Seite" not in page:
                break
            page = latin1(self.get("HistQuery.ksq?" + link("N\xe4chste Seite", page)))
        lines = [line for page in pages for line in re.findall(r"\n(\d\d\.\d\d\.\d{4} [^\n]*)<br>", page)]
        self.assertEqual(lines, [" : ".join(r[:2]) + " = %s <-[%s]" % r[2:] for r in expected])
        self.assertEqual([len(re.findall(r"<-\[", p)) for p in pages], [500, 500, len(shown) - 1000])
        self.assertEqual(delete_links, {query.replace("%3B", ";")})
        self.assertNotIn("Vorige Seite", pages[0])
        self.assertIn("Datens\xe4tze 1 bis 500 von mehr als 500", pages[0])
        self.assertIn("<br><hr>Datens\xe4tze 501 bis 1000 von mehr als 1000.<br><hr>", pages[1])
        self.assertIn("<br><hr>Datens\xe4tze 1001 bis %d von %d.<br><hr>" % (len(shown), len(shown)),
                      pages[2])
        self.assertIn("%d Datens\xe4tze im Zeitraum, 14 davon nicht angezeigt" % (len(shown) + 14),
                      pages[2])
        self.assertNotIn("davon nicht angezeigt", pages[0] + pages[1])
        # The page before each page is the one that led to it.
        for before, page in zip(pages, pages[1:]):
            self.assertEqual(latin1(self.get("HistQuery.ksq?" + link("&lt; Vorige Seite", page))),
                             before)

    def test_private_files_are_not_served(self):
        self.get("HistQuery.ksq?" + REQUEST)  # writes histobj.dat
        for name in ("histsql.dat.Ab12Cd", "histobj.dat.4711.Ab12Cd", "data/history.db-journal"):
            with open(os.path.join(self.site.dir, name), "w") as f:
                f.write("x")
        with open(os.path.join(self.site.dir, "HistHosts.cfg"), "w") as f:
            f.write("box\n")
        for path in ("histobj.dat", "histobj.d%61t", "HistPath.cfg", "HistPath%2Ecfg",
                     "data/history.db", "data/history.db-journal", "histsql.dat.Ab12Cd",
                     "histobj.dat.4711.Ab12Cd", "data/../histobj.dat", "HistHosts.cfg",
                     # Whatever follows the name: the file would be served.
                     "histobj.dat/", "histobj.dat%2f", "histobj.dat%2F", "HistPath.cfg/.",
                     "data/history.db/", "histobj.dat/x.html", "HistPath.CFG%2F.",
                     "histobj.dat%2e", "data%2fhistory.db"):
            with self.subTest(path=path):
                with self.assertRaises(urllib.error.HTTPError) as refused:
                    self.get(path)
                self.assertEqual(refused.exception.code, 403)

    def test_report_and_its_delete_link(self):
        request = REQUEST.replace("Kueche", "K%FCche")  # a Latin-1 label as a browser sends it
        body = self.get("HistQuery.ksq", data=latin(request))
        expected = (HEAD + OBJ_BUTTON + report_lines(REPORTED) +
                    offer_deletion(3, request.replace("%3B", ";"), 2) + END)
        self.assertEqual(body, latin(expected.split("\n\n", 1)[1]))
        self.assertEqual(self.site.file("histobj.dat"), latin(SAVED.replace("Kueche", "K%FCche")))
        link = re.search(rb"window.location.href = '(HistQuery.ksq\?ACTION=DEL&[^']*)'", body)
        # The button navigates from the report page, which the Referer names.
        referer = "http://127.0.0.1:%d/HistQuery.ksq" % self.port
        before = len(self.site.rows())
        body = self.get(link.group(1).decode("latin-1"), headers={"Referer": referer})
        self.assertEqual(body, latin((HEAD + OBJ_BUTTON + deleted(before - 3) + END)
                                     .split("\n\n", 1)[1]))
        self.assertEqual(len(self.site.rows()), 3)
        self.assertEqual(self.get("HistQuery.ksq?" + request),
                         latin((HEAD + OBJ_BUTTON + NO_DATA + END).split("\n\n", 1)[1]))

    def fetch(self, path):
        """Status, headers and body of any answer."""
        url = "http://127.0.0.1:%d/%s" % (self.port, path)
        try:
            with urllib.request.urlopen(url, timeout=30) as response:
                return response.status, response.headers, response.read()
        except urllib.error.HTTPError as error:
            with error:
                return error.code, error.headers, error.read()

    def test_views_of_a_selection(self):
        con = sqlite3.connect(self.site.db)
        # The recorder writes Latin-1 bytes as text; a row written late (a
        # clock set back) stands out of time order in the table.
        con.executemany("insert into HISTORY values (?, cast(? as text), 'N', ?, cast(? as text), "
                        "cast(? as text), '')",
                        [(stamp("2024-03-05 10:00:00"), latin("K\xdcCHE"), "21.5", latin("x;y"),
                          latin("Zentrale")),
                         (stamp("2024-03-05 09:00:00"), latin("K\xdcCHE"), "-3.25",
                          latin('er sagt "gut"'), latin("Sensor")),
                         (stamp("2024-03-05 11:00:00"), latin("K\xdcCHE"), "an", latin("=1+1"),
                          latin("Sch\xe4ltung"))])
        con.commit()
        con.close()
        selection = ("txDateFrom=2024-03-05&txTimeFrom=07%3A30&txDateTo=2024-03-05"
                     "&txTimeTo=23%3A59&obj=Licht1%3BK%FCche+Licht%3BC"
                     "&obj=K%FCche%3BK%FChlschrank+%22A%22%3BN")
        before = testkit.read(self.site.db)

        status, headers, body = self.fetch("HistQuery.ksq?VIEW=CSV&" + selection)
        self.assertEqual((status, headers["Content-Type"], headers["Content-Disposition"]),
                         (200, "text/csv; charset=utf-8", 'attachment; filename="Historie_'
                          '2024-03-05_073000_2024-03-05_235900.csv"'))
        fridge = '"K\u00fchlschrank ""A"""'
        self.assertEqual(body, (
            "\ufeffZeit;Objekt;Bezeichnung;Wert;Werttext;Quelle\r\n"
            "05.03.2024 07:30:00;LICHT1;K\u00fcche Licht;1;1;Taster\r\n"
            '05.03.2024 09:00:00;K\u00dcCHE;%s;-3,25;"er sagt ""gut""";Sensor\r\n'
            '05.03.2024 10:00:00;K\u00dcCHE;%s;21,5;"x;y";Zentrale\r\n'
            "05.03.2024 11:00:00;K\u00dcCHE;%s;an;'=1+1;Sch\u00e4ltung\r\n"
            "05.03.2024 12:15:30;LICHT1;K\u00fcche Licht;0;aus;Programm\r\n"
            "05.03.2024 23:59:00;LICHT1;K\u00fcche Licht;1;an;Taster\r\n"
            % (fridge, fridge, fridge)).encode("utf-8"))

        status, headers, body = self.fetch("HistQuery.ksq?VIEW=JSON&" + selection)
        self.assertEqual((status, headers["Content-Type"]), (200, "application/json"))
        t = stamp
        light_mean = (t("2024-03-05 12:15:30") - t("2024-03-05 07:30:00")) / (
            t("2024-03-05 23:59:00") - t("2024-03-05 07:30:00"))
        self.assertEqual(json.loads(body.decode("utf-8")), {
            "from": t("2024-03-05 07:30:00"), "to": t("2024-03-05 23:59:00"), "width": 1000,
            "objects": [
                {"name": "LICHT1", "label": "K\u00fcche Licht", "kind": "C",
                 "points": [[t("2024-03-05 07:30:00"), 1], [t("2024-03-05 12:15:30"), 0],
                            [t("2024-03-05 23:59:00"), 1]],
                 "stats": {"count": 3, "first": t("2024-03-05 07:30:00"),
                           "last": t("2024-03-05 23:59:00"), "min": 0,
                           "minTime": t("2024-03-05 12:15:30"), "max": 1,
                           "maxTime": t("2024-03-05 07:30:00"), "mean": light_mean,
                           "lastValue": 1},
                 "texts": {"0": "aus", "1": "an"}},
                {"name": "K\u00dcCHE", "label": 'K\u00fchlschrank "A"', "kind": "N",
                 "points": [[t("2024-03-05 09:00:00"), -3.25], [t("2024-03-05 10:00:00"), 21.5],
                            [t("2024-03-05 11:00:00"), None]],
                 "stats": {"count": 3, "first": t("2024-03-05 09:00:00"),
                           "last": t("2024-03-05 11:00:00"), "min": -3.25,
                           "minTime": t("2024-03-05 09:00:00"), "max": 21.5,
                           "maxTime": t("2024-03-05 10:00:00"), "mean": 9.125,
                           "lastValue": None}}]})

        # The chart page carries the selection it took, also one of a
        # selection file, for its links and its data requests.
        with open(os.path.join(self.site.dir, "histobj.dat"), "wb") as f:
            f.write(latin(SAVED))
        for query in ("VIEW=CHART&DFW=histobj.dat", "VIEW=CHART&WIDTH=500"):
            with self.subTest(query=query):
                status, headers, body = self.fetch("HistQuery.ksq?" + query)
                self.assertEqual((status, headers["Content-Type"]),
                                 (200, "text/html; charset=iso-8859-15"))
                self.assertIn(b"<main id='histchart' data-query='" + latin(SAVED_LINK) + b"'>",
                              body)
                self.assertIn(b"<script src='uPlot.iife.min.js'></script>", body)

        # Refusals, in each view's form; none of them runs anything.
        no_period = "Es wurde kein Zeitraum ausgew\xe4hlt"
        not_objects = ("Diagramm und Download gibt es nur f\xfcr eine Auswahl von Objekten, "
                       "nicht mit SQL= oder ACTION=DEL")
        refusals = [
            ("VIEW=JSON&obj=Licht1", "application/json",
             json.dumps({"error": no_period}, ensure_ascii=False, separators=(",", ":")).encode("utf-8") + b"\n"),
            ("VIEW=CSV&obj=Licht1&txDateFrom=2024-03-06&txTimeFrom=00%3A00"
             "&txDateTo=2024-03-05&txTimeTo=00%3A00", "text/plain; charset=utf-8",
             ("Das Ende des Zeitraums (05.03.2024 00:00:00) liegt vor seinem Beginn "
              "(06.03.2024 00:00:00)\n").encode("utf-8")),
            ("VIEW=CHART&obj=Licht1", "text/html; charset=iso-8859-15",
             latin("<p><b>" + no_period + "</b></p>")),
            ("VIEW=JSON&ACTION=DEL&" + selection, "application/json",
             json.dumps({"error": not_objects}, ensure_ascii=False, separators=(",", ":")).encode("utf-8") + b"\n"),
            ("VIEW=CSV&SQL=delete+from+HISTORY&" + PERIOD, "text/plain; charset=utf-8",
             (not_objects + "\n").encode("utf-8")),
        ]
        for query, content_type, message in refusals:
            with self.subTest(query=query):
                status, headers, body = self.fetch("HistQuery.ksq?" + query)
                self.assertEqual((status, headers["Content-Type"]), (400, content_type))
                self.assertIn(message, body)
        # Views only read: the history and the selection file stay as they were.
        self.assertEqual(testkit.read(self.site.db), before)
        self.assertEqual(self.site.file("histobj.dat"), latin(SAVED))
        self.assertEqual(self.site.file("histsql.dat"), None)


if __name__ == "__main__":
    unittest.main()
