#!/usr/bin/env python3
"""What a client on the network can make one read of the history cost the
recorder, for two builds side by side.

Usage: bench/readattacks.py OLD_BUILD NEW_BUILD [--dir SCRATCH]
                            [--rows 10000000] [--stall 60] [--history FILE]
                            [--cases 1,2,3,4,5] [--old-conf FILE] [--new-conf FILE]

Each build needs histquery/HistQuery-localcfg; it is copied into a folder of
its own in SCRATCH (default /tmp/readattacks) as HistQuery.ksq, where the
CGI runs and where lighttpd (the configurations are lighttpd.conf.in files as
the demo's, default demo/lighttpd.conf.in for both) serves it on a free port
of 127.0.0.1. The cases:

1. a stalled client: the report of a year of eight objects through lighttpd,
   asked from a socket with a 4 KiB receive buffer that then reads nothing
   for --stall seconds and closes;
2. four downloads at once: four VIEW=CSV of a year of eight objects through
   lighttpd, each read at full speed by its own client;
3. a long label: a form POST (CGI process, body on standard input) of
   VIEW=CSV for a year of one object whose label has 250,000 bytes, stopped
   after 30 s;
4. a slow SQL function: a free SQL text from our own page whose one
   expression runs 30 calls of instr over near a megabyte each (3 to 4 s a
   call on a PC; CGI process);
5. the page of GBs: an endless recursive SQL text of 1 MB rows, read at full
   speed and stopped after 75 s (the old deadline of 60 s and a margin; CGI
   process).

Cases 1 to 3 read a household's history (bench/make_history.py: ROWS rows,
40 objects, a year; made once in SCRATCH and reused, or copied from
--history), 4 and 5 a small one. Beside every run two recorders write one row
every 50 ms, each in its own transaction, with busy time-outs of 1 s and
0.25 s, and a prober tries a write every 10 ms without a time-out (bench.py's
RECORDER and PROBER); the recorders' rows are deleted afterwards. Every
~50 ms the script sums the sizes of the deleted but open files of the
HistQuery processes of the run and of lighttpd, with lighttpd's upload
folder (SQLite's and lighttpd's temporary storage), and reads the processes'
VmHWM.

Prints one Markdown table: run s is from the request until the last HistQuery
process of the case has ended; bytes to client is what the clients read
(case 1: what waited unread in its socket); the notes give the longest write
lock hold the prober saw, the peak resident memory and how the run ended.
With the defaults it takes about ten minutes. Needs python3 and lighttpd;
everything stays in SCRATCH, outside the repository, but for the temporary
files of the CGI processes lighttpd starts, which SQLite puts in the
system's temporary folder.
"""
import argparse
import fcntl
import os
import shutil
import socket
import sqlite3
import stat
import subprocess
import sys
import termios
import threading
import time
import urllib.parse
from contextlib import contextmanager

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from bench import EIGHT, PROBER, RECORDER, RECORDER_TIMEOUTS, YEAR, obj_keys, \
    request_period  # noqa: E402

DEMO_CONF = os.path.join(REPO, "demo", "lighttpd.conf.in")
SMALL_ROWS = 20000
LABEL_BYTES = 250000
LABEL_LIMIT_S = 30
INSTR_CALLS = 30
# Only a bound for a build that never stops the slow function.
INSTR_LIMIT_S = 300
# The old build stops a free SQL text after 60 s of SQLite's steps.
PAGE_LIMIT_S = 75
SAMPLE_S = 0.05
# A process that outlives its client by this much is killed and named so.
AFTER_CLOSE_S = 30

ENV = {"PATH": "/usr/bin:/bin", "TZ": "Europe/Berlin", "LC_ALL": "C"}


def slow_sql():
    """One row whose time column comes with INSTR_CALLS instr calls of 0.4 MB
    in 0.9 MB: each call runs for seconds inside SQLite without a step.
    The needles differ so that SQLite cannot compute one constant for all."""
    call = "instr(printf('%%.*c', 900000, 'a') || 'b', printf('%%.*c', %d, 'a') || 'c')"
    return "select TimeStamp, %s from HISTORY limit 1" % " + ".join(
        call % (400000 + k) for k in range(INSTR_CALLS))


ENDLESS_SQL = ("with recursive c(x) as (select 1 union all select x+1 from c) "
               "select x, printf('%.*c', 999999, 'y') from c")


def sql_request(text):
    return "SQL=" + urllib.parse.quote_plus(text) + "&" + request_period(*YEAR)


# --- histories -------------------------------------------------------------

