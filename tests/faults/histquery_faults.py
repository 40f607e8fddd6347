"""Faults around the history report: a database locked for longer than the
busy time-out, a file that is no database, a read-only working or data
directory, a full disk for the selection files, a web client that goes
away, a recorder writing during a large deletion and a deletion that stops
half-way. Each run must end its page, claim nothing that did not happen and
keep the last good files.

Needs PROGRAM_HISTQUERY_LOCALCFG, PROGRAM_HISTSERIES_LOCALCFG and TZ=Europe/Berlin.
"""
import os
import re
import sqlite3
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import faultkit  # noqa: E402
from faultkit import stamp  # noqa: E402

BIN = faultkit.program("HistQuery-localcfg")
SERIES_BIN = faultkit.program("HistSeries-localcfg")

END = b"</body></html>\n"
FOUND = "Datens\xe4tze gefunden".encode("latin-1")
SQL_DONE = b"Verarbeitung erfolgreich beendet"
NO_DATA = "<b>Es gibt keine Daten f\xfcr den ausgew\xe4hlten Zeitraum</b><hr>\n".encode("latin-1")
DELETED = "<b>Die ausgew\xe4hlten Daten wurden aus der Datenbank gel\xf6scht</b>\n".encode("latin-1")


def deleted(rows):
    """The confirmation of a deletion and the number of rows it removed."""
    return DELETED + ("<br>%d Datens\xe4tze wurden gel\xf6scht.<br>\n" % rows).encode("latin-1")


NOT_DELETED = ("<b>Fehler: Die Daten wurden nicht aus der Datenbank gel\xf6scht</b><hr>\n"
               .encode("latin-1"))
FAILED = b"<br><hr>Fehler bei der Datenbankabfrage<br><hr>\n"

PERIOD = "txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59"
REPORT = PERIOD + "&obj=LICHT1%3BKueche%3BN"
DELETE = "ACTION=DEL&" + PERIOD + "&obj=LICHT1;Kueche;N"
SQL = "SQL=select+ObjName%2C+Value+from+HISTORY+where+1&" + PERIOD
SAVED = (b"txDateFrom=2024-03-05\ntxTimeFrom=00:00:00\ntxDateTo=2024-03-05\n"
         b"txTimeTo=23:59:00\nobj=LICHT1;Kueche;N\n")
ROWS = [(stamp("2024-03-05 %02d:00:00" % h), "LICHT1", "N", str(h % 2), str(h % 2), "Taster", "")
        for h in range(8, 20)]


# A recorder as the add-on runs one: its own process, a row every 50 ms, each
# insert committed on its own, a busy time-out of 1 s. It writes rows of the
# period and objects being deleted until the file named by its second
# argument appears, from the moment the deletion first writes (its journal
# appears: the rows it deletes are fixed by then) or, with a third argument,
# at once; then it prints how many inserts failed and the rowid of every row
# it wrote.
RECORDER = r"""
import os, sqlite3, sys, time
db, stop = sys.argv[1], sys.argv[2]
con = sqlite3.connect(db, timeout=1.0, isolation_level=None)
written, lost, at = [], 0, 1780000000
print("ready", flush=True)
while (len(sys.argv) < 4 and not os.path.exists(db + "-journal")
       and not os.path.exists(stop)):
    time.sleep(0.001)
while not os.path.exists(stop):
    at += 1
    try:
        cur = con.execute("insert into HISTORY values (?, 'OBJ1', 'N', '1', '1', 'Sensor', '')",
                          (at,))
        written.append(cur.lastrowid)
    except sqlite3.OperationalError:
        lost += 1
    time.sleep(0.05)
print(lost, *written)
"""

# The deletion of the recorder test: a year of six of the eight objects.
YEAR_OF_SIX = ("ACTION=DEL&txDateFrom=2026-01-01&txTimeFrom=00%3A00&txDateTo=2026-12-31"
               "&txTimeTo=23%3A59" + "".join("&obj=obj%d;O;N" % k for k in range(1, 7)))
SIX_IN_THE_YEAR = ("TimeStamp >= %d and TimeStamp <= %d and ObjName in (%s)" % (
    stamp("2026-01-01 00:00:00"), stamp("2026-12-31 23:59:00"),
    ",".join("'OBJ%d'" % k for k in range(1, 7))))


# The series export of the recorder test: the same year and objects.
YEAR_SELECTION = (b"txDateFrom=2026-01-01\ntxTimeFrom=00:00:00\ntxDateTo=2026-12-31\n"
                  b"txTimeTo=23:59:00\n" + b"".join(b"txobs=obj%d;O;N\n" % k for k in range(1, 7)))


