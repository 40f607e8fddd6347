#!/usr/bin/env python3
"""The chart data of a year from the summary of the history: the rows' answer,
each request of the first summary, the summary's answer and its catch-up
after a day of appended rows, here and for an armhf build under qemu-arm.

Usage: bench/summary.py BUILD HISTORY_DIR... [--arm-root ROOT] [--objects FILE]
                        [--catch-up] [--scratch DIR]

BUILD holds histquery/HistQuery-localcfg. Each HISTORY_DIR holds a history.db
(bench/make_history.py, 40 objects, a year). With --arm-root, ROOT is a
chroot with qemu-arm, the armhf libraries and the armhf build in
/project/build-armhf (the fresh-machine check leaves one in /tmp/fresh-root);
the histories must lie inside ROOT or be bind-mounted there (their paths are
then given as seen outside, under ROOT). The window is 2026, width 1000; the
objects are the `obj=` keys in FILE (default: the eight named objects).
--catch-up also copies the first history into SCRATCH, appends its last day
a day later, and times the request that folds it in. Every answer is
compared with the rows' answer, byte for byte.
"""
import argparse
import os
import shutil
import sqlite3
import subprocess
import sys
import time

from bench import EIGHT, ENV, YEAR, obj_keys, request_period

ARM_BUILD = "/project/build-armhf/histquery/HistQuery-localcfg"


class Runner:
    def __init__(self, args, query):
        self.args, self.query = args, query

    def run(self, work, extra="", arm=False):
        query = self.query + extra
        if arm:
            root = self.args.arm_root
            argv = ["chroot", root, "/usr/bin/env", "TZ=Europe/Berlin", "REQUEST_METHOD=GET",
                    "QUERY_STRING=" + query, "/bin/sh", "-c",
                    "cd %s && exec qemu-arm -L /usr/arm-linux-gnueabihf %s"
                    % (work[len(root):], ARM_BUILD)]
        else:
            argv = [os.path.join(self.args.build, "histquery", "HistQuery-localcfg")]
        env = dict(ENV, REQUEST_METHOD="GET", QUERY_STRING=query)
        begin = time.perf_counter()
        body = subprocess.run(argv, cwd=work, env=env, stdout=subprocess.PIPE, check=True).stdout
        return time.perf_counter() - begin, body


def covered(work):
    con = sqlite3.connect(os.path.join(work, "histsum.db"))
    row = con.execute("select value from meta where key = 'covered'").fetchone()
    con.close()
    return str(row[0]) if row else None


def last_rowid(folder):
    con = sqlite3.connect(os.path.join(folder, "history.db"))
    last = con.execute("select max(rowid) from HISTORY").fetchone()[0]
    con.close()
    return str(last)


def workdir(path, folder):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    with open(os.path.join(path, "HistPath.cfg"), "w") as cfg:
        cfg.write(folder + "\n")
    return path


def measure(runner, name, folder, arm, scratch):
    """One history on one build: a row of the table."""
    root = runner.args.arm_root if arm else ""
    work = workdir(os.path.join(scratch, ("arm-" if arm else "here-") + name),
                   folder[len(root):] if arm else folder)
    rows_s, rows = runner.run(work, "&SUMMARY=ROWS", arm)
    builds, last = [], last_rowid(folder)
    for _ in range(8):
        seconds, body = runner.run(work, arm=arm)
        builds.append(seconds)
        if covered(work) == last:
            break
    seconds, body = runner.run(work, arm=arm)
    same = body == rows
    print("| %s | %s | %.2f s | %s | %.3f s | %s |" % (
        name, "qemu-arm" if arm else "here", rows_s, ", ".join("%.2f s" % b for b in builds),
        seconds, "same" if same else "DIFFERS"), flush=True)
    return work


def catch_up(runner, folder, made, arm, scratch):
    copy = os.path.join(scratch, "day")
    os.makedirs(copy, exist_ok=True)
    shutil.copyfile(os.path.join(folder, "history.db"), os.path.join(copy, "history.db"))
    con = sqlite3.connect(os.path.join(copy, "history.db"))
    added = con.execute(
        "insert into HISTORY select TimeStamp + 86400, ObjName, ObjKind, Value, ValueText, "
        "Source, State from HISTORY where TimeStamp > (select max(TimeStamp) - 86400 "
        "from HISTORY) order by rowid").rowcount
    con.commit()
    con.close()
    root = runner.args.arm_root if arm else ""
    work = workdir(os.path.join(scratch, "day-" + ("arm" if arm else "here")),
                   copy[len(root):] if arm else copy)
    shutil.copyfile(os.path.join(made, "histsum.db"), os.path.join(work, "histsum.db"))
    _, rows = runner.run(work, "&SUMMARY=ROWS", arm)
    first, body = runner.run(work, arm=arm)
    then, again = runner.run(work, arm=arm)
    print("- %s, a day appended (%d rows): catch-up %.3f s, then %.3f s, %s" % (
        "qemu-arm" if arm else "here", added, first, then,
        "same" if body == rows == again else "DIFFERS"), flush=True)
    shutil.rmtree(copy)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("histories", nargs="+")
    parser.add_argument("--arm-root")
    parser.add_argument("--objects")
    parser.add_argument("--catch-up", action="store_true")
    parser.add_argument("--scratch")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    objects = open(args.objects).read().strip() if args.objects else obj_keys(EIGHT)
    runner = Runner(args, "VIEW=JSON&WIDTH=1000&" + request_period(*YEAR) + objects)
    scratch = args.scratch or os.path.join(args.arm_root or "/tmp", "summary-bench")
    print("| history | build | rows | first summary: each request | from the summary | "
          "answers |\n|---|---|---|---|---|---|", flush=True)
    made = {}
    for arm in (False, True) if args.arm_root else (False,):
        for folder in args.histories:
            folder = os.path.abspath(folder)
            made[arm, folder] = measure(runner, os.path.basename(folder), folder, arm, scratch)
    if args.catch_up:
        for arm in (False, True) if args.arm_root else (False,):
            catch_up(runner, os.path.abspath(args.histories[0]),
                     made[False, os.path.abspath(args.histories[0])], arm, scratch)
    shutil.rmtree(scratch)


if __name__ == "__main__":
    sys.exit(main())
