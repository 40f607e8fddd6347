#!/usr/bin/env python3
"""Benchmarks HistQuery, HistSeries and CcuDeviceImport against what a user
could run instead: the sqlite3 shell on the same statement, Python's
xmlrpc.client on the same replies.

Usage: bench.py [--build DIR] [--dir SCRATCH] [--rows 1000000,10000000]
                [--reps 5] [--large 250,3000]
                [--only history|views|import|lockhold] [--before OLD_BUILD]
                [--json FILE]

Every database goes to SCRATCH (default $BENCH_DIR or /tmp/bench), never into
the repository; a database already there with the same rows is reused. Each
case runs the program and the shell alternately REPS times on the same file
with the output to the same sink; the table shows the medians, the median of
the per-repetition ratios with the lowest and highest beside it, and the peak
resident memory as /usr/bin/time reports it (Maximum resident set size).
--only views runs the chart data and download cases alone. All
servers listen on loopback addresses of this run (tests/testkit.py's
loopback_address).
The lock holds (--only lockhold, and after the history cases) are the
longest stretch in which a second process could not write: a prober that
tries begin immediate, a write and commit with no busy time-out every 10 ms
in rollback-journal mode (the commit needs the database free of readers too)
while HistQuery reports, makes the chart data or the download, HistSeries
exports, a client reads a report only after 15 s, or HistQuery deletes a
year of eight objects; beside it two recorders write a row every 50 ms with
busy time-outs of 1 s and 0.25 s, and the rows they lost are counted
(--lock-cases picks cases by parts of their names); with --before, the same
for an older build beside it. The histories are a household's: 40 objects
over a year.
Needs: a build of HistQuery-localcfg, HistSeries-localcfg and CcuDeviceImport
in DIR, the sqlite3 shell, /usr/bin/time.
"""
import argparse
import calendar
import json
import os
import re
import shutil
import signal
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SERVICES = os.path.join(REPO, "ccudeviceimport", "tests", "ccu_services.py")
PORTS = ("2001", "2000", "2010")
# HistQuery's requests come from its own page: its deletions run.
ENV = dict(os.environ, TZ="Europe/Berlin", LC_ALL="C", HTTP_SEC_FETCH_SITE="same-origin")


def stamp(text):
    """Wall-clock count of a local "YYYY-MM-DD HH:MM:SS", as the programs compute it."""
    return calendar.timegm(time.strptime(text, "%Y-%m-%d %H:%M:%S"))


def period(date_from, time_from, date_to, time_to):
    return "(TimeStamp >= %d and TimeStamp <= %d)" % (
        stamp("%s %s:00" % (date_from, time_from)), stamp("%s %s:00" % (date_to, time_to)))


def request_period(date_from, time_from, date_to, time_to):
    return "txDateFrom=%s&txTimeFrom=%s&txDateTo=%s&txTimeTo=%s" % (
        date_from, time_from.replace(":", "%3A"), date_to, time_to.replace(":", "%3A"))


def names_condition(names):
    return "(" + " or ".join("ObjName = '%s'" % n for n in names) + ")"


WEEK = ("2026-03-02", "00:00", "2026-03-08", "23:59")
YEAR = ("2026-01-01", "00:00", "2026-12-31", "23:59")
MONTH = ("2026-03-01", "00:00", "2026-03-31", "23:59")
TWO = [("TEMP_AUSSEN", "Aussen", "N"), ("LICHT_KUECHE", "Kueche", "C")]
SQL_TEXT = "select * from HISTORY where Source = 'Sensor'"
SQL_REQUEST = "SQL=select+*+from+HISTORY+where+Source+%3D+%27Sensor%27"


def series_objects():
    """24 objects of all three kinds: the named ones and some numbered ones."""
    from make_history import object_list
    chosen = []
    for name, kind, _, _, _ in object_list(100):
        if len(chosen) < 8 or (kind == "N" and len(chosen) < 16) or \
                (kind != "N" and len(chosen) >= 16):
            chosen.append((name, name.title().replace("_", " "), kind))
        if len(chosen) == 24:
            break
    return chosen


