"""Faults around the series export: a full disk, a database locked for longer
than the busy time-out, a file that is no database or cannot be opened, a
refused period, an object chosen twice, leftovers of a killed run and of one
just starting, and a read-only working directory. The last good series files
must stay in place, the exit status must tell, and standard error must say
why.

Needs PROGRAM_HISTSERIES_LOCALCFG and TZ=Europe/Berlin.
"""
import fcntl
import os
import sqlite3
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import faultkit  # noqa: E402
from faultkit import stamp  # noqa: E402
import time  # noqa: E402

BIN = faultkit.program("HistSeries-localcfg")

SELECTION = (b"txDateFrom=2024-03-05\ntxTimeFrom=00:00:00\ntxDateTo=2024-03-06\n"
             b"txTimeTo=00:00:00\ntxobs=small;S;C\ntxobs=big;B;N\n")
ROWS = ([(stamp("2024-03-05 10:00:00"), "SMALL", "C", "7", "7", "x", "")] +
        [(stamp("2024-03-05 00:00:00") + 60 * i, "BIG", "N", str(i), str(i), "x", "")
         for i in range(200)])
SMALL = b"Zeit, S\n2024-03-05 00:00:00,7\n2024-03-06 00:00:00,7\n"
GOOD = {"small.sqr": b"last good small\n", "big.sqr": b"last good big\n"}
# Every BIG row moves by 1, more than the deadband: each one is written.
BIG = (b"Zeit, B\n2024-03-05 00:00:00,0\n"
       + b"".join(b"%s,%d\n" % (time.strftime("%Y-%m-%d %H:%M:%S",
                                               time.gmtime(stamp("2024-03-05 00:00:00") + 60 * i))
                                 .encode(), i) for i in range(200))
       + b"2024-03-06 00:00:00,199\n")
# A process id that no process has: above the largest the kernel hands out.
with open("/proc/sys/kernel/pid_max") as f:
    NO_PROCESS = int(f.read()) + 1
