"""Faults around the two imports: a script service that answers with an
error, an empty, cut, reset, dripping or chunked answer, an XML-RPC service
that stalls or closes in the middle of its reply, and a full disk for the
names and import files. Each run must end with a clear status and keep the
last good files unless it has a complete new list.

Needs PROGRAM_CCUNAMEIMPORT and PROGRAM_CCUDEVICEIMPORT and
TZ=Europe/Berlin. Peers listen on a loopback address of their own, one per
case (the programs' ports are fixed).
"""
import os
import resource
import sys
import threading
import unittest
import xmlrpc.server

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import faultkit  # noqa: E402

NAME_IMPORT = faultkit.program("CcuNameImport")
DEVICE_IMPORT = faultkit.program("CcuDeviceImport")

NAMES = b"".join(b"KEQ%07d=Ger\xe4t %d\nKEQ%07d_1=Kanal %d\n" % (i, i, i, i) for i in range(40))
NEW_NAMES = b"".join(b"LEQ%07d=Neu %d\nLEQ%07d_1=Kanal %d\n" % (i, i, i, i) for i in range(40))
PREVIOUS_TEXT = b"\r\nXEQ0000001=Alter Name\n\n"
PREVIOUS_IMP = b"XEQ0000001=Alter_Name\n"
LEFT = (b"CCUDevNames.txt and CCUDevNames.imp left unchanged\n")
MSG_NO_ANSWER = b"CcuNameImport: no name list received; " + LEFT
MSG_CUT = b"CcuNameImport: the answer was cut off; " + LEFT


def script_reply(body, declared=None):
    length = len(body) + 2 if declared is None else declared
    return (b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n" % length
            + body + b"\r\n")


def chunked(body, size, last=b"0\r\n\r\n"):
    """body in chunks of `size` bytes (the last one shorter), then `last`."""
    pieces = [body[i:i + size] for i in range(0, len(body), size)]
    return (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
            + b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in pieces) + last)


def imported(lines):
    """The import lines of whole name lines."""
    out = b""
    for line in lines.splitlines(keepends=True):
        out += line.replace(b" ", b"_").replace(b"\xe4", b"ae")
    return out


