"""End-to-end tests of HistSeries: the built program runs as a process in its
own scratch working directory over a real SQLite history file, and every
series file is compared byte for byte.

Run by CTest with one test class as argument; runs the HistSeries-localcfg
program (which reads HistPath.cfg in its working directory) as
tests/testkit.py's program() finds it.
"""
import os
import random
import sqlite3
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
import testkit  # noqa: E402
from testkit import stamp  # noqa: E402

PROGRAM = testkit.program("HistSeries-localcfg")


def shown(t):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(t))


def lines(*items):
    return "".join(item + "\n" for item in items).encode("latin-1")


class Scratch(unittest.TestCase):
    """A working directory with HistPath.cfg naming itself, history.db and a
    selection file, all made per test."""

    def setUp(self):
        self.dir = testkit.scratch(self, "histseries_e2e.")
        self.write("HistPath.cfg", (self.dir + "\n").encode())

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def make_db(self, rows, name="history.db"):
        """rows: (TimeStamp, ObjName, Value, State)."""
        testkit.make_history(self.path(name),
                             [(t, obj, "N", value, "1", "Taster", state)
                              for t, obj, value, state in rows])

    def run_export(self, *args, status=0, env=None):
        result = testkit.run([PROGRAM, *args], env=env, cwd=self.dir, timeout=120)
        self.assertEqual(result.returncode, status)
        return result

    def series_files(self):
        return sorted(n for n in os.listdir(self.dir) if n.endswith(".sqr"))

    def assertSeries(self, expected):
        """expected: file name -> bytes; no other series file may exist."""
        self.assertEqual(self.series_files(), sorted(expected))
        for name, data in expected.items():
            self.assertEqual(self.read(name), data, name)


DAY_SELECTION = lines("txDateFrom=2024-03-01", "txTimeFrom=08:00:00",
                      "txDateTo=2024-03-02", "txTimeTo=08:00:00")