def obj_keys(objects):
    return "".join("&obj=%s%%3B%s%%3B%s" % o for o in objects)


# An object report shows a page of 500 rows; it reads one more to know
# whether another page follows.
PAGE_READ = 501


def report_cases():
    """(name, query string, the shell's statement for the rows HistQuery reads)."""
    select = ("select * from HISTORY where %s and State is not \"X\" and %s order by TimeStamp"
              " limit " + str(PAGE_READ))
    return [
        ("report first page, week, 2 objects", request_period(*WEEK) + obj_keys(TWO),
         select % (period(*WEEK), names_condition([o[0] for o in TWO]))),
        ("report first page, year, 1 object", request_period(*YEAR) + obj_keys(TWO[:1]),
         select % (period(*YEAR), names_condition([TWO[0][0]]))),
        ("report first page, year, 8 objects", request_period(*YEAR) + obj_keys(EIGHT),
         select % (period(*YEAR), names_condition([o[0] for o in EIGHT]))),
        ("report SQL mode, month", SQL_REQUEST + "&" + request_period(*MONTH),
         SQL_TEXT.replace("where", "where %s and" % period(*MONTH))),
    ]


def view_cases():
    """(name, query string, the shell's statement, whether both write to a file).

    The chart data against the shell counting the same rows (the decimation
    may add at most a tenth to the scan); the download against the shell
    writing the same rows as CSV into the same kind of file."""
    # The where of the views' statement: the objects as one "in" list.
    where = "where %s and State is not \"X\" and ObjName in (%s)"
    year_one = where % (period(*YEAR), "'%s'" % TWO[0][0])
    month_two = where % (period(*MONTH), ",".join("'%s'" % o[0] for o in TWO))
    return [
        ("json 1 object, year, width 1000",
         "VIEW=JSON&WIDTH=1000&" + request_period(*YEAR) + obj_keys(TWO[:1]),
         "select count(*) from HISTORY " + year_one, False),
        ("csv 2 objects, month", "VIEW=CSV&" + request_period(*MONTH) + obj_keys(TWO),
         "select * from HISTORY " + month_two + " order by TimeStamp", True),
    ]


def check_view(histquery, work, query, db, statement, case):
    """The rows the view took, checked against the shell's."""
    env = dict(ENV, REQUEST_METHOD="GET", QUERY_STRING=query)
    out = subprocess.run([histquery], cwd=work, env=env, stdout=subprocess.PIPE).stdout
    body = out.split(b"\n\n", 1)[1]
    if query.startswith("VIEW=JSON"):
        data = json.loads(body)
        taken = sum(o["stats"]["count"] for o in data["objects"])
        points = max(len(o["points"]) for o in data["objects"])
        expected = int(subprocess.run(shell(db, statement), stdout=subprocess.PIPE,
                                      env=ENV).stdout)
        if points > 4 * data["width"]:
            sys.exit("%s: %d points for width %d" % (case, points, data["width"]))
    else:
        taken = body.count(b"\r\n") - 1
        expected = subprocess.run(shell(db, statement), stdout=subprocess.PIPE,
                                  env=ENV).stdout.count(b"\n")
    if taken != expected:
        sys.exit("%s: the view took %d rows, the shell %d" % (case, taken, expected))
    return taken


def delete_case():
    return ("deletion 2 objects, week", "ACTION=DEL&" + request_period(*WEEK) + obj_keys(TWO),
            "delete from HISTORY where %s and %s" % (
                period(*WEEK), names_condition([o[0] for o in TWO])))


def series_case():
    objects = series_objects()
    request = "DFW=history.dat&txDateFrom=%s&txTimeFrom=%s&txDateTo=%s&txTimeTo=%s" % MONTH
    statement = ("select * from HISTORY where %s and State is not \"X\" and %s order by TimeStamp"
                 % (period(*MONTH), names_condition([o[0] for o in objects])))
    selection = "".join("txobs=%s;%s;%s\n" % o for o in objects)
    return ("series 24 objects, month", request, statement, selection)


