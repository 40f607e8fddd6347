"""Load: 40 overlapping report requests through a real lighttpd (mod_cgi,
HistQuery.ksq) while another process keeps inserting rows into history.db and
a reader keeps reading the selection files.

Every page must be complete, say what really happened (a failing statement is
never "erfolgreich", a deletion confirmed only once done), every inserted row
must be in the database afterwards, and the selection files are always one of
the complete versions the requests write.

Needs PROGRAM_HISTQUERY_LOCALCFG and TZ=Europe/Berlin. The server
listens on a loopback address of this run at a free port.
"""
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import threading
import time
import unittest
import urllib.request
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import faultkit  # noqa: E402
from faultkit import stamp  # noqa: E402

BIN = faultkit.program("HistQuery-localcfg")
REQUESTS = 40
WORKERS = 8
MAX_INSERTS = 3000

END = b"</body></html>\n"
FOUND = "Datens\xe4tze gefunden".encode("latin-1")
SQL_DONE = b"Verarbeitung erfolgreich beendet"
DELETED = "<b>Die ausgew\xe4hlten Daten wurden aus der Datenbank gel\xf6scht</b>\n".encode("latin-1")
FAILED = b"<br><hr>Fehler bei der Datenbankabfrage<br><hr>\n"
# Eight requests at once share two turns to read: on a loaded machine one may
# wait out its 3 s and say so, in full, and that is all it does.
BUSY = (b"<br><hr>Fehler: Die Historie wird gerade von anderen Anfragen gelesen. Bitte "
        b"versuchen Sie es gleich noch einmal.<br><hr>\n")

PERIOD = "txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59"
SAVED_PERIOD = (b"txDateFrom=2024-03-05\ntxTimeFrom=00:00:00\ntxDateTo=2024-03-05\n"
                b"txTimeTo=23:59:00\n")
BASE = [(stamp("2024-03-05 %02d:%02d:00" % (h, m)), name, "N", "1", "1", "Taster", "")
        for h in range(1, 23) for m in (0, 30) for name in ("LICHT1", "HEIZUNG")]
GONE = ["GONE%d" % i for i in range(5)]
BASE += [(stamp("2024-03-05 12:00:00") + i, name, "N", "0", "0", "Zentrale", "")
         for i, name in enumerate(GONE)]

# The inserting process: LIVE rows inside the period, one per transaction,
# until told to stop or MAX_INSERTS are in. It prints how many it inserted.
INSERTER = r"""
import sqlite3, sys, time
db, first, limit, stop = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
con = sqlite3.connect(db, timeout=30, isolation_level=None)
done = 0
import os
while done < limit and not os.path.exists(stop):
    con.execute("insert into HISTORY values (?, 'LIVE', 'N', ?, ?, 'Sensor', '')",
                (first + done, str(done), str(done)))
    done += 1
    time.sleep(0.002)
print(done, flush=True)
"""


def object_request(label):
    query = PERIOD + "&obj=LICHT1%3B" + label + "%3BN&obj=LIVE%3BLive%3BN"
    saved = SAVED_PERIOD + b"obj=LICHT1;" + label.encode() + b";N\nobj=LIVE;Live;N\n"
    return query, saved


def sql_request(text):
    query = "SQL=" + text.replace(" ", "+") + "&" + PERIOD
    return query, SAVED_PERIOD + b"SQL=" + text.encode() + b"\n"