def big_history(path, rows, indexes=True):
    """rows rows of eight objects, one every 40 s from 2026 into 2027, with
    the two indexes some installations add (they make each deleted row
    dearer), or bare as the recorder creates the table."""
    con = sqlite3.connect(path)
    con.execute("pragma journal_mode = off")
    con.execute("pragma synchronous = off")
    con.execute(faultkit.SCHEMA)
    start = stamp("2026-01-01 00:00:00")
    con.executemany("insert into HISTORY values (?, ?, 'N', ?, ?, 'Sensor', '')",
                    ((start + i * 40, "OBJ%d" % (i % 8), str(i % 97), str(i % 97))
                     for i in range(rows)))
    if indexes:
        con.execute("create index HISTORY_TIME on HISTORY (TimeStamp)")
        con.execute("create index HISTORY_OBJ_TIME on HISTORY (ObjName, TimeStamp)")
    con.commit()
    con.close()


def rowids(db, condition):
    con = sqlite3.connect(db)
    try:
        return {r[0] for r in con.execute("select rowid from HISTORY where " + condition)}
    finally:
        con.close()


class Site:
    """A working directory with HistPath.cfg, and a data directory holding
    history.db."""

    def __init__(self, case, with_db=True):
        self.dir = faultkit.scratch(case, "faults_histquery.")
        self.data = os.path.join(self.dir, "data")
        os.mkdir(self.data)
        self.db = os.path.join(self.data, "history.db")
        faultkit.write(os.path.join(self.dir, "HistPath.cfg"), (self.data + "\n").encode())
        if with_db:
            faultkit.make_history(self.db, ROWS)

    def start(self, query, preexec_fn=None, stdout=subprocess.PIPE):
        # As sent by the report's own page, so that deletions and SQL texts run.
        env = dict(faultkit.ENV, REQUEST_METHOD="GET", QUERY_STRING=query,
                   HTTP_SEC_FETCH_SITE="same-origin")
        return subprocess.Popen([BIN], cwd=self.dir, env=env, stdout=stdout,
                                stderr=subprocess.PIPE, preexec_fn=preexec_fn)

    def run(self, query, preexec_fn=None):
        proc = self.start(query, preexec_fn)
        out, err = proc.communicate(timeout=60)
        return proc.returncode, out, err

    def path(self, name):
        return os.path.join(self.dir, name)

    def row_count(self):
        con = sqlite3.connect(self.db)
        try:
            return con.execute("select count(*) from HISTORY").fetchone()[0]
        finally:
            con.close()