# --- running and measuring -------------------------------------------------

def timed(argv, cwd, env=None, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL):
    """Runs argv under /usr/bin/time; (wall seconds, peak KiB, CPU seconds)."""
    # CPU time from wait4 (microseconds; /usr/bin/time prints hundredths),
    # which counts the program that /usr/bin/time waited for.
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        begin = time.perf_counter()
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv,
                                cwd=cwd, env=env or ENV, stdout=stdout, stdin=stdin)
        _, _, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - begin
        proc.returncode = 0
        peak = int(report.read().split("\n")[-2])
    return seconds, peak, usage.ru_utime + usage.ru_stime


def shell(db, statement):
    return ["sqlite3", "-batch", "-init", "/dev/null", db, statement]


def shell_csv(db, statement):
    return ["sqlite3", "-batch", "-init", "/dev/null", "-csv", db, statement]


class Result:
    def __init__(self, group, case):
        self.group, self.case = group, case
        self.prog, self.shell, self.ratio, self.prog_kb, self.shell_kb = [], [], [], [], []
        self.prog_cpu, self.shell_cpu = [], []

    def add(self, prog, shell_run):
        self.prog.append(prog[0])
        self.shell.append(shell_run[0])
        self.ratio.append(prog[0] / shell_run[0])
        self.prog_kb.append(prog[1])
        self.shell_kb.append(shell_run[1])
        self.prog_cpu.append(prog[2])
        self.shell_cpu.append(shell_run[2])

    def summary(self):
        return {
            "group": self.group, "case": self.case,
            "prog_s": statistics.median(self.prog), "shell_s": statistics.median(self.shell),
            "ratio": statistics.median(self.ratio),
            "ratio_min": min(self.ratio), "ratio_max": max(self.ratio),
            "cpu_ratio": statistics.median(self.prog_cpu) / max(statistics.median(self.shell_cpu),
                                                                0.001),
            "prog_mb": max(self.prog_kb) / 1024.0, "shell_mb": max(self.shell_kb) / 1024.0,
            "prog_mb_min": min(self.prog_kb) / 1024.0, "shell_mb_min": min(self.shell_kb) / 1024.0,
        }


def pair(result, reps, run_prog, run_shell):
    """Alternates the two, the first of each pair changing every repetition."""
    for rep in range(reps):
        if rep % 2 == 0:
            p = run_prog()
            s = run_shell()
        else:
            s = run_shell()
            p = run_prog()
        result.add(p, s)
    return result


# --- databases -------------------------------------------------------------

def database(scratch, rows, indexed):
    # A household's history: 40 objects over a year.
    folder = os.path.join(scratch, "%d-%s-year40" % (rows, "idx" if indexed else "bare"))
    db = os.path.join(folder, "history.db")
    marker = db + ".done"
    if os.path.exists(marker):
        return folder
    os.makedirs(folder, exist_ok=True)
    if indexed:
        bare = os.path.join(database(scratch, rows, False), "history.db")
        shutil.copyfile(bare, db)
        subprocess.check_call(["sqlite3", db,
                               "create index HISTORY_TIME on HISTORY (TimeStamp);"
                               "create index HISTORY_OBJ_TIME on HISTORY (ObjName, TimeStamp);"])
    else:
        subprocess.check_call([sys.executable, os.path.join(HERE, "make_history.py"), db,
                               str(rows), "--objects", "40", "--days", "365"])
    open(marker, "w").close()
    return folder


def workdir(scratch, folder):
    work = tempfile.mkdtemp(prefix="work-", dir=scratch)
    with open(os.path.join(work, "HistPath.cfg"), "w") as cfg:
        cfg.write(folder + "\n")
    return work


