"""Faults around the series export: a full disk, a database locked for longer
than the busy time-out, a file that is no database and a read-only working
directory. The last good series files must stay in place, and standard error
must say why.

Needs HISTSERIES (HistSeries-localcfg) and TZ=Europe/Berlin.
"""
import os
import sqlite3
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import faultkit  # noqa: E402
from faultkit import stamp  # noqa: E402

BIN = faultkit.program("HISTSERIES")

SELECTION = (b"txDateFrom=2024-03-05\ntxTimeFrom=00:00:00\ntxDateTo=2024-03-06\n"
             b"txTimeTo=00:00:00\ntxobs=small;S;C\ntxobs=big;B;N\n")
ROWS = ([(stamp("2024-03-05 10:00:00"), "SMALL", "C", "7", "7", "x", "")] +
        [(stamp("2024-03-05 00:00:00") + 60 * i, "BIG", "N", str(i), str(i), "x", "")
         for i in range(200)])
SMALL = b"Zeit, S\n2024-03-05 00:00:00,7\n2024-03-06 00:00:00,7\n"
GOOD = {"small.sqr": b"last good small\n", "big.sqr": b"last good big\n"}


class HistSeriesFaults(unittest.TestCase):
    def setUp(self):
        self.dir = faultkit.scratch(self, "faults_histseries.")
        self.db = os.path.join(self.dir, "history.db")
        faultkit.write(os.path.join(self.dir, "HistPath.cfg"), (self.dir + "\n").encode())
        faultkit.write(os.path.join(self.dir, "history.dat"), SELECTION)
        for name, data in GOOD.items():
            faultkit.write(os.path.join(self.dir, name), data)

    def start(self, preexec_fn=None):
        return subprocess.Popen([BIN], cwd=self.dir, env=faultkit.ENV, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=preexec_fn)

    def run_export(self, preexec_fn=None):
        proc = self.start(preexec_fn)
        out, err = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(out, b"")
        return err.decode("latin-1")

    def series(self):
        return {n: faultkit.read(os.path.join(self.dir, n))
                for n in os.listdir(self.dir) if ".sqr" in n}

    def test_full_disk_keeps_the_series_that_do_not_fit(self):
        faultkit.make_history(self.db, ROWS)
        # Room for the small series, not for the big one (200 lines).
        err = self.run_export(faultkit.limited_writes(4096))
        self.assertEqual(err, "HistSeries: cannot write series file big.sqr: File too large; "
                              "the previous file is kept\n")
        self.assertEqual(self.series(), {"small.sqr": SMALL, "big.sqr": GOOD["big.sqr"]})
        # No room at all: both stay.
        faultkit.write(os.path.join(self.dir, "small.sqr"), GOOD["small.sqr"])
        err = self.run_export(faultkit.limited_writes(0))
        self.assertEqual(err.count("the previous file is kept\n"), 2)
        self.assertEqual(self.series(), GOOD)
        # With room again, both are replaced.
        self.assertEqual(self.run_export(), "")
        self.assertEqual(self.series()["small.sqr"], SMALL)
        self.assertEqual(self.series()["big.sqr"].count(b"\n"), 203)

    def test_failed_query_keeps_the_series(self):
        for fault in ("locked", "no database"):
            with self.subTest(fault=fault):
                if os.path.exists(self.db):
                    os.remove(self.db)
                faultkit.make_history(self.db, ROWS)
                holder = None
                if fault == "locked":
                    holder = sqlite3.connect(self.db, isolation_level=None, timeout=0)
                    holder.execute("begin exclusive")
                else:
                    faultkit.write(self.db, b"no database here\n" * 100)
                try:
                    err = self.run_export()
                finally:
                    if holder is not None:
                        holder.execute("rollback")
                        holder.close()
                self.assertIn("locked" if holder else "not a database", err)
                self.assertIn("HistSeries: the history query failed; small.sqr is kept as it "
                              "was\n", err)
                self.assertIn("big.sqr is kept as it was\n", err)
                self.assertEqual(self.series(), GOOD)

    def test_read_only_working_directory(self):
        demote, reason = faultkit.unprivileged()
        if reason:
            self.skipTest(reason)
        faultkit.make_history(self.db, ROWS)
        faultkit.open_to_all(self.db)
        os.chmod(self.dir, 0o555)
        self.addCleanup(os.chmod, self.dir, 0o700)
        err = self.run_export(demote)
        self.assertEqual(err, "HistSeries: cannot create series file small.sqr: Permission denied\n"
                              "HistSeries: cannot create series file big.sqr: Permission denied\n")
        self.assertEqual(self.series(), GOOD)


if __name__ == "__main__":
    unittest.main()
