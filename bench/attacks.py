#!/usr/bin/env python3
"""What a foreign page or a free SQL text can do to the history report, for
two builds side by side: rows a foreign request deletes, a rebound host name,
the read lock a join holds against a recorder, database growth, memory,
temporary files, fts3_tokenizer, the period of SQL mode, and (with lighttpd
and a demo configuration) the deny rule and a slow client.

Usage: bench/attacks.py OLD_BUILD NEW_BUILD [--old-conf FILE] [--new-conf FILE]

Each build needs histquery/HistQuery-localcfg. The configurations are
lighttpd.conf.in files as the demo's (default: demo/lighttpd.conf.in of the
repository for both). Runs the program as lighttpd would, with HTTP_HOST
ccu.test:8091 and the headers a browser sends on a plain-http name; prints one
line per case with what each build did. Takes about three minutes: the old
build may hold its read lock for the full 60 s deadline. Needs lighttpd,
/usr/bin/time; everything goes to a temporary directory on loopback.
"""
import argparse
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO_CONF = os.path.join(HERE, "..", "demo", "lighttpd.conf.in")
SCHEMA = ("create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, "
          "ValueText text, Source text, State text)")
START = 1709596800  # 2024-03-05 00:00:00 as HISTORY counts it
ROWS = [(START - 3 * 86400 + i * 355, "AB"[i % 2], "N", "1", "1", "Sensor", "") for i in range(1705)]
PERIOD = "txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59"
EVERYTHING = "txDateFrom=1970-01-02&txTimeFrom=00%3A00&txDateTo=2037-12-31&txTimeTo=23%3A59"
HOST = "ccu.test:8091"
PLAIN = {"HTTP_HOST": HOST}  # a foreign page's GET over plain http, Referer stripped
OWN = {"HTTP_HOST": HOST, "HTTP_ORIGIN": "http://" + HOST}
REBOUND = {"HTTP_HOST": "evil.example:8091", "HTTP_ORIGIN": "http://evil.example:8091",
           "HTTP_SEC_FETCH_SITE": "same-origin"}


def sql(text):
    return "SQL=" + urllib.parse.quote_plus(text) + "&" + PERIOD


class Site:
    def __init__(self, top, build, name):
        self.dir = os.path.join(top, name)
        os.makedirs(os.path.join(self.dir, "data"))
        self.db = os.path.join(self.dir, "data", "history.db")
        con = sqlite3.connect(self.db)
        con.execute(SCHEMA)
        con.executemany("insert into HISTORY values (?,?,?,?,?,?,?)", ROWS)
        con.commit()
        con.close()
        with open(os.path.join(self.dir, "HistPath.cfg"), "w") as f:
            f.write(os.path.join(self.dir, "data") + "\n")
        with open(os.path.join(self.dir, "HistHosts.cfg"), "w") as f:
            f.write("ccu.test\n")
        self.program = os.path.join(build, "histquery", "HistQuery-localcfg")
        shutil.copy(self.program, os.path.join(self.dir, "HistQuery.ksq"))

    def env(self, query, headers):
        return dict(headers, PATH="/usr/bin:/bin", TZ="Europe/Berlin", REQUEST_METHOD="GET",
                    QUERY_STRING=query, TMPDIR=self.dir)

    def run(self, query, headers, limit_as=False):
        """(page bytes, stderr, peak resident KiB, seconds)."""
        pre = None
        if limit_as:
            import resource
            pre = lambda: resource.setrlimit(resource.RLIMIT_AS, (128 << 20, 128 << 20))  # noqa
        started = time.monotonic()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", self.program], cwd=self.dir,
                              env=self.env(query, headers), capture_output=True,
                              preexec_fn=pre, timeout=300)
        err = [line.replace("SQL error creating table: ", "")
               for line in proc.stderr.decode("latin-1").strip().split("\n")
               if not line.startswith("Command ")]  # /usr/bin/time's own words
        return proc.stdout, "\n".join(err[:-1]), int(err[-1]), time.monotonic() - started

    def count(self, where="1"):
        con = sqlite3.connect(self.db)
        try:
            return con.execute("select count(*) from HISTORY where " + where).fetchone()[0]
        finally:
            con.close()


def closing(page):
    tail = page.decode("latin-1").rstrip("\n").split("\n")[-2:]
    return " ".join(t[-70:] for t in tail).replace("</body></html>", "").strip()


def rows_left(site, query):
    site.run(query, PLAIN)
    return "%d of %d rows left" % (site.count(), len(ROWS))