def check_report(histquery, work, query, db, statement, case):
    env = dict(ENV, REQUEST_METHOD="GET", QUERY_STRING=query)
    page = subprocess.run([histquery], cwd=work, env=env, stdout=subprocess.PIPE).stdout
    found = re.search(rb"(\d+) Datens\xe4tze gefunden", page)
    shown = int(found.group(1)) if found else 0
    # A page of a longer report has read the first row of the next page too.
    paged = re.search(rb"Datens\xe4tze (\d+) bis (\d+) von (mehr als )?\d+\.", page)
    read = shown
    if paged:
        shown = int(paged.group(2)) - int(paged.group(1)) + 1
        read = shown + (1 if paged.group(3) else 0)
    out = subprocess.run(shell(db, statement), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=ENV).stdout
    lines = out.count(b"\n")
    if read != lines:
        sys.exit("%s: HistQuery reads %d rows, the shell %d: the statements differ"
                 % (case, read, lines))
    return shown


def bench_history(args, histquery, histseries, results, notes):
    for rows in args.rows:
        for indexed in (False, True):
            folder = database(args.dir, rows, indexed)
            db = os.path.join(folder, "history.db")
            group = "%s rows, %s" % (human(rows), "indexed" if indexed else "no index")
            work = workdir(args.dir, folder)
            for case, query, statement in report_cases() if args.only != "views" else []:
                shown = check_report(histquery, work, query, db, statement, case)
                notes.append("%s / %s: %d rows shown" % (group, case, shown))
                env = dict(ENV, REQUEST_METHOD="GET", QUERY_STRING=query)
                results.append(pair(Result(group, case), args.reps,
                                    lambda: timed([histquery], work, env),
                                    lambda: timed(shell(db, statement), work)).summary())
                print(format_row(results[-1]), flush=True)

            for case, query, statement, to_file in view_cases():
                taken = check_view(histquery, work, query, db, statement, case)
                notes.append("%s / %s: %d rows" % (group, case, taken))
                env = dict(ENV, REQUEST_METHOD="GET", QUERY_STRING=query)
                sink = os.path.join(work, "view.out") if to_file else os.devnull

                def run_view():
                    with open(sink, "wb") as out:
                        return timed([histquery], work, env, stdout=out)

                def run_shell_view():
                    with open(sink, "wb") as out:
                        return timed(shell_csv(db, statement) if to_file else shell(db, statement),
                                     work, stdout=out)
                results.append(pair(Result(group, case), args.reps, run_view,
                                    run_shell_view).summary())
                print(format_row(results[-1]), flush=True)

            if args.only == "views":
                shutil.rmtree(work)
                continue
            case, query, statement = delete_case()
            copy_dir = os.path.join(args.dir, "deletion")
            os.makedirs(copy_dir, exist_ok=True)
            copy = os.path.join(copy_dir, "history.db")
            del_work = workdir(args.dir, copy_dir)

            def fresh():
                # The copy's write-back must not land in the measured commit.
                shutil.copyfile(db, copy)
                os.sync()
            def run_del():
                fresh()
                env = dict(ENV, REQUEST_METHOD="GET", QUERY_STRING=query)
                return timed([histquery], del_work, env)
            def run_shell_del():
                fresh()
                return timed(shell(copy, statement), del_work)
            results.append(pair(Result(group, case), args.reps, run_del, run_shell_del).summary())
            print(format_row(results[-1]), flush=True)
            os.remove(copy)
            shutil.rmtree(del_work)

            case, request, statement, selection = series_case()
            with open(os.path.join(work, "history.dat"), "w") as f:
                f.write(selection)
            sink = os.path.join(work, "shell.out")
            def run_series():
                return timed([histseries, request], work)
            def run_shell_series():
                with open(sink, "w") as out:
                    return timed(shell(db, statement), work, stdout=out)
            results.append(pair(Result(group, case), args.reps, run_series,
                                run_shell_series).summary())
            print(format_row(results[-1]), flush=True)
            written = sum(os.path.getsize(os.path.join(work, f))
                          for f in os.listdir(work) if f.endswith(".sqr"))
            notes.append("%s / %s: %d bytes in series files, %d bytes from the shell"
                         % (group, case, written, os.path.getsize(sink)))
            shutil.rmtree(work)


# --- lock holds ------------------------------------------------------------

