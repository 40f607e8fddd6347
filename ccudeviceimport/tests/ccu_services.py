#!/usr/bin/env python3
"""Simulated XML-RPC interface services of the central unit, for tests and the demo.

Serves listDevices and reportValueUsage on the ports 2001, 2000 and 2010 of
one address with Python's own XML-RPC server, an implementation independent
of ours. Prints "ready" on stdout once every port listens; runs until it gets
SIGTERM or SIGINT.

  ccu_services.py [--address 127.0.2.1] [--down 2000] [--fault 2001]
                  [--silent 2010] [--large 3000] [--usage-answer true]
                  [--log calls.jsonl]

--down P,...    no listener on these ports (connection refused)
--fault P,...   every call on these ports gets an XML-RPC fault
--silent P,...  accept connections on these ports and never answer
--large N       N devices with three channels each on every port
--usage-answer  what reportValueUsage returns: true, false, text or int
--log FILE      one JSON line per call received (port, method, params)
"""

import argparse
import json
import random
import signal
import socket
import socketserver
import sys
import threading
import xmlrpc.client
import xmlrpc.server

PORTS = ("2001", "2000", "2010")

# Device kinds per port: (type, channel types). Channel 0 is the maintenance
# channel every device has.
RADIO_KINDS = [
    ("KV-SW1-FM", ["SWITCH"]),
    ("KV-SEC-SC", ["SHUTTER_CONTACT"]),
    ("KV-TC-IT", ["WEATHER", "CLIMATE", "WINDOW", "REMOTE"]),
    ("KV-PB-2-WM", ["KEY", "KEY"]),
    ("KV-ES-PMSW1", ["SWITCH", "POWERMETER"]),
    ("KV-LC-BL1", ["BLIND"]),
]
WIRED_KINDS = [
    ("KV-W-SW6", ["KEY"] * 6),
    ("KV-W-IO&12", ["INPUT"] * 4),
    ("KV-W-SEN-TH", ["WEATHER"]),
]
IP_KINDS = [
    ("KVIP-ETRV", ["HEATING", "CLIMATE"]),
    ("KVIP-SWDO", ["CONTACT"]),
    ("KVIP-BSM", ["KEY", "KEY", "SWITCH"]),
    ("KVIP-STHD", ["WEATHER", "CLIMATE"]),
]
FAMILIES = {"2001": (RADIO_KINDS, 24), "2000": (WIRED_KINDS, 6), "2010": (IP_KINDS, 12)}


def _address(port, number):
    if port == "2001":
        return "KEQ%07d" % (1000000 + number * 7919 % 9000000)
    if port == "2000":
        return "KEW%07d" % (2000000 + number * 104729 % 7000000)
    return "%014X" % (0x0001D3C0000000 + number * 0x9E3779B1 % 0xFFFFFFFF)


def _shuffled(record, rng):
    """The same members in a random order: services send them in any order."""
    items = list(record.items())
    rng.shuffle(items)
    return dict(items)


def device_list(port, large=0):
    """The listDevices answer of one port: each device, then its channels."""
    kinds, count = FAMILIES[port]
    if large:
        count = large
    rng = random.Random(int(port))
    records = []
    for number in range(count):
        dev_type, channel_types = kinds[number % len(kinds)]
        if large:
            channel_types = channel_types[:2] + ["KEY"] * (2 - len(channel_types[:2]))
        address = _address(port, number)
        children = ["%s:%d" % (address, i) for i in range(len(channel_types) + 1)]
        device = {
            "ADDRESS": address,
            "TYPE": dev_type,
            "PARENT": "",
            "PARENT_TYPE": "",
            "CHILDREN": children,
            "FIRMWARE": "1.%d" % (number % 9) if number % 11 else "2.8 <rc1> & more",
            "FLAGS": 1,
            "PARAMSETS": ["MASTER", "SERVICE"],
            "RX_MODE": 1 + number % 4,
            "VERSION": 10 + number % 5,
            "UPDATABLE": number % 3 == 0,
        }
        records.append(_shuffled(device, rng))
        for index, channel_type in enumerate(["MAINTENANCE"] + channel_types):
            channel = {
                "ADDRESS": children[index],
                "TYPE": channel_type,
                "PARENT": address,
                "PARENT_TYPE": dev_type,
                "INDEX": index,
                "DIRECTION": 0 if index == 0 else 1 + index % 2,
                "FLAGS": 3 if index == 0 else 1,
                "PARAMSETS": ["MASTER", "VALUES"] + ([] if index == 0 else ["LINK"]),
                "VERSION": 10 + number % 5,
            }
            records.append(_shuffled(channel, rng))
    return records


def expected_import_file(host, port, large=0):
    """The import file the device import should write for this port's list."""
    lines = ["##;IP=%s,Port=%s \n" % (host, port)]
    for record in device_list(port, large):
        if ":" not in record["ADDRESS"]:
            lines.append("%s;%s\n" % (record["ADDRESS"], record["TYPE"]))
    return "".join(lines).encode("latin-1")


class _Server(socketserver.ThreadingMixIn, xmlrpc.server.SimpleXMLRPCServer):
    daemon_threads = True


class _Services:
    def __init__(self, port, faulty, large, usage_answer, log):
        self.port = port
        self.faulty = faulty
        self.large = large
        self.usage_answer = usage_answer
        self.log = log

    def _record(self, method, params):
        if self.log:
            with _log_lock, open(self.log, "a", encoding="utf-8") as out:
                out.write(json.dumps({"port": self.port, "method": method,
                                      "params": params}) + "\n")

    def listDevices(self, *params):
        self._record("listDevices", list(params))
        if self.faulty:
            raise xmlrpc.client.Fault(-1, "Failure & <no list>")
        return device_list(self.port, self.large)

    def reportValueUsage(self, *params):
        self._record("reportValueUsage", list(params))
        if self.faulty:
            raise xmlrpc.client.Fault(-2, "Unknown instance")
        return {"true": True, "false": False, "text": "ok", "int": 1}[self.usage_answer]


_log_lock = threading.Lock()


def _silent(sock):
    held = []
    while True:
        conn, _ = sock.accept()
        held.append(conn)  # kept open, never read from or answered


def _ports(text):
    return {p for p in text.split(",") if p}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--address", default="127.0.2.1")
    parser.add_argument("--down", type=_ports, default=set())
    parser.add_argument("--fault", type=_ports, default=set())
    parser.add_argument("--silent", type=_ports, default=set())
    parser.add_argument("--large", type=int, default=0)
    parser.add_argument("--usage-answer", default="true", choices=["true", "false", "text", "int"])
    parser.add_argument("--log")
    args = parser.parse_args()

    for port in PORTS:
        if port in args.down:
            continue
        if port in args.silent:
            sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind((args.address, int(port)))
            sock.listen(16)
            threading.Thread(target=_silent, args=(sock,), daemon=True).start()
            continue
        server = _Server((args.address, int(port)), logRequests=False)
        server.register_instance(
            _Services(port, port in args.fault, args.large, args.usage_answer, args.log))
        threading.Thread(target=server.serve_forever, daemon=True).start()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("ready", flush=True)
    try:
        signal.pause()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
