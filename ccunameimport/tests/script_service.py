#!/usr/bin/env python3
"""A simulated CCU script service for the tests and the demo of CcuNameImport.

Listens for HTTP/1.1 on ADDRESS:8181, takes the POST of the device-name script
to /Test.exe, checks it (method, path, headers, the exact 682-byte script) and
answers with the address=name lines of a set of devices and channels, in
Latin-1, like the central unit's script service; the body closes with CR LF.

    python3 script_service.py --host 127.0.0.1 [--port 8181] [--mode MODE]
                              [--record FILE]

Modes:
  normal      the whole answer at once, then the connection is closed
  keep-open   the whole answer, but the connection stays open
  silent      accepts and reads the request, sends nothing
  slow        the answer in pieces of --chunk-size bytes, --chunk-delay
              seconds apart (many small chunks, or more than the client waits)
  huge        an answer of more than 256,000 bytes
  no-separator  header lines ended by LF only: no CR LF CR LF in the answer
  bare        the body is the lines alone, without the closing CR LF

--record FILE stores the bytes of the last request exactly as they came.
Once listening, the service prints one line "ready" on standard output.
A request that does not match is answered 400 and reported on standard error.
Only Python's standard library is used.
"""

import argparse
import http.server
import socket
import sys
import time

# The device-name script, piece by piece: leading tabs, text, trailing blanks.
SCRIPT_PIECES = [
    (0, 'string id;', 43),
    (1, 'foreach(id, root.Devices().EnumIDs()){', 16),
    (2, 'var dev=dom.GetObject(id);', 26),
    (2, 'if (dev) {', 42),
    (3, 'Write(""#dev.Address()#"="#dev.Name()#"\n");', 1),
    (2, '}', 51),
    (3, 'string cid;', 39),
    (3, 'foreach(cid, dev.Channels().EnumIDs()){', 11),
    (3, 'var ch=dom.GetObject(cid);', 24),
    (3, 'if (ch) {', 41),
    (4, 'Write(""#ch.Address()#"="#ch.Name()#"\n");', 1),
    (4, '}', 47),
    (3, '}', 49),
    (1, '}', 0),
]
SCRIPT = b''.join(b'\t' * tabs + text.encode('ascii') + b' ' * blanks
                  for tabs, text, blanks in SCRIPT_PIECES)
assert len(SCRIPT) == 682

# What the script writes on a small installation: every device followed by its
# channels, names in Latin-1; the central unit's own BidCoS objects among them
# and one object without an address.
DEVICE_LINES = [
    'KEQ0412345=Heizung K\xfcche',
    'KEQ0412345:0=Heizung K\xfcche:0',
    'KEQ0412345:1=Heizung K\xfcche (Thermostat)',
    'KEQ0412345:2=Heizung K\xfcche (Ventil)',
    'BidCoS-RF=Zentrale BidCoS-RF',
    'BidCoS-RF:0=Zentrale BidCoS-RF:0',
    'BidCoS-RF:1=Zentrale Taste 1',
    'BidCoS-RF:2=Zentrale Taste 2',
    'LEQ1098765=Schalter Au\xdfenlicht',
    'LEQ1098765:0=Schalter Au\xdfenlicht:0',
    'LEQ1098765:1=Au\xdfenlicht Stra\xdfe/Einfahrt',
    'MEQ0567123=Fenster B\xe4der [OG]',
    'MEQ0567123:0=Fenster B\xe4der [OG]:0',
    'MEQ0567123:1=Fenster Bad-OG [links]',
    'NEQ0023456=Rollladen \xd6stliches Zimmer',
    'NEQ0023456:1=Rollladen \xd6st. Zimmer',
    'NEQ0023456:2=Gro\xdfe T\xfcr \xdcberdachung',
    'BidCoS-Wir=Zentrale BidCoS-Wir',
    'BidCoS-Wir:1=Zentrale Eingang 1',
    'OEQ1777001=Wetterstation Garten',
    'OEQ1777001:1=Au\xdfentemperatur (\xb0C) & Feuchte',
    '=Virtuelle Gruppe \xc4u\xdferes',
    'PEQ2200418=Bewegungsmelder Flur',
    'PEQ2200418:1=Bewegung Flur/Treppe',
    'PEQ2200418:2=Helligkeit \xfc. T\xfcr',
]
LINES = b''.join(line.encode('latin-1') + b'\n' for line in DEVICE_LINES)
HUGE_REPEAT = 400  # about 330,000 bytes of lines