EIGHT = [("TEMP_AUSSEN", "A", "N"), ("LICHT_KUECHE", "B", "C"), ("HEIZUNG_BAD", "C", "N"),
         ("FENSTER_WOHNZIMMER", "D", "C"), ("STROM_ZAEHLER", "E", "U"),
         ("TASTER_FLUR", "F", "C"), ("LICHT_GARTEN", "G", "C"), ("FEUCHTE_KELLER", "H", "N")]

# Writes as a recorder would, without a busy time-out, every 10 ms until the
# stop file appears; prints the longest stretch from a refused write to the
# next one that went through, and how many were refused. The write changes
# nothing but the file's change counter.
PROBER = r"""
import os, sqlite3, sys, time
db, stop = sys.argv[1], sys.argv[2]
con = sqlite3.connect(db, timeout=0, isolation_level=None)
longest, since, refused = 0.0, None, 0
print("ready", flush=True)
while True:
    done = os.path.exists(stop)
    at = time.monotonic()
    try:
        con.execute("begin immediate")
        con.execute("pragma user_version = 0")
        con.execute("commit")
        if since is not None:
            longest, since = max(longest, at - since), None
    except sqlite3.OperationalError:
        if con.in_transaction:
            con.execute("rollback")
        refused += 1
        since = at if since is None else since
    if done:
        break
    time.sleep(0.01)
print(longest, refused)
"""


# A recorder with a busy time-out of its own: a row every 50 ms, each insert
# committed on its own, until the stop file appears; prints how many inserts
# failed and how many were tried.
RECORDER = r"""
import os, sqlite3, sys, time
db, stop, timeout = sys.argv[1], sys.argv[2], float(sys.argv[3])
con = sqlite3.connect(db, timeout=timeout, isolation_level=None)
lost, tried = 0, 0
print("ready", flush=True)
while not os.path.exists(stop):
    tried += 1
    try:
        con.execute("insert into HISTORY values (1780000000, 'BENCH_RECORDER', 'N', '1', '1', "
                    "'Sensor', '')")
    except sqlite3.OperationalError:
        lost += 1
    time.sleep(0.05)
print(lost, tried)
"""

# The recorders' busy time-outs.
RECORDER_TIMEOUTS = (1.0, 0.25)


def lock_hold(argv, work, env, db, stall=0):
    """(run seconds, longest lock hold seconds, refused writes, [(lost, tried)
    per recorder]) of one run; with `stall`, its standard output is read
    only after that many seconds."""
    stop = os.path.join(work, "probe.stop")
    watchers = [subprocess.Popen([sys.executable, "-c", PROBER, db, stop], stdout=subprocess.PIPE,
                                 text=True)]
    watchers += [subprocess.Popen([sys.executable, "-c", RECORDER, db, stop, str(timeout)],
                                  stdout=subprocess.PIPE, text=True)
                 for timeout in RECORDER_TIMEOUTS]
    for watcher in watchers:
        watcher.stdout.readline()
    time.sleep(0.1)
    try:
        begin = time.perf_counter()
        proc = subprocess.Popen(argv, cwd=work, env=env, stdout=subprocess.PIPE)
        time.sleep(stall)
        while proc.stdout.read(1 << 20):
            pass
        proc.wait()
        seconds = time.perf_counter() - begin
        time.sleep(0.1)
    finally:
        open(stop, "w").close()
    longest, refused = watchers[0].communicate(timeout=60)[0].split()
    recorders = [tuple(map(int, w.communicate(timeout=60)[0].split())) for w in watchers[1:]]
    os.remove(stop)
    con = sqlite3.connect(db)
    con.execute("delete from HISTORY where ObjName = 'BENCH_RECORDER'")
    con.commit()
    con.close()
    return seconds, float(longest), int(refused), recorders


def lock_cases(query):
    """(case, request or None for the series export, seconds the client waits,
    whether it works on a copy of the history, the chart summary it finds:
    None, "made" before the run, or "behind" by a day of rows appended since)."""
    chart = "VIEW=JSON&WIDTH=1000&" + query
    return [
        ("report 8 objects, year", query, 0, False, None),
        ("chart data, summary made in this run", chart, 0, False, None),
        ("chart data, summary made", chart, 0, False, "made"),
        ("chart data, summary a day behind", chart, 0, True, "behind"),
        ("download", "VIEW=CSV&" + query, 0, False, None),
        ("series export", None, 0, False, None),
        ("report, client reads nothing for 15 s", query, 15, False, None),
        ("deletion 8 objects, year", "ACTION=DEL&" + query, 0, True, None),
    ]