class NameImportFaults(unittest.TestCase):
    def setUp(self):
        self.dir = faultkit.scratch(self, "faults_names.")
        faultkit.write(os.path.join(self.dir, "CCUDevNames.txt"), PREVIOUS_TEXT)
        faultkit.write(os.path.join(self.dir, "CCUDevNames.imp"), PREVIOUS_IMP)

    def serve(self, address, reply, then):
        peer = faultkit.RawPeer(address, 8181, reply, then)
        self.addCleanup(peer.stop)

    def run_import(self, address, preexec_fn=None):
        return faultkit.run([NAME_IMPORT, address], cwd=self.dir, preexec_fn=preexec_fn)

    def files(self):
        return (faultkit.read(os.path.join(self.dir, "CCUDevNames.txt")),
                faultkit.read(os.path.join(self.dir, "CCUDevNames.imp")),
                faultkit.files_in(self.dir))

    def test_answers_and_what_they_leave(self):
        """Each row: how the service answers, the exit status, the message, and
        whether the files are the new list's or the good ones of before (81
        and 80 lines), kept byte for byte."""
        good = (b"\r\n" + NAMES + b"\n", imported(NAMES))
        new = (b"\r\n" + NEW_NAMES + b"\n", imported(NEW_NAMES))
        plain = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n"
        half = NEW_NAMES[:len(NEW_NAMES) // 2 + 5]
        error_page = b"<html><body>Internal error</body></html>\r\n"
        with_nul = plain + NEW_NAMES + b"\r\n"
        with_nul = with_nul[:300] + b"\0" + with_nul[300:]
        cases = [
            ("complete, stays open", script_reply(NEW_NAMES), "stall", 0, b"", new),
            ("complete, no length, closed", plain + NEW_NAMES + b"\r\n", "close", 0, b"", new),
            ("HTTP 500", b"HTTP/1.1 500 Internal Server Error\r\nContent-Length: %d\r\n\r\n"
             % len(error_page) + error_page, "close", 251,
             b"CcuNameImport: the service answered with status 500; " + LEFT, good),
            ("HTTP 404", b"HTTP/1.1 404 Not Found\r\n\r\n" + error_page, "close", 251,
             b"CcuNameImport: the service answered with status 404; " + LEFT, good),
            ("Content-Length: 0", b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "stall", 255,
             MSG_NO_ANSWER, good),
            ("NUL at byte 300, no length", with_nul, "close", 0, b"", new),
            ("reset mid-answer, no length", [plain + half, ("sleep", 0.1), "reset"], "close",
             254, MSG_CUT, good),
            ("reset mid-answer, with length", [script_reply(NEW_NAMES)[:400], ("sleep", 0.1),
                                                "reset"], "close", 254, MSG_CUT, good),
            ("shorter than its length, stalls", script_reply(NEW_NAMES)[:-300], "stall", 254,
             MSG_CUT, good),
            ("shorter than its length, closes", script_reply(NEW_NAMES)[:-300], "close", 254,
             MSG_CUT, good),
            ("1 byte every 0.5 s past the window", [plain, ("drip", NEW_NAMES[:40], 0.5)],
             "close", 254, MSG_CUT, good),
            ("chunked, names split at chunk edges", chunked(NEW_NAMES, 0x190), "stall", 0, b"",
             new),
            ("chunked, 7-byte chunks", chunked(NEW_NAMES, 7), "close", 0, b"", new),
            ("chunked, no last chunk", chunked(NEW_NAMES, 0x190, last=b""), "close", 254,
             MSG_CUT, good),
            ("stops within the headers, stalls", b"HTTP/1.1 200 OK\r\nContent-Le", "stall", 255,
             MSG_NO_ANSWER, good),
            ("stops within the headers, closes", b"HTTP/1.1 200 OK\r\nContent-Le", "close", 255,
             MSG_NO_ANSWER, good),
        ]
        for name, reply, then, status, message, files in cases:
            with self.subTest(case=name):
                faultkit.write(os.path.join(self.dir, "CCUDevNames.txt"), good[0])
                faultkit.write(os.path.join(self.dir, "CCUDevNames.imp"), good[1])
                address = faultkit.loopback_address([8181])
                peer = faultkit.RawPeer(address, 8181, reply, then)
                self.addCleanup(peer.stop)
                done = self.run_import(address)
                self.assertEqual((done.returncode, done.stdout), (status, message))
                self.assertEqual(self.files(), files + (["CCUDevNames.imp", "CCUDevNames.txt"],))
                head = (b"POST /Test.exe HTTP/1.1\r\nHost: " + address.encode() +
                        b"\r\nContent-Type: text/xml\r\nContent-Length:682\r\n\r\n")
                self.assertEqual(len(peer.requests), 1)
                self.assertTrue(peer.requests[0].startswith(head))
                self.assertEqual(len(peer.requests[0]), len(head) + 682)

    def test_full_disk_keeps_both_files(self):
        address = faultkit.loopback_address([8181])
        self.serve(address, script_reply(NAMES), "close")
        # No room for the text file at all, or room for it but not the import file.
        for limit, name in ((100, b"CCUDevNames.txt"), (len(NAMES) + 3, b"CCUDevNames.imp")):
            with self.subTest(limit=limit):
                done = self.run_import(address, faultkit.limited_writes(limit))
                self.assertEqual(done.returncode, 252)
                self.assertEqual(done.stdout, b"CcuNameImport: cannot write " + name + b"\n")
                self.assertEqual(self.files(), (PREVIOUS_TEXT, PREVIOUS_IMP,
                                                ["CCUDevNames.imp", "CCUDevNames.txt"]))


DEVICES = [{"ADDRESS": "KEQ%07d" % i, "TYPE": "HM-LC-Sw1-FM", "CHILDREN": ["KEQ%07d:1" % i],
            "FIRMWARE": "2.8", "VERSION": 12} for i in range(60)]
DEVICES += [{"PARENT": "KEQ%07d" % i, "ADDRESS": "KEQ%07d:1" % i, "TYPE": "SWITCH",
             "PARENT_TYPE": "HM-LC-Sw1-FM", "INDEX": 1} for i in range(60)]
SERVICE_PORTS = [2001, 2000, 2010]
PREVIOUS_DEVICES = b"##;IP=old,Port=2001 \nOLD0000001;HM-OLD\n"


def expected_devices(host, port):
    return (("##;IP=%s,Port=%s \n" % (host, port)).encode() +
            b"".join(b"KEQ%07d;HM-LC-Sw1-FM\n" % i for i in range(60)))


class Services:
    """listDevices on 2001 and 2000 of `address` through Python's xmlrpc.server;
    on 2010 a raw peer with `reply` (None: a proper service there too)."""

    def __init__(self, case, address, reply=None, then="close"):
        for port in (2001, 2000, 2010):
            if port == 2010 and reply is not None:
                peer = faultkit.RawPeer(address, port, reply, then)
                case.addCleanup(peer.stop)
                continue
            server = xmlrpc.server.SimpleXMLRPCServer((address, port), logRequests=False,
                                                       allow_none=True)
            server.register_function(lambda *_: DEVICES, "listDevices")
            threading.Thread(target=server.serve_forever, daemon=True).start()
            case.addCleanup(server.server_close)
            case.addCleanup(server.shutdown)


def xml_reply(body, declared=None):
    length = len(body) if declared is None else declared
    return (b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n\r\n" % length
            + body)


FULL_XML = (b"<?xml version='1.0'?>\n<methodResponse><params><param><value><array><data>" +
            b"".join(b"<value><struct><member><name>ADDRESS</name><value>KEQ%07d</value></member>"
                     b"<member><name>TYPE</name><value>HM-LC-Sw1-FM</value></member></struct>"
                     b"</value>" % i for i in range(60)) +
            b"</data></array></value></param></params></methodResponse>\n")


def limited_memory():
    """A preexec_fn: at most 128 MiB of address space, as on a small device."""
    resource.setrlimit(resource.RLIMIT_AS, (128 << 20, 128 << 20))


# AddressSanitizer's shadow memory and qemu's guest space take far more address
# space than the bound, so the sanitizer and emulated builds run these cases
# without it; the plain build holds them to it.
if os.environ.get("TESTS_NO_ADDRESS_BOUND"):
    limited_memory = None  # noqa: F811


def member_xml(name, value):
    if not value.startswith("<"):
        value = "<string>%s</string>" % value.replace("&", "&amp;").replace("<", "&lt;")
    return "<member><name>%s</name><value>%s</value></member>" % (name, value)


def device_reply(devices):
    """A listDevices reply; each device a list of (member name, value text
    or value XML), sent in that order."""
    body = "".join("<value><struct>%s</struct></value>" % "".join(member_xml(*m) for m in d)
                   for d in devices)
    return xml_reply(("<?xml version='1.0'?>\n<methodResponse><params><param><value><array><data>"
                      "%s</data></array></value></param></params></methodResponse>\n"
                      % body).encode("latin-1"))


def fault_reply(text):
    return xml_reply(("<methodResponse><fault><value><struct>"
                      + member_xml("faultCode", "<int>-1</int>")
                      + member_xml("faultString", text)
                      + "</struct></value></fault></methodResponse>").encode("latin-1"))


# Device structs whose member names sort before ADDRESS, and values of the
# common extensions in members the import does not read.
UNUSUAL_DEVICES = [
    [("ADDRESS", "KEQ0000001"), ("ACTIVE", "<boolean>1</boolean>"), ("TYPE", "HM-LC-Sw1-FM"),
     ("RSSI", "<i8>-5000000000</i8>"), ("ROAMING", "<nil/>")],
    [("TYPE", "HM-ES-PMSw1"), ("AES_ACTIVE", "<i4>1</i4>"), ("AA", "<ex:nil/>"),
     ("ADDRESS", "KEQ0000002"),
     ("UPDATED", "<dateTime.iso8601>2024-03-05T14:30:00+01:00</dateTime.iso8601>")],
    [("ADDRESS", "KEQ0000002:1"), ("PARENT", "KEQ0000002"), ("TYPE", "SWITCH"),
     ("0FIRST", "<i8>7</i8>")],
    [("1", "<dateTime.iso8601>2024-03-05T14:30:00.5Z</dateTime.iso8601>"),
     ("ADDRESS", "0000D3C0001"), ("TYPE", "HmIP-SWDO")],
    [("ADDRESS", "KEQ0000004"), ("TYPE", "HM-Sec-SC"),
     ("SEEN", "<dateTime.iso8601>20240305T143000-0130</dateTime.iso8601>")],
]
FORGED = "no list\nImport von 10.0.0.1:2010 ok\r\n"


class DeviceImportFaults(unittest.TestCase):
    def setUp(self):
        self.dir = faultkit.scratch(self, "faults_devices.")
        for port in ("2001", "2000", "2010"):
            faultkit.write(self.path("CCUDevices%s.imp" % port),
                           PREVIOUS_DEVICES.replace(b"2001", port.encode()))

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_import(self, host, preexec_fn=None):
        done = faultkit.run([DEVICE_IMPORT, host], cwd=self.dir, timeout=120,
                            preexec_fn=preexec_fn)
        self.assertEqual((done.stdout, done.stderr), (b"", b""))
        return done.returncode

    def assertPrevious(self, port):
        self.assertEqual(faultkit.read(self.path("CCUDevices%s.imp" % port)),
                         PREVIOUS_DEVICES.replace(b"2001", port.encode()))

    def test_service_that_closes_in_the_middle_of_its_reply(self):
        # With and without a Content-Length: a cut reply is never an import.
        cut = FULL_XML[:len(FULL_XML) // 2]
        cases = ((1, xml_reply(cut, len(FULL_XML))),
                 (2, b"HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + cut),
                 (3, b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked"
                      b"\r\n\r\n%x\r\n" % len(cut) + cut + b"\r\n"),
                 (4, b"HTTP/1.1 200 OK\r\nContent-"))
        for number, reply in cases:
            with self.subTest(case=number):
                host = faultkit.loopback_address(SERVICE_PORTS)
                Services(self, host, reply, "close")
                self.assertEqual(self.run_import(host), 255)
                self.assertEqual(faultkit.read(self.path("XMLRPCResult.txt")), (
                    "1\nImport von %s:2001 ok\nImport von %s:2000 ok\nKein Inport von %s:2010\n\n"
                    % (host, host, host)).encode())
                self.assertPrevious("2010")
                for port in ("2001", "2000"):
                    self.assertEqual(faultkit.read(self.path("CCUDevices%s.imp" % port)),
                                     expected_devices(host, port))
                self.assertEqual(len(os.listdir(self.dir)), 4)

    def test_hostile_and_unusual_device_lists(self):
        # Each row: what the service on 2010 answers -> exit status, the line
        # the log gets for 2010, and CCUDevices2010.imp (None: the last good
        # file stays). Every run is held to 128 MiB of address space.
        H = "{host}"
        cases = (
            ("members before ADDRESS, i8, nil, ISO 8601 dates", device_reply(UNUSUAL_DEVICES), 1,
             "Import von %s:2010 ok" % H,
             "##;IP=%s,Port=2010 \nKEQ0000001;HM-LC-Sw1-FM\nKEQ0000002;HM-ES-PMSw1\n"
             "0000D3C0001;HmIP-SWDO\nKEQ0000004;HM-Sec-SC\n" % H),
            ("an element the library does not know", device_reply(
                [[("ADDRESS", "KEQ0000009"), ("TYPE", "T"), ("RSSI", "<i16>1</i16>")]]), 255,
             "Kein Inport von %s:2010" % H, None),
            ("line feeds in an address", device_reply(
                [[("ADDRESS", "KEQ1\n##;IP=forged,Port=1 "), ("TYPE", "T\r\n")]]), 1,
             "Import von %s:2010 ok" % H, "##;IP=%s,Port=2010 \nKEQ1 ##;IP=forged,Port=1 ;T \n" % H),
            # XML reads CR LF as one LF; the text is cut to 4096 bytes in the log.
            ("a long fault text with line feeds", fault_reply(FORGED + "x" * 100000), 254,
             "Error " + ("[faultCode:-1,faultString:\"no list Import von 10.0.0.1:2010 ok " +
                         "x" * 4096)[:4096] + "... bei %s:2010" % H, None),
            ("64 MiB of empty values", xml_reply(
                b"<methodResponse><params><param><value><array><data>" + b"<value/>" * 8388560 +
                b"</data></array></value></param></params></methodResponse>"), 255,
             "Kein Inport von %s:2010" % H, None),
            ("a 63 MB fault text", fault_reply("x" * 63000000), 255,
             "Kein Inport von %s:2010" % H, None),
        )
        for name, reply, status, line, imported in cases:
            with self.subTest(name):
                faultkit.write(self.path("CCUDevices2010.imp"),
                               PREVIOUS_DEVICES.replace(b"2001", b"2010"))
                host = faultkit.loopback_address(SERVICE_PORTS)
                Services(self, host, reply, "close")
                self.assertEqual(self.run_import(host, limited_memory), status)
                self.assertEqual(faultkit.read(self.path("XMLRPCResult.txt")).decode("latin-1"),
                                 "1\nImport von {host}:2001 ok\nImport von {host}:2000 ok\n"
                                 "{line}\n\n".format(host=host, line=line.format(host=host)))
                if imported is None:
                    self.assertPrevious("2010")
                else:
                    self.assertEqual(faultkit.read(self.path("CCUDevices2010.imp")),
                                     imported.format(host=host).encode("latin-1"))
                self.assertEqual(faultkit.read(self.path("CCUDevices2001.imp")),
                                 expected_devices(host, "2001"))

    def test_service_that_stalls_in_the_middle_of_its_reply(self):
        # Waits for the library's overall time-out (30 s) once.
        host = faultkit.loopback_address(SERVICE_PORTS)
        Services(self, host, xml_reply(FULL_XML[:1000], len(FULL_XML)), "stall")
        self.assertEqual(self.run_import(host), 255)
        self.assertIn(b"Kein Inport von %s:2010\n" % host.encode(),
                      faultkit.read(self.path("XMLRPCResult.txt")))
        self.assertPrevious("2010")

    def test_full_disk_keeps_the_import_files(self):
        host = faultkit.loopback_address(SERVICE_PORTS)
        Services(self, host)
        # Room for the result file (about 100 bytes), not for an import file.
        self.assertEqual(self.run_import(host, faultkit.limited_writes(400)), 253)
        self.assertEqual(faultkit.read(self.path("XMLRPCResult.txt")), b"".join(
            b"Importdatei nicht geschrieben: CCUDevices%s.imp bei %s:%s\n" % (p, host.encode(), p)
            for p in (b"2001", b"2000", b"2010")).join([b"1\n", b"\n"]))
        for port in ("2001", "2000", "2010"):
            self.assertPrevious(port)
        # No room at all: the result file keeps its last content as well.
        self.assertEqual(self.run_import(host, faultkit.limited_writes(0)), 253)
        self.assertIn(b"Importdatei nicht geschrieben",
                      faultkit.read(self.path("XMLRPCResult.txt")))
        self.assertEqual(len(os.listdir(self.dir)), 4)
        # With room again, every file is replaced.
        self.assertEqual(self.run_import(host), 1)
        for port in ("2001", "2000", "2010"):
            self.assertEqual(faultkit.read(self.path("CCUDevices%s.imp" % port)),
                             expected_devices(host, port))


if __name__ == "__main__":
    unittest.main()