class ExportTest(Scratch):
    def test_objects_of_every_kind(self):
        s = stamp
        self.make_db([
            (s("2024-03-01 07:59:59"), "TEMP1", "5.0", ""),      # before the start
            (s("2024-03-01 08:00:00"), "TEMP1", "20.0", ""),     # first second of the period
            (s("2024-03-01 08:00:10"), "TEMP1", "20.05", ""),    # thinned away
            (s("2024-03-01 08:00:20"), "TEMP1", "20.2", ""),
            (s("2024-03-01 08:00:30"), "TEMP1", "30.0", "X"),    # left out
            (s("2024-03-01 08:30:21"), "TEMP1", "20.2", ""),     # more than 1800 s later
            (s("2024-03-02 08:00:00"), "TEMP1", "21.0", ""),     # last second of the period
            (s("2024-03-02 08:00:01"), "TEMP1", "99.0", ""),     # behind the end
            (s("2024-03-01 09:00:00"), "MODE", "a", ""),
            (s("2024-03-01 09:10:00"), "MODE", "a", ""),
            (s("2024-03-01 09:20:00"), "MODE", "b", "X"),
            (s("2024-03-01 09:30:00"), "MODE", "b", ""),
            (s("2024-03-01 10:00:00"), "SW", "1.0", ""),
            (s("2024-03-01 10:05:00"), "SW", "0.0", ""),
            (s("2024-03-01 10:10:00"), "SW", "0.0", ""),
            (s("2024-03-01 10:00:00"), "OTHER", "1.0", ""),      # not chosen
            (s("2024-03-01 11:00:00"), "odd", "1.0", ""),        # stored names are upper-case
        ])
        self.write("history.dat", lines(
            "txobs=temp1;Temperatur K\xfcche;N", "txobs=MODE;Modus;C", "txobs=SW;Schalter;U",
            "txobs=odd;Odd;N", "txobs=quiet;Still;N", "txobs=kindless;Ohne") + DAY_SELECTION)
        result = self.run_export()
        self.assertEqual(result.stdout, b"")
        self.assertEqual(result.stderr, b"")
        closing_blank = lines("2024-03-02 08:00:00, ")
        self.assertSeries({
            "temp1.sqr": lines("Zeit, Temperatur K\xfcche", "2024-03-01 08:00:00,20.0",
                               "2024-03-01 08:00:00,20.0", "2024-03-01 08:00:20,20.2",
                               "2024-03-01 08:30:21,20.2", "2024-03-02 08:00:00,21.0",
                               "2024-03-02 08:00:00,21.0"),
            "MODE.sqr": lines("Zeit, Modus", "2024-03-01 08:00:00,a", "2024-03-01 09:30:00,a",
                              "2024-03-01 09:30:00,b", "2024-03-02 08:00:00,b"),
            "SW.sqr": lines("Zeit, Schalter", "2024-03-01 08:00:00,0", "2024-03-01 10:00:00,0",
                            "2024-03-01 10:00:00,1", "2024-03-01 10:05:00,1",
                            "2024-03-01 10:05:00,0", "2024-03-01 10:10:00,0",
                            "2024-03-02 08:00:00,0"),
            "odd.sqr": closing_blank,
            "quiet.sqr": closing_blank,
            "kindless.sqr": closing_blank,
        })

    def test_series_files_are_replaced(self):
        self.make_db([(stamp("2024-03-01 09:00:00"), "A", "x", "")])
        self.write("a.sqr", b"old content that is much longer than the new one\n" * 10)
        self.write("history.dat", lines("txobs=a;A;C") + DAY_SELECTION)
        self.run_export()
        self.assertSeries({"a.sqr": lines("Zeit, A", "2024-03-01 08:00:00,x",
                                          "2024-03-02 08:00:00,x")})

    def test_null_and_long_values(self):
        long_value = "0123456789abcdefghijklmnopqrstuvwxyz"  # 36 bytes: cut to 31
        self.make_db([
            (stamp("2024-03-01 09:00:00"), "N1", None, ""),
            (stamp("2024-03-01 09:00:00"), "C1", "value-one-long", ""),
            (stamp("2024-03-01 09:01:00"), "C1", "value-one-longer", None),  # no State
            (stamp("2024-03-01 09:02:00"), "C1", long_value, ""),
            (stamp("2024-03-01 09:00:00"), "U1", "1", ""),
            (None, "C1", "never", ""),
        ])
        self.write("history.dat", lines("txobs=n1;N;N", "txobs=c1;C;C", "txobs=u1;U;U")
                   + DAY_SELECTION)
        result = self.run_export()
        self.assertEqual(result.stderr, b"")
        cut = long_value[:31]
        self.assertSeries({
            "n1.sqr": lines("Zeit, N", "2024-03-01 08:00:00,", "2024-03-01 09:00:00,",
                            "2024-03-02 08:00:00,"),
            "c1.sqr": lines("Zeit, C", "2024-03-01 08:00:00,value-one-long",
                            "2024-03-01 09:01:00,value-one-long",
                            "2024-03-01 09:01:00,value-one-longer",
                            "2024-03-01 09:02:00,value-one-longer", "2024-03-01 09:02:00," + cut,
                            "2024-03-02 08:00:00," + cut),
            "u1.sqr": lines("Zeit, U", "2024-03-01 08:00:00,0", "2024-03-01 09:00:00,0",
                            "2024-03-01 09:00:00,", "2024-03-02 08:00:00,"),
        })


