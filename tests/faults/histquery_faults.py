"""Faults around the history report: a database locked for longer than the
busy time-out, a file that is no database, a read-only working or data
directory, a full disk for the selection files and a web client that goes
away. Each run must end its page, claim nothing that did not happen and keep
the last good files.

Needs PROGRAM_HISTQUERY_LOCALCFG and TZ=Europe/Berlin.
"""
import os
import sqlite3
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import faultkit  # noqa: E402
from faultkit import stamp  # noqa: E402

BIN = faultkit.program("HistQuery-localcfg")

END = b"</body></html>\n"
FOUND = "Datens\xe4tze gefunden".encode("latin-1")
SQL_DONE = b"Verarbeitung erfolgreich beendet"
NO_DATA = "<b>Es gibt keine Daten f\xfcr den ausgew\xe4hlten Zeitraum</b><hr>\n".encode("latin-1")
DELETED = "<b>Die ausgew\xe4hlten Daten wurden aus der Datenbank gel\xf6scht</b>\n".encode("latin-1")
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
        self.assertTrue(page.startswith(b"Content-type: text/html\n\n<!DOCTYPE HTML>"))
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
        self.assertPage(status, page, DELETED)
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


if __name__ == "__main__":
    unittest.main()
