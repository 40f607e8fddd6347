"""The pieces every Python test shares: a scratch directory per test, the
HISTORY table, the built programs and one way to run them.

A test finds this module by its own path (the repository's tests/ directory
put first on sys.path), so nothing is installed. Only the Python standard
library is used.

    program(name)   the built program `name`; CMake sets one variable per
                    program for every test: PROGRAM_<NAME>, the target name
                    upper-cased with every other character an underscore
                    (HistQuery-localcfg: PROGRAM_HISTQUERY_LOCALCFG). Under a
                    cross build it names the emulator wrapper.
    run(args, env, stdin, cwd)   the finished process (stdout, stderr bytes)
    scratch(case, prefix)        a directory removed when the test ends
    make_history(path, rows)     a history database with these HISTORY rows
    loopback_address(ports)      an address of 127.0.0.0/8 of this run alone
"""
import calendar
import os
import random
import re
import shutil
import socket
import sqlite3
import subprocess
import tempfile
import time

os.environ["TZ"] = "Europe/Berlin"
time.tzset()
# What a program sees unless a test says more: no inherited settings.
ENV = {"PATH": "/usr/bin:/bin", "TZ": "Europe/Berlin"}

SCHEMA = ("create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, "
          "ValueText text, Source text, State text)")


def program_variable(name):
    return "PROGRAM_" + re.sub(r"[^A-Za-z0-9]", "_", name).upper()


def program(name):
    """The path of the built program `name`; ends the run when it is unset."""
    variable = program_variable(name)
    path = os.environ.get(variable, "")
    if not path or not os.path.exists(path):
        raise SystemExit("%s must name the built %s" % (variable, name))
    return path


def run(args, env=None, stdin=b"", cwd=None, timeout=60, **options):
    """Runs args to its end; env replaces ENV's values where it names them."""
    full = dict(ENV)
    full.update(env or {})
    return subprocess.run(args, env=full, input=stdin, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, **options)


def stamp(text):
    """Wall-clock seconds of a local 'YYYY-MM-DD HH:MM:SS', as HISTORY counts them."""
    return calendar.timegm(time.strptime(text, "%Y-%m-%d %H:%M:%S"))


def scratch(case, prefix="test."):
    """A fresh directory for the test `case`, removed when it ends."""
    path = tempfile.mkdtemp(prefix=prefix)
    case.addCleanup(shutil.rmtree, path, True)
    return path


def make_history(path, rows=()):
    """A database at path with the HISTORY table holding rows:
    (TimeStamp, ObjName, ObjKind, Value, ValueText, Source, State)."""
    con = sqlite3.connect(path)
    con.execute(SCHEMA)
    con.executemany("insert into HISTORY values (?,?,?,?,?,?,?)", rows)
    con.commit()
    con.close()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# HistQuery's turns to read the history: an empty file of its working
# directory that stays (histquery/readslots.h).
TURNS_FILE = "histlock.dat"


def files_in(directory):
    """The files of a directory, but for HistQuery's file of turns."""
    return sorted(n for n in os.listdir(directory) if n != TURNS_FILE)


def loopback_address(ports=()):
    """A loopback address 127.a.b.c on which every port of `ports` binds now,
    different for every call. The programs' ports are built in, so two test
    runs on one machine (or a run and the demo on 127.0.0.1) are told apart by
    the address: a comes from the process id, b and c are drawn at random,
    127.0.x.x is never taken. Nothing listens on `ports` of the address until
    the caller starts it there: with nothing started, nobody answers."""
    draw = random.SystemRandom()
    for _ in range(100):
        address = "127.%d.%d.%d" % (1 + os.getpid() % 254, draw.randint(1, 254),
                                    draw.randint(1, 254))
        probes = []
        try:
            for port in ports or (0,):
                probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                probes.append(probe)
                probe.bind((address, int(port)))
            return address
        except OSError:
            continue
        finally:
            for probe in probes:
                probe.close()
    raise OSError("no free loopback address for the ports %s" % (ports,))