class RequestTest(Scratch):
    ROWS = [(stamp("2024-03-01 12:30:00"), "A", "1", ""),
            (stamp("2024-03-03 10:00:00"), "A", "2", "")]

    def test_period_from_the_request(self):
        self.make_db(self.ROWS)
        self.write("sel.dat", lines("txobs=a;A;C"))
        self.run_export("DFW=sel.dat&txDateFrom=2024-03-01&txTimeFrom=12%3A30"
                        "&txDateTo=2024-03-03&txTimeTo=09%3A59%3A59")
        self.assertSeries({"a.sqr": lines("Zeit, A", "2024-03-01 12:30:00,1",
                                          "2024-03-03 09:59:59,1")})

    def test_period_of_the_selection_file_takes_precedence(self):
        self.make_db(self.ROWS)
        self.write("sel.dat", lines("txobs=a;A;C", "txDateTo=2024-03-04", "txTimeTo=00:00:00"))
        self.run_export("DFW=sel.dat&txDateFrom=2024-03-01&txTimeFrom=12:30"
                        "&txDateTo=2024-03-02&txTimeTo=00:00")
        self.assertSeries({"a.sqr": lines("Zeit, A", "2024-03-01 12:30:00,1",
                                          "2024-03-03 10:00:00,1", "2024-03-03 10:00:00,2",
                                          "2024-03-04 00:00:00,2")})

    def test_history_vid_when_the_named_file_is_missing(self):
        self.make_db(self.ROWS)
        self.write("history.dat", lines("txobs=dat;D;C") + DAY_SELECTION)
        self.write("history.vid", lines("txobs=vid;V;C") + DAY_SELECTION)
        for request in ("DFW=missing.dat", "txDateFrom=2024-03-01"):
            self.run_export(request)
            self.assertSeries({"vid.sqr": lines("2024-03-02 08:00:00, ")})
        os.remove(self.path("vid.sqr"))
        self.run_export()
        self.assertSeries({"dat.sqr": lines("2024-03-02 08:00:00, ")})
        os.remove(self.path("history.dat"))
        os.remove(self.path("dat.sqr"))
        self.run_export()
        self.assertSeries({"vid.sqr": lines("2024-03-02 08:00:00, ")})

    def test_help_and_version_only_as_sole_argument(self):
        help_run = self.run_export("--help")
        self.assertTrue(help_run.stdout.startswith(b"HistSeries: exports the history"))
        self.assertIn(b"\nUsage: HistSeries [REQUEST]", help_run.stdout)
        version = self.run_export("--version")
        self.assertRegex(version.stdout, rb"^HistSeries \d+\.\d+\.\d+\n$")
        self.assertEqual(self.series_files(), [])
        # With a second argument the first is a request again: no DFW, no
        # selection file, no period.
        other = self.run_export("--version", "extra", status=1)
        self.assertEqual(other.stdout, b"")
        self.assertIn(b"no usable period", other.stderr)