class HistQueryFaults(unittest.TestCase):
    def assertPage(self, status, page, closing):
        """Exit 0, the whole page, the expected closing section, no claim of success."""
        self.assertEqual(status, 0)
        self.assertTrue(page.startswith(b"Content-type: text/html\nX-Frame-Options: SAMEORIGIN\n"
                                        b"Content-Security-Policy: frame-ancestors 'self'\n\n"
                                        b"<!DOCTYPE HTML>"))
        self.assertTrue(page.endswith(closing + END), page[-200:])
        if closing in (FAILED, NOT_DELETED):
            for claim in (FOUND, SQL_DONE, DELETED, NO_DATA):
                self.assertNotIn(claim, page)

    def test_database_locked_longer_than_the_busy_time_out(self):
        site = Site(self)
        holder = sqlite3.connect(site.db, isolation_level=None, timeout=0)
        holder.execute("begin exclusive")
        try:
            # All three wait out the 5 s busy time-out side by side.
            runs = [(site.start(q), closing) for q, closing in
                    ((REPORT, FAILED), (DELETE, NOT_DELETED), (SQL, FAILED))]
            for proc, closing in runs:
                out, err = proc.communicate(timeout=60)
                self.assertPage(proc.returncode, out, closing)
                self.assertIn(b"locked", err)
        finally:
            holder.execute("rollback")
            holder.close()
        self.assertEqual(site.row_count(), len(ROWS))

    def test_file_that_is_no_database(self):
        site = Site(self, with_db=False)
        junk = b"HISTORY;LICHT1;1\n" * 300
        faultkit.write(site.db, junk)
        for query, closing in ((REPORT, FAILED), (DELETE, NOT_DELETED), (SQL, FAILED)):
            with self.subTest(query=query[:20]):
                status, page, err = site.run(query)
                self.assertPage(status, page, closing)
                self.assertIn(b"not a database", err)
        self.assertEqual(faultkit.read(site.db), junk)
        self.assertEqual(faultkit.files_in(site.data), ["history.db"])

    def test_read_only_working_directory(self):
        demote, reason = faultkit.unprivileged()
        if reason:
            self.skipTest(reason)
        site = Site(self)
        faultkit.open_to_all(site.data, site.db)
        os.chmod(site.dir, 0o555)
        self.addCleanup(os.chmod, site.dir, 0o700)
        status, page, _ = site.run(REPORT, demote)
        self.assertPage(status, page, b"")
        self.assertIn(b"<br><hr>12 " + FOUND, page)
        self.assertEqual(faultkit.files_in(site.dir), ["HistPath.cfg", "data"])
        # The deletion needs only the data directory.
        status, page, _ = site.run(DELETE, demote)
        self.assertPage(status, page, deleted(len(ROWS)))
        self.assertEqual(site.row_count(), 0)

    def test_read_only_data_directory_refuses_the_deletion(self):
        demote, reason = faultkit.unprivileged()
        if reason:
            self.skipTest(reason)
        site = Site(self)
        faultkit.open_to_all(site.dir, site.db)
        os.chmod(site.data, 0o555)
        self.addCleanup(os.chmod, site.data, 0o700)
        status, page, err = site.run(DELETE, demote)
        self.assertPage(status, page, NOT_DELETED)
        self.assertNotEqual(err, b"")
        self.assertEqual(site.row_count(), len(ROWS))
        # Reading still works there.
        status, page, _ = site.run(REPORT, demote)
        self.assertIn(b"<br><hr>12 " + FOUND, page)

    def test_unreadable_store_is_a_failure_not_no_data(self):
        demote, reason = faultkit.unprivileged()
        if reason:
            self.skipTest(reason)
        site = Site(self)
        faultkit.open_to_all(site.dir)
        os.chmod(site.data, 0o755)
        os.chmod(site.db, 0o000)  # the web server's user may not read it
        self.addCleanup(os.chmod, site.db, 0o600)
        for query, closing in ((REPORT, FAILED), (DELETE, NOT_DELETED)):
            with self.subTest(query=query[:20]):
                status, page, err = site.run(query, demote)
                self.assertPage(status, page, closing)
                self.assertIn(b"Permission denied", err)
        self.assertEqual(site.row_count(), len(ROWS))

    def test_full_disk_keeps_the_selection_files(self):
        site = Site(self)
        site.run(REPORT)
        self.assertEqual(faultkit.read(site.path("histobj.dat")), SAVED)
        site.run(SQL)
        sql_saved = faultkit.read(site.path("histsql.dat"))
        other = REPORT.replace("LICHT1%3BKueche", "LICHT1%3BFlur")
        for query, name, good in ((other, "histobj.dat", SAVED),
                                  (SQL.replace("where+1", "where+2"), "histsql.dat", sql_saved)):
            for limit in (0, 20, 60):
                with self.subTest(name=name, limit=limit):
                    proc = site.start(query, faultkit.limited_writes(limit))
                    page, _ = proc.communicate(timeout=60)
                    self.assertPage(proc.returncode, page, b"")
                    self.assertIn(FOUND, page)
                    self.assertEqual(faultkit.read(site.path(name)), good)
                    self.assertEqual(faultkit.files_in(site.dir),
                                     ["HistPath.cfg", "data", "histobj.dat", "histsql.dat"])

    def test_web_client_gone_before_the_statement_ran(self):
        site = Site(self)
        # The SQL text is shown on the page before its statement runs; this
        # one fills the output buffer, so the page is written to a closed pipe
        # before the update.
        padding = "+" * 20000
        cases = (("SQL=update+HISTORY+set+State%3D%27X%27+where+ObjName%3D%27LICHT1%27" +
                  padding + "&" + PERIOD, lambda: self.states() == {"X"}),
                 (DELETE, lambda: site.row_count() == 0))
        self.states = lambda: {r[0] for r in sqlite3.connect(site.db).execute(
            "select State from HISTORY")}
        for query, done in cases:
            with self.subTest(query=query[:20]):
                reader, writer = os.pipe()
                os.close(reader)  # the client went away
                proc = site.start(query, stdout=writer)
                os.close(writer)
                _, err = proc.communicate(timeout=60)
                self.assertEqual(proc.returncode, 0, err)
                self.assertTrue(done())

    def test_reads_leave_the_recorder_room(self):
        site = Site(self, with_db=False)
        # Each read below takes over a second here as one statement; under an
        # emulator everything is slower, a quarter will do.
        big_history(site.db, 500000 if os.environ.get("TESTS_EMULATED") else 2000000,
                    indexes=False)
        faultkit.write(site.path("history.dat"), YEAR_SELECTION)
        year = YEAR_OF_SIX.replace("ACTION=DEL&", "")
        cases = [  # what reads, the request or None for HistSeries, seconds the client waits
            ("report", year, 0),
            ("chart data", "VIEW=JSON&" + year, 0),
            ("download", "VIEW=CSV&" + year, 0),
            ("series export", None, 0),
            ("report to a client that reads nothing for 4 s", year, 4),
        ]
        for case, query, stall in cases:
            with self.subTest(case=case):
                stop = site.path("stop")
                recorder = subprocess.Popen(
                    [sys.executable, "-c", RECORDER, site.db, stop, "now"],
                    stdout=subprocess.PIPE, text=True)
                self.addCleanup(recorder.kill)
                self.assertEqual(recorder.stdout.readline(), "ready\n")
                began = time.monotonic()
                if query is None:
                    proc = subprocess.Popen([SERIES_BIN], cwd=site.dir, env=faultkit.ENV,
                                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                else:
                    proc = site.start(query)
                time.sleep(stall)
                out, err = proc.communicate(timeout=120)
                took = time.monotonic() - began
                faultkit.write(stop, b"")
                lost, *written = map(int, recorder.communicate(timeout=60)[0].split())
                os.remove(stop)
                self.assertEqual((proc.returncode, err), (0, b""))
                self.assertGreater(len(out) if query else len(os.listdir(site.dir)), 0)
                self.assertEqual(lost, 0, "the recorder lost %d rows in %.1f s" % (lost, took))

    def test_deletion_leaves_the_recorder_room(self):
        site = Site(self, with_db=False)
        # One delete statement over this history holds the write lock about
        # 2 s here; under an emulator everything is slower, a quarter will do.
        big_history(site.db, 250000 if os.environ.get("TESTS_EMULATED") else 1000000)
        doomed = rowids(site.db, SIX_IN_THE_YEAR)
        others = rowids(site.db, "not (%s)" % SIX_IN_THE_YEAR)
        stop = site.path("stop")
        recorder = subprocess.Popen([sys.executable, "-c", RECORDER, site.db, stop],
                                    stdout=subprocess.PIPE, text=True)
        self.addCleanup(recorder.kill)
        self.assertEqual(recorder.stdout.readline(), "ready\n")
        began = time.monotonic()
        status, page, err = site.run(YEAR_OF_SIX)
        took = time.monotonic() - began
        faultkit.write(stop, b"")
        lost, *written = map(int, recorder.communicate(timeout=60)[0].split())
        self.assertPage(status, page, deleted(len(doomed)))
        self.assertEqual(err, b"")
        self.assertEqual(lost, 0, "the recorder lost %d rows in %.1f s" % (lost, took))
        self.assertGreater(len(written), 10, "%.1f s" % took)
        # Exactly the rows of the start are gone; the recorder's rows of the
        # meantime (of the same period and objects) and all others stay.
        self.assertEqual(rowids(site.db, "1"), others | set(written))
        self.assertFalse(doomed & set(written))

    def test_deletion_stopped_half_way_says_how_far_it_came(self):
        site = Site(self, with_db=False)
        big_history(site.db, 20000)
        doomed = sorted(rowids(site.db, SIX_IN_THE_YEAR))
        stuck = doomed[len(doomed) // 2]  # beyond the first slice
        con = sqlite3.connect(site.db)
        con.execute("create trigger stuck before delete on HISTORY when old.rowid = %d "
                    "begin select raise(abort, 'disk <b>I/O</b> error'); end" % stuck)
        con.commit()
        con.close()
        status, page, err = site.run(YEAR_OF_SIX)
        left = sorted(rowids(site.db, SIX_IN_THE_YEAR))
        gone = len(doomed) - len(left)
        self.assertPage(status, page, (
            "<b>Fehler: Die L\xf6schung brach ab, nur %d Datens\xe4tze wurden aus der Datenbank "
            "gel\xf6scht: disk &lt;b&gt;I/O&lt;/b&gt; error</b><hr>\n" % gone).encode("latin-1"))
        for claim in (DELETED, NOT_DELETED):
            self.assertNotIn(claim, page)
        self.assertIn(b"disk <b>I/O</b> error", err)
        # The slices before the failure are gone, in rowid order; the failed
        # slice and everything after it are kept.
        self.assertGreater(gone, 0)
        self.assertEqual(left, doomed[gone:])
        self.assertIn(stuck, left)


if __name__ == "__main__":
    unittest.main()
