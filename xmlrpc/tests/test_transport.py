"""Transport tests of libXmlRpc through xmlrpc_probe against real servers on loopback.

Python's own xmlrpc.server produces the replies, an implementation independent
of ours; a raw HTTP server misbehaves on purpose. Each case uses a loopback
address of its own (testkit's loopback_address: another test run on the machine
uses others). tests/testkit.py's program() finds the probe program.
"""

import datetime
import http.server
import os
import socket
import sys
import threading
import unittest
import xmlrpc.client
import xmlrpc.server

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
import testkit  # noqa: E402

PROBE = testkit.program("xmlrpc_probe")
ENV = dict(os.environ, TZ="Europe/Berlin")


def probe(*args):
    done = testkit.run([PROBE, *args], ENV)
    return done.returncode, done.stdout


class _RecordingHandler(xmlrpc.server.SimpleXMLRPCRequestHandler):
    rpc_paths = ("/", "/RPC2")

    def do_POST(self):
        self.server.requests.append((self.path, dict(self.headers)))
        super().do_POST()


def sample():
    return {
        "text": "a & <b> \u00e4",
        "int": -2147483648,
        "yes": True,
        "no": False,
        "double": 0.1,
        "when": datetime.datetime(2024, 3, 5, 14, 30, 0),
        "bytes": xmlrpc.client.Binary(b"\x00\xffab"),
        "none": None,
        "list": [1, "x", [], {}],
        "euro": "\u20ac",
    }


def fail(code):
    raise xmlrpc.client.Fault(code, "Unknown <method> & more")


class PythonServerTest(unittest.TestCase):
    """Replies written by Python's xmlrpc server, calls read by it."""

    @classmethod
    def setUpClass(cls):
        cls.host = testkit.loopback_address([2001])
        cls.server = xmlrpc.server.SimpleXMLRPCServer(
            (cls.host, 2001), requestHandler=_RecordingHandler, logRequests=False,
            allow_none=True)
        cls.server.requests = []
        cls.server.register_function(sample)
        cls.server.register_function(lambda *args: list(args), "echo")
        cls.server.register_function(fail)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()

    def test_every_type_from_python(self):
        self.assertEqual(probe("xmlrpc://%s:2001" % self.host, "sample"), (0, (
            b"ok [bytes:<AP9hYg==>,double:0.1,euro:\"?\",int:-2147483648,list:{1,\"x\",{},[]},"
            b"no:false,none:nil,text:\"a & <b> \xe4\",when:20240305T14:30:00,yes:true]\n")))

    def test_every_type_to_python_and_back(self):
        status, out = probe("%s:2001" % self.host, "echo", "s:a<b & c>d\xe4".encode("latin-1"),
                            "s:", "i:-7", "b:1", "b:0", "d:-0.00025", "d:1e300",
                            "t:19991231T23:59:58", "x:\x01\x02", "n:")
        self.assertEqual(status, 0)
        self.assertEqual(out, b"ok {\"a<b & c>d\xe4\",\"\",-7,true,false,-0.00025,1e+300,"
                              b"19991231T23:59:58,<AQI=>,nil}\n")

    def test_fault(self):
        self.assertEqual(probe("http://%s:2001/RPC2" % self.host, "fail", "i:-3"), (2, (
            b"fault [faultCode:-3,faultString:\"Unknown <method> & more\"]\n")))

    def test_unknown_method_is_a_fault(self):
        status, out = probe("xmlrpc://%s:2001" % self.host, "noSuchMethod")
        self.assertEqual(status, 2)
        self.assertTrue(out.startswith(b"fault [faultCode:1,faultString:"), out)

    def test_url_forms_reach_path_and_port(self):
        self.server.requests.clear()
        for form in ("%s", "xmlrpc://%s", "xmlrpc://%s:2001/", "http://%s:2001/RPC2"):
            url = form % self.host
            self.assertEqual(probe(url, "echo", "i:1"), (0, b"ok {1}\n"), url)
        self.assertEqual([path for path, _ in self.server.requests], ["/", "/", "/", "/RPC2"])
        headers = self.server.requests[0][1]
        self.assertEqual(headers["Content-Type"], "text/xml")
        self.assertEqual(probe("http://%s:2001/other" % self.host, "echo"),
                         (1, b"failed HTTP status 404\n"))


class _BadHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, body, length=None, status=200):
        self.send_response(status)
        self.send_header("Content-Type", "text/xml")
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        good = (b"<?xml version='1.0'?><methodResponse><params><param><value><int>1</int>"
                b"</value></param></params></methodResponse>")
        try:
            if self.path == "/good":
                self.reply(good, len(good))
            elif self.path == "/malformed":
                self.reply(b"<methodResponse><params>", 24)
            elif self.path == "/html":
                body = b"<html><body>busy</body></html>"
                self.reply(body, len(body))
            elif self.path == "/empty":
                self.reply(b"", 0)
            elif self.path == "/status500":
                self.reply(good, len(good), 500)
            elif self.path == "/announced-huge":
                self.reply(b"<" * 65536, 100 * 1024 * 1024)
            elif self.path == "/endless":
                self.reply(b"<methodResponse>")
                while True:
                    self.wfile.write(b"<!-- more -->" * 4096)
            elif self.path == "/drip":
                self.reply(b"<methodResponse>")
                while not self.server.stop.wait(0.2):
                    self.wfile.write(b" ")
                    self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass


class MisbehavingServerTest(unittest.TestCase):
    """Replies no call can use: every one must fail cleanly."""

    @classmethod
    def setUpClass(cls):
        cls.host = testkit.loopback_address([2001])
        cls.server = http.server.ThreadingHTTPServer((cls.host, 2001), _BadHandler)
        cls.server.daemon_threads = True
        cls.server.stop = threading.Event()
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        # Accepts connections (backlog) and never answers.
        cls.silent_host = testkit.loopback_address([2001])
        cls.silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        cls.silent.bind((cls.silent_host, 2001))
        cls.silent.listen(4)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop.set()
        cls.server.shutdown()
        cls.server.server_close()
        cls.silent.close()

    def test_good_reply_first(self):
        self.assertEqual(probe("http://%s:2001/good" % self.host, "m"), (0, b"ok 1\n"))

    def test_unusable_replies(self):
        cases = [
            ("/malformed", [], b"failed reply is not well-formed XML"),
            ("/html", [], b"failed reply is no methodResponse"),
            ("/empty", [], b"failed reply is not well-formed XML"),
            ("/status500", [], b"failed HTTP status 500"),
            ("/announced-huge", ["--max-bytes", "1048576"], b"failed reply larger than 1048576"),
            ("/endless", ["--max-bytes", "1048576"], b"failed reply larger than 1048576"),
            ("/drip", ["--timeout", "2"], b"failed Timeout was reached"),
        ]
        for path, options, start in cases:
            with self.subTest(path=path):
                status, out = probe(*options, "http://%s:2001%s" % (self.host, path), "m")
                self.assertEqual(status, 1, out)
                self.assertTrue(out.startswith(start), out)

    def test_silent_and_refused(self):
        self.assertEqual(probe("--timeout", "2", self.silent_host, "m"),
                         (1, b"failed Timeout was reached\n"))
        status, out = probe(testkit.loopback_address([2001]), "m")
        self.assertEqual(status, 1)
        self.assertTrue(out.startswith(b"failed Couldn't connect"), out)

    def test_unusable_url(self):
        url = "ftp://%s:2001" % self.host
        self.assertEqual(probe(url, "m"), (1, b"failed unusable URL \"%s\"\n" % url.encode()))


if __name__ == "__main__":
    unittest.main()