class FailuresTest(Scratch):
    def choose(self, *objects):
        self.write("history.dat", lines(*("txobs=" + o for o in objects)) + DAY_SELECTION)

    def test_missing_or_empty_configuration(self):
        self.make_db([(stamp("2024-03-01 09:00:00"), "A", "1", "")])
        self.choose("a;A;N")
        os.remove(self.path("HistPath.cfg"))
        result = self.run_export(status=2)
        self.assertEqual(result.stdout, b"Error opening HistPath.cfg<br>")
        self.assertEqual(self.series_files(), [])
        for content in (b"", b"\n \n"):
            self.write("HistPath.cfg", content)
            result = self.run_export(status=2)
            self.assertEqual(result.stdout, b"Datei HistPath.cfg ist leer<br>")
            self.assertEqual(self.series_files(), [])

    def test_missing_database(self):
        self.choose("a;A;N", "b;B;C")
        result = self.run_export()
        self.assertEqual((result.stdout, result.stderr), (b"", b""))
        self.assertFalse(os.path.exists(self.path("history.db")))
        closing = lines("2024-03-02 08:00:00, ")
        self.assertSeries({"a.sqr": closing, "b.sqr": closing})

    def test_database_without_history_table(self):
        db = sqlite3.connect(self.path("history.db"))
        db.execute("create table OTHER (x)")
        db.close()
        self.choose("a;A;N")
        result = self.run_export(status=3)
        self.assertEqual(result.stderr, b"SQL error creating table: no such table: HISTORY\n")
        self.assertSeries({"a.sqr": lines("2024-03-02 08:00:00, ")})

    def test_object_names_that_are_no_plain_file_names(self):
        os.mkdir(self.path("sub"))
        self.make_db([(stamp("2024-03-01 09:00:00"), "SUB/X", "1", ""),
                      (stamp("2024-03-01 09:00:00"), "OK", "2", ""),
                      (stamp("2024-03-01 09:00:00"), "O'K", "3", "")])
        self.choose("sub/x;S;C", "../up;U;C", "..;D;C", "ok;K;C", "o'k;Q;C")
        result = self.run_export(status=4)
        self.assertEqual(result.stderr, (
            b'HistSeries: object name "sub/x" is not a plain file name; no series file for it\n'
            b'HistSeries: object name "../up" is not a plain file name; no series file for it\n'
            b'HistSeries: object name ".." is not a plain file name; no series file for it\n'))
        self.assertEqual(os.listdir(self.path("sub")), [])
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(self.dir), "up.sqr")))
        self.assertSeries({
            "ok.sqr": lines("Zeit, K", "2024-03-01 08:00:00,2", "2024-03-02 08:00:00,2"),
            "o'k.sqr": lines("Zeit, Q", "2024-03-01 08:00:00,3", "2024-03-02 08:00:00,3"),
        })

    def test_series_file_that_cannot_be_created(self):
        os.mkdir(self.path("busy.sqr"))
        self.make_db([(stamp("2024-03-01 09:00:00"), "BUSY", "1", ""),
                      (stamp("2024-03-01 09:00:00"), "OK", "2", "")])
        self.choose("busy;B;C", "ok;K;C")
        result = self.run_export(status=4)
        self.assertEqual(result.stderr,
                         b"HistSeries: cannot create series file busy.sqr: Is a directory\n")
        self.assertEqual(self.read("ok.sqr"),
                         lines("Zeit, K", "2024-03-01 08:00:00,2", "2024-03-02 08:00:00,2"))

    def test_no_usable_period(self):
        self.make_db([(stamp("2024-03-01 09:00:00"), "A", "1", "")])
        cases = [
            (lines("txobs=a;A;N"), (), b'(from "", to "")'),
            (lines("txobs=a;A;N", "txDateFrom=2024-03-01", "txTimeFrom=08:00:00"), (),
             b'(from "2024-03-01 08:00:00", to "")'),
            (lines("txobs=a;A;N"), ("txDateFrom=2024-03-01&txTimeFrom=08:00&txDateTo=24-3-2"
                                    "&txTimeTo=09:00",), b'(from "2024-03-01 08:00:00", to "")'),
        ]
        for selection, args, detail in cases:
            self.write("history.dat", selection)
            result = self.run_export(*args, status=1)
            self.assertEqual(result.stdout, b"")
            self.assertEqual(result.stderr, b"HistSeries: no usable period " + detail
                             + b"; no series file written\n")
            self.assertEqual(self.series_files(), [])