# A day of rows appended after the last: the last day's rows a day later.
APPEND_DAY = ("insert into HISTORY select TimeStamp + 86400, ObjName, ObjKind, Value, ValueText, "
              "Source, State from HISTORY where TimeStamp > (select max(TimeStamp) - 86400 "
              "from HISTORY) order by rowid")


def make_summary(histquery, work, request, db, runs=30):
    """Runs the chart data request in `work` until the summary beside it covers
    every row of `db`, as after a chart's first requests; False where the
    build keeps no summary."""
    env = dict(ENV, REQUEST_METHOD="GET", QUERY_STRING=request)
    summary = os.path.join(work, "histsum.db")
    con = sqlite3.connect(db)
    last = str(con.execute("select max(rowid) from HISTORY").fetchone()[0])
    con.close()
    for _ in range(runs):
        subprocess.run([histquery], cwd=work, env=env, stdout=subprocess.DEVNULL, check=True)
        if not os.path.exists(summary):
            return False
        con = sqlite3.connect(summary)
        covered = con.execute("select value from meta where key = 'covered'").fetchone()
        open_hours = con.execute("select (select count(*) from dirty) + "
                                 "(select count(*) from dirtydays)").fetchone()[0]
        con.close()
        if covered and str(covered[0]) == last and open_hours == 0:
            return True
    sys.exit("the summary in %s did not cover the history after %d runs" % (work, runs))


def bench_lock_holds(args, builds, notes):
    query = request_period(*YEAR) + obj_keys(EIGHT)
    selection = ("txDateFrom=%s\ntxTimeFrom=%s:00\ntxDateTo=%s\ntxTimeTo=%s:00\n" % YEAR +
                 "".join("txobs=%s;%s;%s\n" % o for o in EIGHT))
    print("\n| data | case | build | run s | longest lock hold s | refused writes | "
          "recorder 1 s: lost of tried | recorder 0.25 s: lost of tried |\n"
          "|---|---|---|---|---|---|---|---|", flush=True)
    for rows in args.rows:
        for indexed in (False, True):
            folder = database(args.dir, rows, indexed)
            db = os.path.join(folder, "history.db")
            group = "%s rows, %s" % (human(rows), "indexed" if indexed else "no index")
            copy_dir = os.path.join(args.dir, "deletion")
            os.makedirs(copy_dir, exist_ok=True)
            copy = os.path.join(copy_dir, "history.db")
            for label, build in builds:
                histquery = os.path.join(build, "histquery", "HistQuery-localcfg")
                made = None  # this build's summary of the history, made once
                for case, request, stall, copies, summary in lock_cases(query):
                    if args.lock_cases and not any(c in case for c in args.lock_cases):
                        continue
                    if summary and made is None:
                        made = workdir(args.dir, folder)
                        if not make_summary(histquery, made, request, db):
                            shutil.rmtree(made)
                            made = ""
                    runs = []
                    for _ in range(max(1, min(args.reps, 3))):
                        target = copy_dir if copies else folder
                        if copies:
                            shutil.copyfile(db, copy)
                        work = workdir(args.dir, target)
                        if summary and made:
                            shutil.copyfile(os.path.join(made, "histsum.db"),
                                            os.path.join(work, "histsum.db"))
                        if summary == "behind":
                            con = sqlite3.connect(copy)
                            con.execute(APPEND_DAY)
                            con.commit()
                            con.close()
                        if copies:
                            os.sync()
                        if request is None:
                            with open(os.path.join(work, "history.dat"), "w") as f:
                                f.write(selection)
                            argv, env = [os.path.join(build, "histseries",
                                                      "HistSeries-localcfg")], ENV
                        else:
                            argv = [histquery]
                            env = dict(ENV, REQUEST_METHOD="GET", QUERY_STRING=request)
                        runs.append(lock_hold(argv, work, env, os.path.join(target, "history.db"),
                                              stall))
                        shutil.rmtree(work)
                    seconds = statistics.median(r[0] for r in runs)
                    longest = max(r[1] for r in runs)
                    refused = statistics.median(r[2] for r in runs)
                    lost = ["%d of %d" % (sum(r[3][k][0] for r in runs),
                                          sum(r[3][k][1] for r in runs))
                            for k in range(len(RECORDER_TIMEOUTS))]
                    print("| %s | %s | %s | %.2f | %.3f | %d | %s |" % (
                        group, case, label, seconds, longest, refused, " | ".join(lost)),
                        flush=True)
                    notes.append("%s / %s / %s: longest lock hold %.3f s of %d runs (%s)" % (
                        group, case, label, longest, len(runs),
                        ", ".join("%.3f" % r[1] for r in runs)))
                if made:
                    shutil.rmtree(made)
            if os.path.exists(copy):
                os.remove(copy)


