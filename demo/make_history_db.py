#!/usr/bin/env python3
"""Creates a history database with realistic rows, as the add-on records them.

Usage: make_history_db.py OUTPUT DAYS OBJECTS [--seed N]

OUTPUT is replaced. The rows cover the DAYS days up to now for the first
OBJECTS objects of the list below (further objects are numbered sensors).
TimeStamp is the local wall-clock count (UTC seconds plus the local offset,
under the TZ of the environment); about one row in 25 has State "X". Only the
Python standard library is used, so benchmarks can call it too.
"""
import argparse
import os
import random
import sqlite3
import time

# name, kind, how its values move, sources that set it
OBJECTS = [
    ("LICHT_KUECHE", "C", "switch", ["Taster", "Zentrale", "Programm"]),
    ("TEMP_AUSSEN", "N", "temperature", ["Sensor"]),
    ("HEIZUNG_BAD", "N", "setpoint", ["Programm", "Thermostat", "Zentrale"]),
    ("FENSTER_WOHNZIMMER", "C", "window", ["Kontakt"]),
    ("STROM_ZAEHLER", "U", "counter", ["Zaehler"]),
    ("TASTER_FLUR", "C", "button", ["Taster"]),
    ("LICHT_GARTEN", "C", "switch", ["Bewegungsmelder", "Programm"]),
    ("FEUCHTE_KELLER", "N", "humidity", ["Sensor"]),
]


def objects(count):
    chosen = OBJECTS[:count]
    for i in range(len(chosen), count):
        chosen.append(("SENSOR_%02d" % (i + 1), "N", "temperature", ["Sensor"]))
    return chosen


def rows_of(name, kind, motion, sources, start, end, rng):
    """(TimeStamp, ObjName, ObjKind, Value, ValueText, Source, State) rows."""
    base = {"temperature": 5.0, "setpoint": 20.0, "counter": 12000.0,
            "humidity": 60.0}.get(motion, 0.0)
    level = base
    on = False
    t = start + rng.randint(0, 600)
    while t < end:
        if motion in ("switch", "window"):
            on = not on
            value = "1" if on else "0"
            text = value if motion == "switch" else ("offen" if on else "geschlossen")
            step = rng.randint(900, 4 * 3600)
        elif motion == "button":
            value = "1"
            text = rng.choice(["kurz", "lang"])
            step = rng.randint(1800, 6 * 3600)
        elif motion == "counter":
            level += rng.uniform(0.05, 0.4)
            value = text = "%.1f" % level
            step = 900
        elif motion == "setpoint":
            level = rng.choice([17.0, 19.5, 21.0, 22.5])
            value = text = "%.1f" % level
            step = rng.randint(2 * 3600, 8 * 3600)
        else:
            level += rng.uniform(-0.4, 0.4) + (base - level) * 0.05
            value = text = "%.1f" % level
            step = rng.randint(300, 1200)
        wall = t + time.localtime(t).tm_gmtoff
        state = "X" if rng.random() < 0.04 else ""
        yield (wall, name, kind, value, text, rng.choice(sources), state)
        t += step


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("output")
    parser.add_argument("days", type=int)
    parser.add_argument("objects", type=int)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    end = int(time.time())
    start = end - args.days * 86400
    if os.path.exists(args.output):
        os.remove(args.output)
    con = sqlite3.connect(args.output)
    con.execute("create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, "
                "Value text, ValueText text, Source text, State text)")
    count = 0
    for obj in objects(args.objects):
        rows = list(rows_of(*obj, start, end, rng))
        con.executemany("insert into HISTORY values (?,?,?,?,?,?,?)", rows)
        count += len(rows)
    con.commit()
    con.close()
    print("%s: %d rows, %d objects, %d days" % (args.output, count, args.objects, args.days))


if __name__ == "__main__":
    main()
