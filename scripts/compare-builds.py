#!/usr/bin/env python3
"""Runs the programs of two build trees on the same inputs and reports every
byte that differs: pages, selection files, series files, both import files,
the result file, standard output and error, exit statuses and the rows left
in the database. For a change that must not change any output (a refactor, a
faster path):

    scripts/compare-builds.py OLD_BUILD NEW_BUILD

Each build needs HistQuery-localcfg, HistSeries-localcfg, CcuNameImport and
CcuDeviceImport. The simulated services listen on loopback addresses of this
run (tests/testkit.py's loopback_address), the same for both builds. Exits 1
when a case differs. Only Python's standard library is used.
"""
import calendar
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(TOP, "tests"))
from testkit import loopback_address  # noqa: E402

SCHEMA = ("create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, "
          "ValueText text, Source text, State text)")
# The requests come from the report's own page: deletions and SQL texts run.
ENV = {"PATH": "/usr/bin:/bin", "TZ": "Europe/Berlin", "HTTP_SEC_FETCH_SITE": "same-origin"}


def stamp(text):
    return calendar.timegm(time.strptime(text, "%Y-%m-%d %H:%M:%S"))


def history_rows():
    rows = [(stamp("2024-03-05 %02d:%02d:00" % (h, m)), name, kind, value, value, "s", "")
            for h in range(0, 24, 3) for m in (0, 30)
            for name, kind, value in (("LICHT1", "U", str(h % 2)), ("TEMP", "N", "%d.5" % h),
                                      ("K\xc4LTE", "N", "1"))]
    # Rows the recorder never writes, read all the same: no stamp, a stamp
    # of text or a real one, cells that are NULL or hold a NUL byte.
    at = stamp("2024-03-05 12:10:00")
    return rows + [(None, "TEMP", "N", "9", "9", "s", ""), ("NULL", "TEMP", "N", "8", "8", "s", ""),
                   (str(at) + "x", "TEMP", "N", "7", "7", "s", ""),
                   (at + 0.7, "TEMP", "N", "6", "6", "s", ""),
                   (at + 1, "TEMP", "N", None, None, None, None),
                   (at + 2, "TEMP", "C", "a\x00b", "v\x00w", "s", "")] + late_rows()


def late_rows():
    """Rows stored after later ones: the clock set back an hour, and an
    imported row, some of them in the same second as rows stored before."""
    back = [(stamp("2024-03-05 %02d:%02d:00" % (h, m)), name, "N", "b%d" % m, "b", "s", "")
            for h in (5, 6) for m in (0, 15, 30, 45) for name in ("TEMP", "LICHT1")]
    return back + [(stamp("2024-03-05 03:00:00"), "TEMP", "N", "imported", "i", "s", "")]


def history_dir(path, files):
    os.makedirs(path)
    con = sqlite3.connect(os.path.join(path, "history.db"))
    con.execute(SCHEMA)
    con.executemany("insert into HISTORY values (?,?,?,?,?,?,?)", history_rows())
    con.commit()
    con.close()
    with open(os.path.join(path, "HistPath.cfg"), "w") as f:
        f.write(path + "\n")
    for name, data in files.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


def snapshot(path):
    files = {}
    for name in sorted(os.listdir(path)):
        if name in ("HistPath.cfg",):
            continue
        if name == "history.db":
            con = sqlite3.connect(os.path.join(path, name))
            files[name] = con.execute("select * from HISTORY order by rowid").fetchall()
            con.close()
            continue
        with open(os.path.join(path, name), "rb") as f:
            files[name] = f.read()
    return files


SERIES = (b"txobs=licht1;Licht;U\ntxobs=temp;T;N\ntxobs=LICHT1;again;U\n"
          b"txDateFrom=2024-03-05\ntxTimeFrom=01:00:00\n")
OBJECTS = (b"obj=Licht1;L;U\nobj=TEMP;T;N\ntxDateFrom=2024-03-05\ntxTimeFrom=00:00:00\n"
           b"txDateTo=2024-03-05\ntxTimeTo=23:00:00\n")
PERIOD = "txDateFrom=2024-03-05&txTimeFrom=02%3A00&txDateTo=2024-03-05&txTimeTo=20%3A00"