class PeriodTest(Scratch):
    def export_c(self, date_from, time_from, date_to, time_to, rows):
        self.make_db([(stamp(t), "A", v, "") for t, v in rows])
        self.write("history.dat", lines("txobs=a;A;C", "txDateFrom=" + date_from,
                                        "txTimeFrom=" + time_from, "txDateTo=" + date_to,
                                        "txTimeTo=" + time_to))
        self.assertEqual(self.run_export().stderr, b"")
        return self.read("a.sqr")

    def test_end_of_a_period_into_winter_time(self):
        # Summer time ends on 2026-10-25 at 03:00: the end keeps its own offset.
        data = self.export_c("2026-10-24", "12:00:00", "2026-10-25", "12:00:00", [
            ("2026-10-24 11:59:59", "early"), ("2026-10-24 12:00:00", "s"),
            ("2026-10-25 12:00:00", "e"), ("2026-10-25 12:00:01", "late1"),
            ("2026-10-25 12:30:00", "late2")])
        self.assertEqual(data, lines("Zeit, A", "2026-10-24 12:00:00,s",
                                     "2026-10-25 12:00:00,s", "2026-10-25 12:00:00,e",
                                     "2026-10-25 12:00:00,e"))

    def test_end_of_a_period_into_summer_time(self):
        # Summer time begins on 2026-03-29 at 02:00: the last hour is not lost.
        data = self.export_c("2026-03-28", "12:00:00", "2026-03-29", "12:00:00", [
            ("2026-03-28 12:00:00", "s"), ("2026-03-29 11:30:00", "m"),
            ("2026-03-29 12:00:00", "e"), ("2026-03-29 12:00:01", "late")])
        self.assertEqual(data, lines("Zeit, A", "2026-03-28 12:00:00,s",
                                     "2026-03-29 11:30:00,s", "2026-03-29 11:30:00,m",
                                     "2026-03-29 12:00:00,m", "2026-03-29 12:00:00,e",
                                     "2026-03-29 12:00:00,e"))

    def test_a_period_covers_its_own_days_in_every_zone(self):
        rows = [(stamp(t), "A", v, "") for t, v in (
            ("2026-12-02 23:59:59", "before"), ("2026-12-03 00:00:00", "first"),
            ("2026-12-03 23:59:59", "last"), ("2026-12-04 00:00:00", "after"))]
        self.make_db(rows)
        self.write("history.dat", lines("txobs=a;A;C", "txDateFrom=2026-12-03",
                                        "txTimeFrom=00:00:00", "txDateTo=2026-12-03",
                                        "txTimeTo=23:59:59"))
        # West of UTC, with half hours, and in the southern summer time.
        for zone in ("Europe/Berlin", "UTC", "America/New_York", "Asia/Kolkata",
                     "Pacific/Auckland"):
            with self.subTest(zone=zone):
                self.run_export(env={"TZ": zone})
                self.assertEqual(self.read("a.sqr"), lines(
                    "Zeit, A", "2026-12-03 00:00:00,first", "2026-12-03 23:59:59,first",
                    "2026-12-03 23:59:59,last", "2026-12-03 23:59:59,last"))

    def thinned(self, date_to):
        self.make_db([(stamp("2026-10-20 00:00:00"), "T", "1.0", ""),
                      (stamp("2026-10-20 00:00:10"), "T", "1.15", ""),
                      (stamp("2026-10-20 00:00:20"), "T", "1.3", "")])
        self.write("history.dat", lines("txobs=t;T;N", "txDateFrom=2026-10-20",
                                        "txTimeFrom=00:00:00", "txDateTo=" + date_to,
                                        "txTimeTo=00:00:00"))
        self.run_export()
        return self.read("t.sqr")

    def test_thinning_follows_the_wall_clock_length(self):
        # Exactly seven days on the wall clock, across the change to winter
        # time: still the short-period limits (a change of 0.15 is written).
        self.assertEqual(self.thinned("2026-10-27"), lines(
            "Zeit, T", "2026-10-20 00:00:00,1.0", "2026-10-20 00:00:00,1.0",
            "2026-10-20 00:00:10,1.15", "2026-10-20 00:00:20,1.3", "2026-10-27 00:00:00,1.3"))
        os.remove(self.path("history.db"))
        # Eight days: deadband 0.19 holds the change of 0.15 back.
        self.assertEqual(self.thinned("2026-10-28"), lines(
            "Zeit, T", "2026-10-20 00:00:00,1.0", "2026-10-20 00:00:00,1.0",
            "2026-10-20 00:00:20,1.3", "2026-10-28 00:00:00,1.3"))


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def expected_series(kind, label, rows, period_from, period_to, deadband, max_gap):
    """The series file that the writer's rules give for rows (t, value) of one
    object, in time order. Values here are far from the deadband boundary."""
    out = []
    last_text, pending, last_value, last_time = " ", True, 0.0, 0
    for t, v in rows:
        text = shown(t)
        if kind == "N":
            x = f32(float(v))
            first = pending
            if pending:
                out += ["Zeit, " + label, period_from + "," + v]
                pending = False
            if first or f32(abs(last_value - x)) > deadband or t - last_time > max_gap:
                out.append(text + "," + v)
                last_text, last_value, last_time = v, x, t
        elif kind == "C":
            if pending:
                out += ["Zeit, " + label, period_from + "," + v]
                last_text, pending = v, False
            if last_text != v:
                out += [text + "," + last_text, text + "," + v]
            last_text = v
        else:
            v = v[:-2]
            opposite = "1" if v.startswith("0") else "0"
            if pending:
                out += ["Zeit, " + label, period_from + "," + opposite]
                pending = False
            if last_text != v:
                out.append(text + "," + opposite)
            out.append(text + "," + v)
            last_text = v
    out.append(period_to + "," + last_text)
    return lines(*out)