KEPT = (b"HistSeries: the history query failed; small.sqr is kept as it was\n"
        b"HistSeries: the history query failed; big.sqr is kept as it was\n")


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

    def run_export(self, preexec_fn=None, status=0):
        proc = self.start(preexec_fn)
        out, err = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, status)
        self.assertEqual(out, b"")
        return err.decode("latin-1")

    def series(self):
        return {n: faultkit.read(os.path.join(self.dir, n))
                for n in os.listdir(self.dir) if ".sqr" in n}

    def test_full_disk_keeps_the_series_that_do_not_fit(self):
        faultkit.make_history(self.db, ROWS)
        # Room for the small series, not for the big one (200 lines).
        err = self.run_export(faultkit.limited_writes(4096), status=4)
        self.assertEqual(err, "HistSeries: cannot write series file big.sqr: File too large; "
                              "the previous file is kept\n")
        self.assertEqual(self.series(), {"small.sqr": SMALL, "big.sqr": GOOD["big.sqr"]})
        # No room at all: both stay.
        faultkit.write(os.path.join(self.dir, "small.sqr"), GOOD["small.sqr"])
        err = self.run_export(faultkit.limited_writes(0), status=4)
        self.assertEqual(err.count("the previous file is kept\n"), 2)
        self.assertEqual(self.series(), GOOD)
        # With room again, both are replaced.
        self.assertEqual(self.run_export(), "")
        self.assertEqual(self.series()["small.sqr"], SMALL)
        self.assertEqual(self.series()["big.sqr"].count(b"\n"), 203)

    def test_runs_that_must_not_pass_for_a_fresh_export(self):
        """Each row: what is wrong, the exit status, standard error, and every
        file of the series afterwards (the last good ones, or new ones byte for
        byte)."""
        period = SELECTION[SELECTION.index(b"txobs"):]
        cases = [
            ("month 13", b"txDateFrom=2024-13-05\ntxTimeFrom=00:00:00\n"
             b"txDateTo=2024-03-06\ntxTimeTo=00:00:00\n" + period, None, 1,
             'HistSeries: the period end "2024-13-05 00:00:00" is no readable date; '
             'no series file written\n', GOOD),
            ("reversed period", b"txDateFrom=2024-03-06\ntxTimeFrom=00:00:00\n"
             b"txDateTo=2024-03-05\ntxTimeTo=00:00:00\n" + period, None, 1,
             "HistSeries: the period starts (2024-03-06 00:00:00) after it ends "
             "(2024-03-05 00:00:00); no series file written\n", GOOD),
            ("no HISTORY table", SELECTION, "no table", 3,
             "SQL error creating table: no such table: HISTORY\n" + KEPT.decode(), GOOD),
            ("locked past the time-out", SELECTION, "locked", 3,
             "SQL error creating table: database is locked\n" + KEPT.decode(), GOOD),
            ("no database", SELECTION, "no database", 3,
             "SQL error creating table: file is not a database\n" + KEPT.decode(), GOOD),
            ("same object twice", SELECTION + b"txobs=small;Again;N\ntxobs=SMALL;Upper;C\n",
             None, 0, 'HistSeries: object "small" is chosen again; that later entry is ignored\n'
             'HistSeries: object "SMALL" is chosen again; that later entry is ignored\n',
             {"small.sqr": SMALL, "big.sqr": BIG}),
            ("leftovers of a killed run", SELECTION, "leftovers", 0, "",
             {"small.sqr": SMALL, "big.sqr": BIG, "big.sqr.LiVe01": b"a running export\n",
              "small.sqr.keep": b"not ours\n", "other.sqr.Ab12Cd": b"not chosen\n",
              # Just created by a running export that has not locked it yet.
              "small.sqr.%d.LiVe02" % os.getpid(): b"a starting export\n"}),
        ]
        for name, selection, fault, status, stderr, files in cases:
            with self.subTest(case=name):
                for leftover in self.series():
                    os.remove(os.path.join(self.dir, leftover))
                for series, data in GOOD.items():
                    faultkit.write(os.path.join(self.dir, series), data)
                faultkit.write(os.path.join(self.dir, "history.dat"), selection)
                if os.path.exists(self.db):
                    os.remove(self.db)
                if fault == "no table":
                    sqlite3.connect(self.db).execute("create table OTHER (x)").connection.close()
                else:
                    faultkit.make_history(self.db, ROWS)
                if fault == "no database":
                    faultkit.write(self.db, b"no database here\n" * 100)
                holder = held = None
                if fault == "locked":
                    holder = sqlite3.connect(self.db, isolation_level=None, timeout=0)
                    holder.execute("begin exclusive")
                if fault == "leftovers":
                    for leftover in ("small.sqr.Ab12Cd", "big.sqr.x9Y8z7", "big.sqr.000000",
                                     "big.sqr.%d.Ab12Cd" % NO_PROCESS):
                        faultkit.write(os.path.join(self.dir, leftover), b"cut short")
                    for leftover in files:
                        if leftover not in ("small.sqr", "big.sqr"):
                            faultkit.write(os.path.join(self.dir, leftover), files[leftover])
                    held = open(os.path.join(self.dir, "big.sqr.LiVe01"), "rb")
                    fcntl.flock(held, fcntl.LOCK_EX)
                try:
                    err = self.run_export(status=status)
                finally:
                    if holder is not None:
                        holder.execute("rollback")
                        holder.close()
                    if held is not None:
                        held.close()
                self.assertEqual(err, stderr)
                self.assertEqual(self.series(), files)

    def test_runs_without_the_rights_they_need(self):
        """Each row: the mode of the working directory and of history.db, the
        exit status, standard error. The last good series files stay."""
        demote, reason = faultkit.unprivileged()
        if reason:
            self.skipTest(reason)
        faultkit.make_history(self.db, ROWS)
        self.addCleanup(os.chmod, self.dir, 0o700)
        cases = [
            ("read-only working directory", 0o555, 0o666, 4,
             "HistSeries: cannot create series file small.sqr: Permission denied\n"
             "HistSeries: cannot create series file big.sqr: Permission denied\n"),
            # Only a missing history file is no data.
            ("history.db that cannot be opened", 0o777, 0o000, 3,
             "Error opening %s : Permission denied\n" % self.db + KEPT.decode()),
        ]
        for name, dir_mode, db_mode, status, stderr in cases:
            with self.subTest(case=name):
                os.chmod(self.dir, dir_mode)
                os.chmod(self.db, db_mode)
                self.assertEqual(self.run_export(demote, status=status), stderr)
                self.assertEqual(self.series(), GOOD)


if __name__ == "__main__":
    unittest.main()