# --- device import ---------------------------------------------------------

PY_CLIENT = r"""
import sys, time, xmlrpc.client
host = sys.argv[1]
begin = time.perf_counter()
count = 0
for port in ("2001", "2000", "2010"):
    count += len(xmlrpc.client.ServerProxy("http://%s:%s" % (host, port)).listDevices(True))
print("%d %.6f" % (count, time.perf_counter() - begin))
"""


def start(argv):
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, text=True, env=ENV)
    if proc.stdout.readline().strip() != "ready":
        proc.kill()
        sys.exit("service did not start: %s" % argv)
    return proc


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    proc.wait(10)


def bench_import(args, deviceimport, results, notes):
    sys.path.insert(0, os.path.dirname(SERVICES))
    import ccu_services
    sys.path.insert(0, os.path.join(REPO, "tests"))
    from testkit import loopback_address
    for large in args.large:
        live, replayed = loopback_address(PORTS), loopback_address(PORTS)
        services = start([sys.executable, SERVICES, "--address", live, "--large", str(large)])
        replay = None
        try:
            replay = start([sys.executable, os.path.join(HERE, "replay_services.py"),
                            "--from", live, "--address", replayed])
            for host, label in ((live, "live ccu_services.py"),
                                (replayed, "replayed reply bytes")):
                import_case(args, deviceimport, results, notes, ccu_services, large, host,
                            label)
        finally:
            if replay:
                stop(replay)
            stop(services)


def import_case(args, deviceimport, results, notes, ccu_services, large, host, label):
    work = tempfile.mkdtemp(prefix="import-", dir=args.dir)
    py_calls = []

    def run_import():
        return timed([deviceimport, host], work)

    def run_python():
        with tempfile.TemporaryFile("w+") as out:
            run = timed([sys.executable, "-c", PY_CLIENT, host], work, stdout=out)
            out.seek(0)
            py_calls.append(float(out.read().split()[1]))
        return run

    records = len(ccu_services.device_list(PORTS[0], large))
    result = pair(Result("import, %d records/port" % records, "3 x listDevices, " + label),
                  args.reps, run_import, run_python)
    summary = result.summary()
    summary["python_calls_s"] = statistics.median(py_calls)
    results.append(summary)
    print(format_row(summary), flush=True)
    for port in PORTS:
        with open(os.path.join(work, "CCUDevices%s.imp" % port), "rb") as f:
            if f.read() != ccu_services.expected_import_file(host, port, large):
                sys.exit("import file of port %s differs from the device list" % port)
    size = os.path.getsize(os.path.join(work, "CCUDevices2001.imp"))
    notes.append("%d records, %s: import files checked (%d bytes for port 2001); Python's three "
                 "calls alone took %.3f s (median, without interpreter start)"
                 % (records, label, size, summary["python_calls_s"]))
    shutil.rmtree(work)


# --- output ----------------------------------------------------------------

