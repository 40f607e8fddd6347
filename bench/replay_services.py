#!/usr/bin/env python3
"""Replays the listDevices replies of running services from memory.

Usage: replay_services.py --from LIVE_ADDRESS --address REPLAY_ADDRESS

Asks the services on the ports 2001, 2000 and 2010 of the --from address once
for listDevices(true), keeps each reply body, and then answers every POST on
the same ports of --address with those bytes. Prints "ready" once every port
listens; runs until SIGTERM. The benchmark uses it to time the clients alone:
Python's simulated services build and marshal the list anew on every call,
which would otherwise weigh in on both sides.
"""
import argparse
import http.client
import http.server
import signal
import sys
import threading
import xmlrpc.client

PORTS = ("2001", "2000", "2010")


def fetch(host, port):
    conn = http.client.HTTPConnection(host, int(port), timeout=120)
    conn.request("POST", "/RPC2", xmlrpc.client.dumps((True,), "listDevices"),
                 {"Content-Type": "text/xml"})
    reply = conn.getresponse()
    body = reply.read()
    conn.close()
    if reply.status != 200:
        sys.exit("port %s answered %d" % (port, reply.status))
    return body


def handler_for(body):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            self.rfile.read(int(self.headers.get("Content-Length", "0")))
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass
    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--from", dest="source", required=True)
    parser.add_argument("--address", required=True)
    args = parser.parse_args()
    for port in PORTS:
        server = http.server.ThreadingHTTPServer((args.address, int(port)),
                                                 handler_for(fetch(args.source, port)))
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("ready", flush=True)
    signal.pause()


if __name__ == "__main__":
    main()