class BulkTest(Scratch):
    def twenty_four_objects(self):
        """Thousands of rows of 24 objects of every kind and their selection
        file; returns the series files they give."""
        rng = random.Random(20240110)
        period_from, period_to = "2024-01-10 00:00:00", "2024-01-16 00:00:00"
        start, end = stamp(period_from), stamp(period_to)
        kinds = "NCU" * 8
        stamps = rng.sample(range(start - 3000, end + 3000), 24 * 600)
        rows, kept = [], {i: [] for i in range(24)}
        for n, t in enumerate(stamps):
            i = n % 24
            kind = kinds[i]
            if kind == "N":
                step = rng.choice([0, 0, 0.1, 0.2, -0.1, 1.5])
                value = "%.1f" % (20 + step + rng.randint(0, 3) / 10)
            elif kind == "C":
                value = rng.choice(["auf", "zu", "halb"])
            else:
                value = rng.choice(["1.0", "0.0"])
            state = "X" if rng.random() < 0.05 else ""
            rows.append((t, "OBJ%02d" % i, value, state))
            if start <= t <= end and state != "X":
                kept[i].append((t, value))
        self.make_db(rows)
        # Period lines first: nothing behind the 24th object line is read.
        self.write("history.dat", lines("txDateFrom=2024-01-10", "txTimeFrom=00:00:00",
                                        "txDateTo=2024-01-16", "txTimeTo=00:00:00")
                   + lines(*("txobs=obj%02d;Objekt %d;%s" % (i, i, kinds[i]) for i in range(24))))
        expected = {}
        for i in range(24):
            series = sorted(kept[i])
            self.assertGreater(len(series), 400)
            expected["obj%02d.sqr" % i] = expected_series(
                kinds[i], "Objekt %d" % i, series, period_from, period_to, f32(0.09), 1800)
        return expected

    def test_twenty_four_objects_and_thousands_of_rows(self):
        expected = self.twenty_four_objects()
        result = self.run_export()
        self.assertEqual((result.stdout, result.stderr), (b"", b""))
        self.assertSeries(expected)

    def test_exports_started_together(self):
        # Neither run may take the other's temporaries for leftovers of a
        # killed run: both end well, and the files are whole (the last
        # writer's).
        expected = self.twenty_four_objects()
        for _ in range(50):
            runs = [subprocess.Popen([PROGRAM], cwd=self.dir, env=testkit.ENV,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    for _ in range(2)]
            self.assertEqual([run.communicate(timeout=120) + (run.returncode,) for run in runs],
                             [(b"", b"", 0)] * 2)
            self.assertSeries(expected)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