def response_bytes(mode):
    """The whole answer of a mode, headers and body."""
    lines = LINES * HUGE_REPEAT if mode == 'huge' else LINES
    body = lines if mode == 'bare' else lines + b'\r\n'
    if mode == 'no-separator':
        return (b'HTTP/1.1 200 OK\nContent-Type: text/plain\nContent-Length: %d\n\n'
                % len(body)) + body
    connection = b'' if mode == 'keep-open' else b'Connection: close\r\n'
    return (b'HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=iso-8859-1\r\n'
            b'Content-Length: %d\r\n' % len(body)) + connection + b'\r\n' + body


class Recorder:
    """Reads through to the socket file and keeps every byte it passes on."""

    def __init__(self, raw):
        self.raw = raw
        self.seen = bytearray()

    def readline(self, *args):
        data = self.raw.readline(*args)
        self.seen += data
        return data

    def read(self, *args):
        data = self.raw.read(*args)
        self.seen += data
        return data

    def close(self):
        self.raw.close()


class ScriptServiceHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    server_version = 'ScriptService/1.0'

    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.rfile = Recorder(self.rfile)

    def log_message(self, format, *args):  # quiet: the tests read stdout
        pass

    def do_POST(self):
        length = int(self.headers.get('Content-Length', '0'))
        body = self.rfile.read(length)
        request = bytes(self.rfile.seen)
        if self.server.record:
            with open(self.server.record, 'wb') as f:
                f.write(request)
        problems = self.check(request, body)
        self.close_connection = True
        if problems:
            text = ('request rejected: %s\n' % '; '.join(problems)).encode('ascii')
            sys.stderr.write(text.decode('ascii'))
            self.wfile.write(b'HTTP/1.1 400 Bad Request\r\nContent-Length: %d\r\n'
                             b'Connection: close\r\n\r\n' % len(text) + text)
            return
        self.answer()

    def check(self, request, body):
        problems = []
        if self.command != 'POST' or self.path != '/Test.exe':
            problems.append('not POST /Test.exe')
        if self.headers.get('Host') != self.server.server_address[0]:
            problems.append('Host is %r' % self.headers.get('Host'))
        if self.headers.get('Content-Type') != 'text/xml':
            problems.append('Content-Type is %r' % self.headers.get('Content-Type'))
        if b'\r\nContent-Length:682\r\n' not in request:
            problems.append('no Content-Length:682 line')
        if body != SCRIPT:
            problems.append('the script differs')
        return problems

    def answer(self):
        mode = self.server.mode
        if mode == 'silent':
            self.wait_for_close()
            return
        data = response_bytes(mode)
        try:
            if mode == 'slow':
                size = self.server.chunk_size
                for at in range(0, len(data), size):
                    self.wfile.write(data[at:at + size])
                    time.sleep(self.server.chunk_delay)
            else:
                self.wfile.write(data)
        except OSError:
            return  # the client stopped reading
        if mode == 'keep-open':
            self.wait_for_close()

    def wait_for_close(self):
        self.connection.settimeout(30)
        try:
            while self.connection.recv(4096):
                pass
        except OSError:
            pass


class ScriptService(http.server.ThreadingHTTPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    parser = argparse.ArgumentParser(description='Simulated CCU script service.')
    parser.add_argument('--host', default='127.0.0.1')
    parser.add_argument('--port', type=int, default=8181)
    parser.add_argument('--mode', default='normal',
                        choices=['normal', 'keep-open', 'silent', 'slow', 'huge',
                                 'no-separator', 'bare'])
    parser.add_argument('--chunk-size', type=int, default=16)
    parser.add_argument('--chunk-delay', type=float, default=0.01)
    parser.add_argument('--record', default='')
    args = parser.parse_args()
    server = ScriptService((args.host, args.port), ScriptServiceHandler)
    server.mode = args.mode
    server.chunk_size = args.chunk_size
    server.chunk_delay = args.chunk_delay
    server.record = args.record
    print('ready', flush=True)
    sys.stderr.write('script service on http://%s:%d/Test.exe (mode %s)\n'
                     % (args.host, args.port, args.mode))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    server.server_close()


if __name__ == '__main__':
    main()