def history(scratch, rows, ready=None):
    """The folder of a household history of `rows` rows, made once."""
    folder = os.path.join(scratch, "history-%d" % rows)
    db = os.path.join(folder, "history.db")
    if not os.path.exists(db + ".done"):
        os.makedirs(folder, exist_ok=True)
        if ready:
            shutil.copyfile(ready, db)
        else:
            subprocess.check_call(["nice", sys.executable, os.path.join(HERE, "make_history.py"),
                                   db, str(rows), "--objects", "40", "--days", "365"])
        open(db + ".done", "w").close()
    # lighttpd started by root serves as nobody, whose HistQuery reads here.
    os.chmod(folder, 0o777)
    os.chmod(db, 0o666)
    return folder


class Site:
    """A build's program in a folder of its own, reading the history in
    `folder`."""

    def __init__(self, scratch, name, build, folder):
        self.dir = os.path.join(scratch, "site-" + name)
        shutil.rmtree(self.dir, True)
        self.uploads = os.path.join(self.dir, "uploads")
        os.makedirs(self.uploads)
        os.chmod(self.dir, 0o777)
        os.chmod(self.uploads, 0o777)
        self.program = os.path.join(self.dir, "HistQuery.ksq")
        shutil.copy(os.path.join(build, "histquery", "HistQuery-localcfg"), self.program)
        self.folder = folder
        self.db = os.path.join(folder, "history.db")
        with open(os.path.join(self.dir, "HistPath.cfg"), "w") as f:
            f.write(folder + "\n")

    def env(self, **cgi):
        return dict(ENV, TMPDIR=self.dir, **cgi)

    def processes(self):
        """Process ids whose program is this site's copy."""
        found = []
        for pid in os.listdir("/proc"):
            if pid.isdigit():
                try:
                    if os.readlink("/proc/%s/exe" % pid) == self.program:
                        found.append(int(pid))
                except OSError:
                    pass
        return found


# --- what a run costs ------------------------------------------------------

def deleted_files(pid, seen):
    """Adds the deleted regular files `pid` holds open to `seen`
    ((device, inode) -> size)."""
    try:
        fds = os.listdir("/proc/%d/fd" % pid)
    except OSError:
        return
    for fd in fds:
        path = "/proc/%d/fd/%s" % (pid, fd)
        try:
            if os.readlink(path).endswith(" (deleted)"):
                info = os.stat(path)
                if stat.S_ISREG(info.st_mode):
                    seen[(info.st_dev, info.st_ino)] = info.st_size
        except OSError:
            pass


def high_water_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class Watch:
    """The recorders, the prober and the sampler of temporary storage beside
    one case; `server` is lighttpd's process id, if any."""

    def __init__(self, site, server=None):
        self.site, self.server = site, server
        self.stop_file = os.path.join(site.dir, "watch.stop")
        self.peak_temp = 0
        self.peak_kb = 0
        self.last_seen = None
        self.ended = threading.Event()

    def __enter__(self):
        db = self.site.db
        self.watchers = [subprocess.Popen([sys.executable, "-c", PROBER, db, self.stop_file],
                                          stdout=subprocess.PIPE, text=True)]
        self.watchers += [subprocess.Popen([sys.executable, "-c", RECORDER, db, self.stop_file,
                                            str(timeout)], stdout=subprocess.PIPE, text=True)
                          for timeout in RECORDER_TIMEOUTS]
        for watcher in self.watchers:
            watcher.stdout.readline()
        self.sampler = threading.Thread(target=self.sample)
        self.sampler.start()
        time.sleep(0.1)
        return self

    def sample(self):
        while not self.ended.is_set():
            seen = {}
            pids = self.site.processes()
            if pids:
                self.last_seen = time.monotonic()
            for pid in pids:
                deleted_files(pid, seen)
                self.peak_kb = max(self.peak_kb, high_water_kb(pid))
            if self.server:
                deleted_files(self.server, seen)
            held = sum(seen.values())
            for name in os.listdir(self.site.uploads):
                try:
                    held += os.path.getsize(os.path.join(self.site.uploads, name))
                except OSError:
                    pass
            self.peak_temp = max(self.peak_temp, held)
            time.sleep(SAMPLE_S)

    def wait_gone(self, limit):
        """Waits until no process of the site is left, at most `limit`
        seconds; then kills those left. Whether some had to be killed."""
        until = time.monotonic() + limit
        while self.site.processes() and time.monotonic() < until:
            time.sleep(SAMPLE_S)
        left = self.site.processes()
        for pid in left:
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        while self.site.processes():
            time.sleep(SAMPLE_S)
        return bool(left)

    def __exit__(self, *exc):
        time.sleep(0.1)
        self.ended.set()
        self.sampler.join()
        open(self.stop_file, "w").close()
        longest, _ = self.watchers[0].communicate(timeout=60)[0].split()
        self.longest_hold = float(longest)
        self.recorders = [tuple(map(int, w.communicate(timeout=60)[0].split()))
                          for w in self.watchers[1:]]
        os.remove(self.stop_file)
        con = sqlite3.connect(self.site.db, timeout=10)
        con.execute("delete from HISTORY where ObjName = 'BENCH_RECORDER'")
        con.commit()
        con.close()
        return False


