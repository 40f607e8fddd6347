#!/usr/bin/env python3
"""Writes a large, realistic history database for the benchmarks.

Usage: make_history.py OUTPUT ROWS [--days 182] [--objects 100] [--index]
                       [--start 2026-01-01] [--seed 1]

OUTPUT (a history.db) is replaced. ROWS rows of OBJECTS objects over DAYS days
from START, in time order as the recorder writes them: temperatures and
humidities every few minutes, switches, contacts and buttons now and then,
meter readings at a steady pace. TimeStamp is the wall-clock count (the local
date and time read as if it were UTC), the form HistQuery and HistSeries
compare with. About one row in 25 has State "X". With --index the table gets
an index on TimeStamp and one on (ObjName, TimeStamp), as some installations
have them; without it the table is bare, as the recorder creates it.

Only the Python standard library is used. The rows go in through one
executemany in a single transaction with journal and syncing off, so ten
million rows take about a minute.
"""
import argparse
import calendar
import heapq
import os
import random
import sqlite3
import time

# The first objects carry names the benchmark requests use; the rest are
# numbered. (name, kind, motion, sources, relative rate)
NAMED = [
    ("TEMP_AUSSEN", "N", "temperature", ["Sensor"], 1.0),
    ("LICHT_KUECHE", "C", "switch", ["Taster", "Zentrale", "Programm"], 1.0),
    ("HEIZUNG_BAD", "N", "setpoint", ["Programm", "Thermostat", "Zentrale"], 0.5),
    ("FENSTER_WOHNZIMMER", "C", "window", ["Kontakt"], 0.5),
    ("STROM_ZAEHLER", "U", "counter", ["Zaehler"], 1.0),
    ("TASTER_FLUR", "C", "button", ["Taster"], 0.5),
    ("LICHT_GARTEN", "C", "switch", ["Bewegungsmelder", "Programm"], 0.5),
    ("FEUCHTE_KELLER", "N", "humidity", ["Sensor"], 1.0),
]
MOTIONS = [
    ("TEMP", "N", "temperature", ["Sensor"], 1.5),
    ("FEUCHTE", "N", "humidity", ["Sensor"], 1.0),
    ("LICHT", "C", "switch", ["Taster", "Zentrale", "Programm", "Bewegungsmelder"], 0.6),
    ("KONTAKT", "C", "window", ["Kontakt"], 0.4),
    ("ZAEHLER", "U", "counter", ["Zaehler"], 1.2),
    ("SOLL", "N", "setpoint", ["Programm", "Thermostat", "Zentrale"], 0.3),
]


def object_list(count):
    chosen = list(NAMED[:count])
    for i in range(len(chosen), count):
        prefix, kind, motion, sources, rate = MOTIONS[i % len(MOTIONS)]
        chosen.append(("%s_%03d" % (prefix, i + 1), kind, motion, sources, rate))
    return chosen


class Track:
    """The moving value of one object."""

    BASE = {"temperature": 5.0, "setpoint": 20.0, "counter": 12000.0, "humidity": 60.0}

    def __init__(self, name, kind, motion, sources, mean_step, rng):
        self.name, self.kind, self.motion, self.sources = name, kind, motion, sources
        self.mean_step = mean_step
        self.base = self.BASE.get(motion, 0.0) + rng.uniform(-3, 3)
        self.level = self.base
        self.on = False

    def next_row(self, t, rng):
        motion = self.motion
        if motion in ("switch", "window"):
            self.on = not self.on
            value = "1" if self.on else "0"
            text = value if motion == "switch" else ("offen" if self.on else "geschlossen")
        elif motion == "counter":
            self.level += rng.uniform(0.05, 0.4)
            value = text = "%.1f" % self.level
        elif motion == "setpoint":
            self.level = rng.choice((17.0, 19.5, 21.0, 22.5))
            value = text = "%.1f" % self.level
        else:
            self.level += rng.uniform(-0.4, 0.4) + (self.base - self.level) * 0.05
            value = text = "%.1f" % self.level
        source = self.sources[0] if len(self.sources) == 1 else rng.choice(self.sources)
        state = "X" if rng.random() < 0.04 else ""
        return (t, self.name, self.kind, value, text, source, state)


def rows(total, days, start, objects, rng):
    span = days * 86400
    weight = sum(rate for *_, rate in objects)
    # Mean step of an object so that all of them together give `total` rows.
    tracks = [Track(name, kind, motion, sources, span * weight / (rate * total), rng)
              for name, kind, motion, sources, rate in objects]
    heap = [(start + rng.uniform(0, tr.mean_step), i) for i, tr in enumerate(tracks)]
    heapq.heapify(heap)
    for _ in range(total):
        t, i = heap[0]
        tr = tracks[i]
        heapq.heapreplace(heap, (t + tr.mean_step * rng.uniform(0.5, 1.5), i))
        yield tr.next_row(int(t), rng)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("output")
    parser.add_argument("rows", type=int)
    parser.add_argument("--days", type=int, default=182)
    parser.add_argument("--objects", type=int, default=100)
    parser.add_argument("--start", default="2026-01-01")
    parser.add_argument("--index", action="store_true")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    start = calendar.timegm(time.strptime(args.start, "%Y-%m-%d"))
    rng = random.Random(args.seed)
    if os.path.exists(args.output):
        os.remove(args.output)
    con = sqlite3.connect(args.output, isolation_level=None)
    con.execute("pragma journal_mode=off")
    con.execute("pragma synchronous=off")
    con.execute("create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, "
                "Value text, ValueText text, Source text, State text)")
    con.execute("begin")
    con.executemany("insert into HISTORY values (?,?,?,?,?,?,?)",
                    rows(args.rows, args.days, start, object_list(args.objects), rng))
    con.execute("commit")
    if args.index:
        add_indexes(con)
    con.close()
    print("%s: %d rows, %d objects, %d days from %s%s" % (
        args.output, args.rows, args.objects, args.days, args.start,
        ", indexed" if args.index else ""))


def add_indexes(con):
    con.execute("create index HISTORY_TIME on HISTORY (TimeStamp)")
    con.execute("create index HISTORY_OBJ_TIME on HISTORY (ObjName, TimeStamp)")


if __name__ == "__main__":
    main()