def rebound(site, _):
    page, _, _, _ = site.run(PERIOD + "&obj=A%3Bx%3BN", REBOUND)
    read = page.count(b" <-[")
    site.run("ACTION=DEL&" + EVERYTHING, REBOUND)
    return "report lines read: %d; %d of %d rows left" % (read, site.count(), len(ROWS))


def read_lock(site, _):
    """A recorder inserting 20 rows/s without busy time-out while a foreign
    page's join runs."""
    done = threading.Event()
    lost = [0, 0]

    def record():
        con = sqlite3.connect(site.db, timeout=0, isolation_level=None)
        while not done.is_set():
            try:
                con.execute("insert into HISTORY values (?, 'REC', 'N', '1', '1', 'S', '')",
                            (START,))
            except sqlite3.OperationalError:
                lost[0] += 1
            lost[1] += 1
            time.sleep(0.05)
        con.close()

    recorder = threading.Thread(target=record)
    recorder.start()
    _, _, _, seconds = site.run(sql("select count(*) from HISTORY a, HISTORY b, HISTORY c"),
                                PLAIN)
    done.set()
    recorder.join()
    return "ran %.1f s; recorder lost %d of %d rows" % (seconds, lost[0], lost[1])


def growth(site, _):
    before = os.path.getsize(site.db)
    page, err, _, seconds = site.run(sql(
        "insert into HISTORY (TimeStamp, ObjName, ValueText) with recursive c(x) as (select 1 "
        "union all select x+1 from c limit 1000) select x, 'JUNK', printf('%.*c', 900000, 'x') "
        "from c"), OWN)
    return "history.db %d KB -> %d KB in %.1f s %s" % (
        before // 1024, os.path.getsize(site.db) // 1024, seconds, err.split("\n")[-1][:40])


def memory(site, _):
    text = "select " + ", ".join(["printf('%.*c', 999999, char(34))"] * 32)
    page, _, rss, _ = site.run(sql(text), OWN)
    limited, err, _, _ = site.run(sql(text), OWN, limit_as=True)
    ok = limited.endswith(b"</body></html>\n")
    return "peak RSS %d MB, page %d MB; under 128 MiB AS: %s" % (
        rss // 1024, len(page) // 1000000,
        "complete" if ok else "killed: " + err.strip().split("\n")[-1][-40:])


def temp_files(site, _):
    """Bytes in the (already unlinked) temporary files the run holds open,
    largest seen within 10 s."""
    text = "select * from HISTORY a, HISTORY b, HISTORY c order by random()"
    proc = subprocess.Popen([site.program], cwd=site.dir, env=site.env(sql(text), OWN),
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    largest = 0
    started = time.monotonic()
    while proc.poll() is None and time.monotonic() - started < 10:
        held = 0
        for fd in os.listdir("/proc/%d/fd" % proc.pid) if proc.poll() is None else []:
            try:
                target = os.readlink("/proc/%d/fd/%s" % (proc.pid, fd))
                if target.startswith(site.dir) and "(deleted)" in target:
                    held += os.stat("/proc/%d/fd/%s" % (proc.pid, fd)).st_size
            except OSError:
                pass
        largest = max(largest, held)
        time.sleep(0.2)
    still = proc.poll() is None
    if still:
        proc.kill()
    err = proc.communicate()[1].decode("latin-1").strip().replace("SQL error creating table: ", "")
    return "temporary files up to %d MB; %s" % (
        largest // 1000000, "still running after 10 s" if still else err.split("\n")[-1][-40:])


def second_cell(page):
    """The second cell of the table's first row, or None (the first one is
    always shown as a time)."""
    if b"<tr><td>" not in page:
        return None
    return page.split(b"<tr><td>")[1].split(b"<td>")[1].split(b"</td>")[0].decode("latin-1")


def fts3(site, _):
    page, err, _, _ = site.run(sql("select 1, hex(fts3_tokenizer('simple'))"), OWN)
    cell = second_cell(page)
    return "cell %s" % cell if cell is not None else err.split("\n")[-1][-50:]


def period_or(site, _):
    site.run(sql("delete from HISTORY where ObjName = 'A' or ObjName = 'B'"), OWN)
    day = "TimeStamp between %d and %d" % (START, START + 86340)
    return "deleted %d in the period, %d outside" % (
        len([r for r in ROWS if START <= r[0] <= START + 86340]) - site.count(day),
        len([r for r in ROWS if not START <= r[0] <= START + 86340]) - site.count("not " + day))


def period_upper(site, _):
    page, _, _, _ = site.run(sql("select 1, count(*) from HISTORY WHERE ObjName = 'A'"), OWN)
    return "count %s of A's %d rows in the period" % (second_cell(page), len(
        [r for r in ROWS if r[1] == "A" and START <= r[0] <= START + 86340]))


def period_quoted(site, _):
    page, _, _, _ = site.run(sql("select 1, 'nowhere' from HISTORY where ObjName = 'A' limit 1"),
                             OWN)
    return "cell %s" % second_cell(page)


CGI_CASES = [
    ("foreign <img>/navigation ACTION=DEL, plain http", rows_left, "ACTION=DEL&" + EVERYTHING),
    ("foreign rel=noreferrer link SQL=delete", rows_left, sql("delete from HISTORY")),
    ("rebound name evil.example: read, then delete", rebound, None),
    ("foreign 3-way join vs recorder at 20 rows/s", read_lock, None),
    ("growth: insert 1000 x 900 KB (own page)", growth, None),
    ("memory: 32 cells of 999,999 quotes", memory, None),
    ("temp files: 3-way join order by random()", temp_files, None),
    ("fts3_tokenizer('simple')", fts3, None),
    ("period: where A or B (delete)", period_or, None),
    ("period: WHERE in capitals", period_upper, None),
    ("period: quoted 'nowhere'", period_quoted, None),
]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def served(site, conf_in, paths, slow_query):
    """Status of each path, and the temporary bytes lighttpd keeps for a
    client that reads nothing for 5 s of a 186 MB page."""
    port = free_port()
    uploads = os.path.join(site.dir, "uploads")
    os.mkdir(uploads)
    conf = os.path.join(site.dir, "lighttpd.conf")
    with open(conf_in) as f:
        text = f.read().replace("@DOCROOT@", site.dir).replace("@PORT@", str(port))
    with open(conf, "w") as f:
        f.write(text.replace("@RUNDIR@", site.dir) +
                'server.upload-dirs = ("%s")\n' % uploads)
        if os.geteuid() == 0:
            f.write('server.username = "nobody"\nserver.groupname = "nogroup"\n')
    if os.geteuid() == 0:
        # lighttpd started by root serves as nobody.
        for path in (os.path.dirname(site.dir), site.dir, os.path.dirname(site.db), uploads):
            os.chmod(path, 0o777)
        os.chmod(site.db, 0o666)
    server = subprocess.Popen([shutil.which("lighttpd") or "/usr/sbin/lighttpd", "-D", "-f", conf],
                              stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        statuses = []
        for path in paths:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(b"GET /%s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % path.encode())
                statuses.append(s.recv(100).split(b" ")[1].decode())
        with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.sendall(b"GET /HistQuery.ksq?%s HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                      b"Sec-Fetch-Site: same-origin\r\n\r\n" % slow_query.encode())
            time.sleep(5)
            held = sum(os.path.getsize(os.path.join(uploads, n)) for n in os.listdir(uploads))
            pid = server.pid
            for fd in os.listdir("/proc/%d/fd" % pid):
                try:
                    if "(deleted)" in os.readlink("/proc/%d/fd/%s" % (pid, fd)):
                        held += os.stat("/proc/%d/fd/%s" % (pid, fd)).st_size
                except OSError:
                    pass
        return statuses, held
    finally:
        server.terminate()
        server.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--old-conf", default=DEMO_CONF)
    parser.add_argument("--new-conf", default=DEMO_CONF)
    args = parser.parse_args()
    old, new = os.path.abspath(args.old), os.path.abspath(args.new)
    top = tempfile.mkdtemp(prefix="attacks.")
    try:
        for number, (name, measure, query) in enumerate(CGI_CASES):
            seen = [measure(Site(top, build, "%d-%s" % (number, tag)), query)
                    for tag, build in (("old", old), ("new", new))]
            print("%-46s | old: %s\n%-46s | new: %s" % (name, seen[0], "", seen[1]), flush=True)
        paths = ["histobj.dat", "histobj.dat/", "histobj.dat%2f", "HistPath.cfg/.",
                 "data/history.db/", "histobj.dat/x"]
        big = sql("select " + ", ".join(["printf('%.*c', 999999, char(34))"] * 32))
        for tag, build, conf in (("old", old, args.old_conf), ("new", new, args.new_conf)):
            site = Site(top, build, "lighttpd-" + tag)
            with open(os.path.join(site.dir, "histobj.dat"), "w") as f:
                f.write("txDateFrom=2024-03-05\n")
            statuses, held = served(site, conf, paths, big)
            print("%-46s | %s: %s\n%-46s | %s: slow client: %d MB in temporary files" % (
                "deny rule: " + " ".join(paths), tag, " ".join(statuses), "", tag,
                held // 1000000), flush=True)
    finally:
        shutil.rmtree(top, True)


if __name__ == "__main__":
    sys.exit(main())