# --- clients -----------------------------------------------------------------

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextmanager
def served(site, conf_in):
    """lighttpd serving the site on a free port of 127.0.0.1: (port, process)."""
    port = free_port()
    conf = os.path.join(site.dir, "lighttpd.conf")
    with open(conf_in) as f:
        text = f.read().replace("@DOCROOT@", site.dir).replace("@PORT@", str(port))
    with open(conf, "w") as f:
        f.write(text.replace("@RUNDIR@", site.dir) +
                'server.upload-dirs = ("%s")\n' % site.uploads)
        if os.geteuid() == 0:
            f.write('server.username = "nobody"\nserver.groupname = "nogroup"\n')
    server = subprocess.Popen([shutil.which("lighttpd") or "/usr/sbin/lighttpd", "-D", "-f", conf],
                              stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        yield port, server
    finally:
        server.terminate()
        server.wait()


def get_request(query):
    return (b"GET /HistQuery.ksq?%s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % query.encode())


def download(port, query, into):
    """Reads one page at full speed; appends (status, bytes) to `into`."""
    with socket.create_connection(("127.0.0.1", port), timeout=300) as s:
        s.sendall(get_request(query))
        got, head = 0, b""
        while True:
            data = s.recv(1 << 20)
            if not data:
                break
            if len(head) < 16:
                head += data[:16]
            got += len(data)
    into.append((head.split(b" ")[1].decode() if b" " in head else "-", got))


def run_cgi(site, env, body=None, limit=None):
    """Runs the site's program as a CGI process whose page is read at full
    speed, killed after `limit` seconds: (seconds, page bytes, last bytes of
    the page, peak resident KiB, whether it was killed)."""
    proc = subprocess.Popen([site.program], cwd=site.dir, env=env,
                            stdin=subprocess.PIPE if body is not None else subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    page = {"bytes": 0, "tail": b""}

    def read():
        while True:
            data = proc.stdout.read1(1 << 20)
            if not data:
                break
            page["bytes"] += len(data)
            page["tail"] = (page["tail"] + data)[-400:]

    def write():
        try:
            proc.stdin.write(body)
            proc.stdin.close()
        except OSError:
            pass

    helpers = [threading.Thread(target=read)]
    if body is not None:
        helpers.append(threading.Thread(target=write))
    begin = time.monotonic()
    for helper in helpers:
        helper.start()
    killed = []
    timer = None
    if limit:
        timer = threading.Timer(limit, lambda: (killed.append(1), proc.kill()))
        timer.start()
    _, _, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - begin
    proc.returncode = 0
    if timer:
        timer.cancel()
    for helper in helpers:
        helper.join()
    return seconds, page["bytes"], page["tail"], usage.ru_maxrss, bool(killed)


def page_end(tail):
    """The page's last words: a bound's message, or how the page ended."""
    text = tail.decode("latin-1")
    if "Fehler" in text:
        return text[text.rindex("Fehler"):].split("<")[0].strip()[:70]
    if text.endswith("</html>\n"):
        return "complete page"
    return "page ends %r" % text[-24:]


# --- the cases ---------------------------------------------------------------

def stalled_client(site, args, conf):
    query = request_period(*YEAR) + obj_keys(EIGHT)
    with served(site, conf) as (port, server):
        with Watch(site, server.pid) as watch:
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.connect(("127.0.0.1", port))
            begin = time.monotonic()
            s.sendall(get_request(query))
            time.sleep(args.stall)
            queued = fcntl.ioctl(s, termios.FIONREAD, b"\0\0\0\0")
            running = bool(site.processes())
            s.close()
            killed = watch.wait_gone(AFTER_CLOSE_S)
    seconds = (watch.last_seen or begin) - begin
    note = ("HistQuery still writing at the close" if running else "page done before the close")
    if killed:
        note += ", killed %d s after the close" % AFTER_CLOSE_S
    return watch, seconds, int.from_bytes(queued, sys.byteorder), note + " (unread bytes)"


def four_downloads(site, args, conf):
    query = "VIEW=CSV&" + request_period(*YEAR) + obj_keys(EIGHT)
    pages = []
    with served(site, conf) as (port, server):
        with Watch(site, server.pid) as watch:
            clients = [threading.Thread(target=download, args=(port, query, pages))
                       for _ in range(4)]
            begin = time.monotonic()
            for client in clients:
                client.start()
            for client in clients:
                client.join()
            done = time.monotonic()
            watch.wait_gone(AFTER_CLOSE_S)
    seconds = max(watch.last_seen or begin, done) - begin
    statuses = sorted("%s %.1f MB" % (status, size / 1e6) for status, size in pages)
    return watch, seconds, sum(size for _, size in pages), "via lighttpd: " + ", ".join(statuses)


def long_label(site, args, conf):
    body = ("VIEW=CSV&" + request_period(*YEAR) + "&obj=%s%%3B%s%%3B%s" % (
        EIGHT[0][0], "L" * LABEL_BYTES, EIGHT[0][2])).encode()
    env = site.env(REQUEST_METHOD="POST", CONTENT_LENGTH=str(len(body)),
                   CONTENT_TYPE="application/x-www-form-urlencoded")
    with Watch(site) as watch:
        seconds, size, tail, peak_kb, killed = run_cgi(site, env, body, LABEL_LIMIT_S)
    watch.peak_kb = max(watch.peak_kb, peak_kb)
    lines = "stopped at %d s" % LABEL_LIMIT_S if killed else "complete"
    return watch, seconds, size, "CGI POST of %d bytes; %s" % (len(body), lines)


def sql_text(site, text, limit):
    """A free SQL text from our own page, as a CGI run stopped after `limit` s."""
    env = site.env(REQUEST_METHOD="GET", QUERY_STRING=sql_request(text),
                   HTTP_SEC_FETCH_SITE="same-origin")
    with Watch(site) as watch:
        seconds, size, tail, peak_kb, killed = run_cgi(site, env, limit=limit)
    watch.peak_kb = max(watch.peak_kb, peak_kb)
    end = ("killed at %d s" % limit) if killed else page_end(tail)
    return watch, seconds, size, "CGI; %s" % end


def slow_function(site, args, conf):
    return sql_text(site, slow_sql(), INSTR_LIMIT_S)


def endless_page(site, args, conf):
    return sql_text(site, ENDLESS_SQL, PAGE_LIMIT_S)


CASES = [
    ("1 stalled client, report 8 objects a year", stalled_client, False),
    ("2 four CSV downloads at once, 8 objects a year", four_downloads, False),
    ("3 CSV of 1 object a year, 250 KB label", long_label, False),
    ("4 slow SQL function (%d x instr)" % INSTR_CALLS, slow_function, True),
    ("5 endless SQL page of 1 MB rows", endless_page, True),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--dir", default="/tmp/readattacks")
    parser.add_argument("--rows", type=int, default=10000000)
    parser.add_argument("--stall", type=float, default=60)
    parser.add_argument("--history", help="a ready household history of ROWS rows to copy")
    parser.add_argument("--cases", default="1,2,3,4,5")
    parser.add_argument("--old-conf", default=DEMO_CONF)
    parser.add_argument("--new-conf", default=DEMO_CONF)
    args = parser.parse_args()
    args.dir = os.path.abspath(args.dir)
    if args.dir == REPO or args.dir.startswith(REPO + os.sep):
        sys.exit("the scratch directory must lie outside the repository")
    if not shutil.which("lighttpd") and not os.path.exists("/usr/sbin/lighttpd"):
        sys.exit("lighttpd is needed")
    os.makedirs(args.dir, exist_ok=True)
    chosen = {int(c) for c in args.cases.split(",") if c}
    builds = [("old", os.path.abspath(args.old), args.old_conf),
              ("new", os.path.abspath(args.new), args.new_conf)]

    print("%d rows (cases 1-3), %d rows (4-5), stall %g s, history in %s\n" % (
        args.rows, SMALL_ROWS, args.stall, args.dir))
    print("| case | build | run s | peak temp MB | bytes to client | recorder 1 s lost/tried | "
          "recorder 0.25 s lost/tried | notes |\n|---|---|---|---|---|---|---|---|", flush=True)
    for number, (name, measure, small) in enumerate(CASES, 1):
        if number not in chosen:
            continue
        folder = history(args.dir, SMALL_ROWS if small else args.rows,
                         None if small else args.history)
        for label, build, conf in builds:
            site = Site(args.dir, label, build, folder)
            watch, seconds, size, note = measure(site, args, conf)
            lost = ["%d/%d" % r for r in watch.recorders]
            print("| %s | %s | %.1f | %.1f | %d | %s | %s | %s; lock held up to %.2f s; "
                  "peak RSS %d MB |" % (name, label, seconds, watch.peak_temp / 1e6, size,
                                        lost[0], lost[1], note, watch.longest_hold,
                                        watch.peak_kb // 1024), flush=True)
            shutil.rmtree(site.dir, True)


if __name__ == "__main__":
    sys.exit(main())