class LoadTest(unittest.TestCase):
    def setUp(self):
        lighttpd = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
        if not os.path.exists(lighttpd):
            self.skipTest("lighttpd is not installed")
        self.dir = faultkit.scratch(self, "faults_load.")
        self.root = os.path.join(self.dir, "www")
        self.data = os.path.join(self.dir, "data")
        os.mkdir(self.root)
        os.mkdir(self.data)
        self.db = os.path.join(self.data, "history.db")
        faultkit.make_history(self.db, BASE)
        faultkit.write(os.path.join(self.root, "HistPath.cfg"), (self.data + "\n").encode())
        shutil.copy(BIN, os.path.join(self.root, "HistQuery.ksq"))
        self.address = faultkit.loopback_address()
        self.port = faultkit.free_port(self.address)
        conf = os.path.join(self.dir, "lighttpd.conf")
        with open(conf, "w") as f:
            f.write('server.modules = ("mod_cgi")\n'
                    'server.document-root = "%s"\n'
                    'server.bind = "%s"\n'
                    'server.port = %d\n'
                    'server.errorlog = "%s/error.log"\n'
                    'server.max-worker = 0\n'
                    'cgi.assign = (".ksq" => "")\n'
                    % (self.root, self.address, self.port, self.dir))
            if os.geteuid() == 0:
                f.write('server.username = "nobody"\nserver.groupname = "nogroup"\n')
        if os.geteuid() == 0:
            faultkit.open_to_all(self.dir, self.root, self.data, self.db)
        self.server = subprocess.Popen([lighttpd, "-D", "-f", conf], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE)
        self.addCleanup(self.stop_server)
        for _ in range(100):
            try:
                socket.create_connection((self.address, self.port), timeout=1).close()
                break
            except OSError:
                if self.server.poll() is not None:
                    self.fail("lighttpd ended: " + self.server.stderr.read().decode())
                time.sleep(0.05)

    def stop_server(self):
        self.server.terminate()
        self.server.wait(timeout=10)
        self.server.stderr.close()

    def live_rows(self):
        con = sqlite3.connect(self.db, timeout=30)
        try:
            return con.execute("select count(*) from HISTORY where ObjName = 'LIVE'").fetchone()[0]
        finally:
            con.close()

    def get(self, query):
        url = "http://%s:%d/HistQuery.ksq?%s" % (self.address, self.port, query)
        # Deletions and SQL texts run when the report's own page sent them.
        referer = "http://%s:%d/HistQuery.ksq" % (self.address, self.port)
        request = urllib.request.Request(url, headers={"Referer": referer})
        with urllib.request.urlopen(request, timeout=60) as response:
            return response.status, response.read()

    def test_overlapping_requests_while_rows_are_inserted(self):
        kinds = []
        saved = {"histobj.dat": set(), "histsql.dat": set()}
        for i in range(REQUESTS):
            kind = ("report", "sql", "bad sql", "delete", "report")[i % 5]
            if kind == "report":
                query, content = object_request("Raum%d" % (i % 3))
                saved["histobj.dat"].add(content)
            elif kind == "sql":
                query, content = sql_request("select ObjName, Value from HISTORY where "
                                             "ObjName='LIVE'")
                saved["histsql.dat"].add(content)
            elif kind == "bad sql":
                query, content = sql_request("select nothing from NOWHERE where 1")
                saved["histsql.dat"].add(content)
            else:
                name = GONE[(i // 5) % len(GONE)]
                query = "ACTION=DEL&" + PERIOD + "&obj=" + name + ";x;N"
                saved["histobj.dat"].add(SAVED_PERIOD + b"obj=" + name.encode() + b";x;N\n")
            kinds.append((kind, query))

        stop = os.path.join(self.dir, "stop")
        inserter = subprocess.Popen(
            [sys.executable, "-c", INSERTER, self.db, str(stamp("2024-03-05 06:00:00")),
             str(MAX_INSERTS), stop], stdout=subprocess.PIPE, env=faultkit.ENV)
        self.addCleanup(inserter.wait, 60)
        self.addCleanup(faultkit.write, stop, b"")

        seen = []
        reading = threading.Event()
        reading.set()

        def read_selection_files():
            while reading.is_set():
                for name in saved:
                    try:
                        content = faultkit.read(os.path.join(self.root, name))
                    except FileNotFoundError:
                        continue
                    seen.append((name, content))
                time.sleep(0.001)

        reader = threading.Thread(target=read_selection_files)
        reader.start()
        try:
            # The inserter is under way: its first row is in (an SQL page
            # without rows has no count to check).
            deadline = time.monotonic() + 30
            while not self.live_rows() and time.monotonic() < deadline:
                time.sleep(0.01)
            with ThreadPoolExecutor(WORKERS) as pool:
                pages = list(pool.map(lambda kq: self.get(kq[1]), kinds))
        finally:
            reading.clear()
            reader.join()
            faultkit.write(stop, b"")
        inserted = int(inserter.communicate(timeout=60)[0])

        refused = []
        for (kind, query), (status, page) in zip(kinds, pages):
            with self.subTest(kind=kind, query=query[:40]):
                self.assertEqual(status, 200)
                self.assertTrue(page.startswith(b"<!DOCTYPE HTML>"))
                self.assertTrue(page.endswith(END), page[-120:])
                if kind != "delete" and page.endswith(BUSY + END):
                    self.assertNotIn(FOUND, page)
                    refused.append(kind)
                elif kind == "report":
                    lines = page.count(b" <-[")
                    self.assertGreaterEqual(lines, len(BASE) // 2 - len(GONE))
                    # The rows the recorder adds may make it a first page of several.
                    self.assertTrue(b"<br><hr>%d " % lines + FOUND in page or
                                    b"<br><hr>Datens\xe4tze 1 bis %d von mehr als %d.<br><hr>"
                                    % (lines, lines) in page, page[-300:])
                elif kind == "sql":
                    rows = page.count(b"<tr><td>")
                    self.assertIn(b"<hr>%d " % rows + FOUND, page)
                elif kind == "bad sql":
                    self.assertTrue(page.endswith(FAILED + END))
                    self.assertNotIn(FOUND, page)
                    self.assertNotIn(SQL_DONE, page)
                else:
                    self.assertRegex(page, DELETED + rb"<br>\d+ Datens\xe4tze wurden gel\xf6scht.<br>\n"
                                     + END + rb"$")

        # A refusal is the exception: every kind of request was answered.
        for kind in set(k for k, _ in kinds):
            self.assertLess(refused.count(kind), [k for k, _ in kinds].count(kind), kind)
        self.assertGreater(inserted, 0)
        self.assertGreater(len(seen), 0)
        for name, content in seen:
            self.assertIn(content, saved[name], name)
        con = sqlite3.connect(self.db)
        live = [r[0] for r in con.execute("select Value from HISTORY where ObjName='LIVE' "
                                          "order by TimeStamp")]
        others = con.execute("select count(*) from HISTORY where ObjName<>'LIVE'").fetchone()[0]
        con.close()
        self.assertEqual(live, [str(i) for i in range(inserted)])
        self.assertEqual(others, len(BASE) - len(GONE))
        # No temporary selection file is left behind.
        self.assertEqual(sorted(n for n in faultkit.files_in(self.root) if ".dat" in n),
                         ["histobj.dat", "histsql.dat"])


if __name__ == "__main__":
    unittest.main()