# program, arguments, files in the working directory, CGI query (None: no CGI)
HISTORY_CASES = [
    ("HistSeries", ["DFW=history.dat&" + PERIOD.replace("02%3A00", "00%3A00")],
     {"history.dat": SERIES}, None),
    ("HistSeries", ["txDateFrom=2024-03-06&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59"],
     {"history.vid": b"txobs=temp;T;N\n"}, None),
    ("HistSeries", [], {"history.dat": b"txobs=temp;T;N\ntxDateFrom=2024-13-05\ntxTimeFrom=00:00:00\n"
                                       b"txDateTo=2024-03-05\ntxTimeTo=23:00:00\n"}, None),
    ("HistQuery", [], {"histobj.dat": OBJECTS}, ""),
    ("HistQuery", [], {}, PERIOD + "&obj=TEMP%3BT%3BN&obj=K%C4LTE%3BK%3BN"),
    ("HistQuery", [], {"mine.dat": OBJECTS}, "DFW=mine.dat"),
    ("HistQuery", [], {}, PERIOD + "&SQL=select+*+from+HISTORY+where+ObjName+%3D+%27TEMP%27"),
    ("HistQuery", [], {}, "ACTION=DEL&" + PERIOD.replace("20%3A00", "05%3A00") + "&obj=TEMP%3BT%3BN"),
    ("HistQuery", [], {}, PERIOD + "&SQL=--+first%0Aselect+TimeStamp%2C+Value%2C+ValueText"
     "+from+HISTORY+where+ObjName%3D%27TEMP%27%3B+select+%27NULL%27%2C+1+union+all"
     "+select+%2712x%27%2C+2%3B"),
    ("HistQuery", [], {}, "obj=TEMP%3BT%3BN&x" + PERIOD.replace("2024-03-05", "2024%3B03-05", 1)
     + "&xobj=LICHT1"),
    ("HistQuery", [], {}, PERIOD + "&obj=LICHT1%3BL%3BU&obj=TEMP%3BT%3BN"),
    ("HistQuery", [], {}, PERIOD),
    ("HistQuery", [], {}, "VIEW=JSON&WIDTH=100&" + PERIOD + "&obj=TEMP%3BT%3BN&obj=LICHT1%3BL%3BU"),
    ("HistQuery", [], {}, "VIEW=JSON&WIDTH=0&" + PERIOD + "&obj=TEMP%3BT%3BN"),
    ("HistQuery", [], {}, "VIEW=CSV&" + PERIOD + "&obj=TEMP%3BT%3BN&obj=K%C4LTE%3BK+%FC%3BN"),
    ("HistQuery", [], {}, "VIEW=CHART&" + PERIOD + "&obj=K%C4LTE%3BK+%FC%22%3BN"),
    ("HistQuery", [], {"histobj.dat": OBJECTS}, "VIEW=CHART"),
    ("HistSeries", ["txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-06&txTimeTo=00%3A00"],
     {"history.vid": b"txobs=temp;T;C\ntxDateTo=2024-03-xx\n"}, None),
    ("HistSeries", ["txDateFrom=2024-03-05&txTimeFrom=12%3A00&txDateTo=2024-03-05&txTimeTo=13%3A00"],
     {"history.vid": b"txobs=temp;T;C\ntxobs=temp;T;N\n"}, None),
]


def run(binary, args, cwd, env):
    done = subprocess.run([binary] + args, cwd=cwd, env=env, capture_output=True, timeout=60)
    return done.returncode, done.stdout.replace(cwd.encode(), b"DIR"), done.stderr.replace(
        cwd.encode(), b"DIR")


def start(command):
    service = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    service.stdout.readline()  # "ready", or nothing when it could not start
    return service


def compare(builds, scratch):
    differ = 0
    cases = [(p, a, f, q, None) for p, a, f, q in HISTORY_CASES]
    names, devices, faulty = (loopback_address([8181]),
                              loopback_address([2001, 2000, 2010]),
                              loopback_address([2001, 2000, 2010]))
    cases += [
        ("CcuNameImport", [names], {}, None,
         [sys.executable, os.path.join(TOP, "ccunameimport/tests/script_service.py"),
          "--host", names]),
        ("CcuDeviceImport", [devices], {}, None,
         [sys.executable, os.path.join(TOP, "ccudeviceimport/tests/ccu_services.py"),
          "--address", devices, "--large", "300"]),
        ("CcuDeviceImport", [faulty], {}, None,
         [sys.executable, os.path.join(TOP, "ccudeviceimport/tests/ccu_services.py"),
          "--address", faulty, "--fault", "2000", "--down", "2010"]),
    ]
    for number, (program, args, files, query, service_command) in enumerate(cases):
        seen = {}
        for tag, build in builds:
            folder = {"HistQuery": "histquery", "HistSeries": "histseries",
                      "CcuNameImport": "ccunameimport", "CcuDeviceImport": "ccudeviceimport"}[program]
            name = program + "-localcfg" if program.startswith("Hist") else program
            binary = os.path.join(build, folder, name)
            path = os.path.join(scratch, "%d-%s" % (number, tag))
            if program.startswith("Hist"):
                history_dir(path, files)
            else:
                os.makedirs(path)
            env = dict(ENV)
            if query is not None:
                env.update(REQUEST_METHOD="GET", QUERY_STRING=query)
            service = start(service_command) if service_command else None
            try:
                seen[tag] = run(binary, args, path, env) + (snapshot(path),)
            finally:
                if service:
                    service.terminate()
                    service.wait()
        same = seen["old"] == seen["new"]
        differ += not same
        status, out, _, files_after = seen["new"]
        print("%-16s %-60.60s %s (exit %d, %d bytes out, files %s)" % (
            program, query if query is not None else " ".join(args),
            "identical" if same else "DIFFERENT", status, len(out), ",".join(files_after)))
    return differ


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: compare-builds.py OLD_BUILD NEW_BUILD")
    builds = [("old", os.path.abspath(sys.argv[1])), ("new", os.path.abspath(sys.argv[2]))]
    scratch = tempfile.mkdtemp(prefix="compare-builds-")
    try:
        differ = compare(builds, scratch)
    finally:
        shutil.rmtree(scratch, True)
    print("%d cases differ" % differ)
    sys.exit(1 if differ else 0)


if __name__ == "__main__":
    main()