def human(rows):
    return "%gM" % (rows / 1e6) if rows >= 100000 else str(rows)


def format_row(r):
    """The medians; beside the ratio its lowest and highest repetition."""
    return "| %-24s | %-36s | %7.3f | %7.3f | %5.2fx | %4.2f-%4.2f | %5.2fx | %6.1f | %6.1f |" % (
        r["group"], r["case"], r["prog_s"], r["shell_s"], r["ratio"], r["ratio_min"],
        r["ratio_max"], r["cpu_ratio"], r["prog_mb"], r["shell_mb"])


HEADER = ("| %-24s | %-36s | %7s | %7s | %6s | %9s | %6s | %6s | %6s |\n" % (
    "data", "case", "ours s", "other s", "ratio", "min-max", "CPU r.", "ours M", "oth. M") +
    "|" + "|".join("-" * w for w in (26, 38, 9, 9, 8, 11, 8, 8, 8)) + "|")


def growth(results):
    """Time and memory of the largest size over the smallest, per case."""
    lines = []
    by_key = {}
    for r in results:
        if " rows, " in r["group"]:
            size, variant = r["group"].split(" rows, ")
        elif r["group"].startswith("import, "):
            size, variant = r["group"][len("import, "):].split(" ")[0], "import"
        else:
            continue
        by_key.setdefault((variant, r["case"]), []).append((size, r))
    for (variant, case), entries in sorted(by_key.items()):
        if len(entries) < 2:
            continue
        (s0, a), (s1, b) = entries[0], entries[-1]
        lines.append("| %-9s | %-30s | %s->%s | %6.2fx | %6.2fx | %5.2fx | %5.2fx |" % (
            variant, case, s0, s1, b["prog_s"] / a["prog_s"], b["shell_s"] / a["shell_s"],
            b["prog_mb"] / a["prog_mb"], b["shell_mb"] / a["shell_mb"]))
    if not lines:
        return ""
    return ("| variant   | case                           | size     | ours t | other t | ours M"
            " | other M |\n|---|---|---|---|---|---|---|\n" + "\n".join(lines))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build-bench"))
    parser.add_argument("--dir", default=os.environ.get("BENCH_DIR", "/tmp/bench"))
    parser.add_argument("--rows", default="1000000,10000000")
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--large", default="250,3000")
    parser.add_argument("--only", choices=["history", "views", "import", "lockhold"])
    parser.add_argument("--before", help="an older build whose lock holds to show beside")
    parser.add_argument("--lock-cases", default="",
                        help="comma-separated parts of lock-hold case names to run (default all)")
    parser.add_argument("--json")
    args = parser.parse_args()
    args.rows = [int(r) for r in args.rows.split(",") if r]
    args.lock_cases = [c for c in args.lock_cases.split(",") if c]
    args.large = [int(n) for n in args.large.split(",") if n]
    args.dir = os.path.abspath(args.dir)
    args.build = os.path.abspath(args.build)
    if args.dir == REPO or args.dir.startswith(REPO + os.sep):
        sys.exit("the scratch directory must lie outside the repository")
    os.makedirs(args.dir, exist_ok=True)
    sys.path.insert(0, HERE)

    histquery = os.path.join(args.build, "histquery", "HistQuery-localcfg")
    histseries = os.path.join(args.build, "histseries", "HistSeries-localcfg")
    deviceimport = os.path.join(args.build, "ccudeviceimport", "CcuDeviceImport")
    results, notes = [], []
    print(HEADER, flush=True)
    if args.only in (None, "history", "views"):
        bench_history(args, histquery, histseries, results, notes)
    if args.only in (None, "history", "lockhold"):
        builds = [("this", args.build)]
        if args.before:
            builds.insert(0, ("before", os.path.abspath(args.before)))
        bench_lock_holds(args, builds, notes)
    if args.only in (None, "import"):
        bench_import(args, deviceimport, results, notes)
    print()
    table = growth(results)
    if table:
        print(table)
        print()
    for note in notes:
        print("- " + note)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"results": results, "notes": notes}, f, indent=1)


if __name__ == "__main__":
    main()
