"""End-to-end tests: the built CcuDeviceImport against the simulated services.

Every test case has a loopback address of its own (testkit's loopback_address:
another test run on the machine uses others) and a working directory of its
own; tests/testkit.py's program() finds the program.
"""

import json
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import ccu_services  # noqa: E402

sys.path.insert(0, os.path.join(HERE, "..", "..", "tests"))
import testkit  # noqa: E402

PROGRAM = testkit.program("CcuDeviceImport")
ENV = dict(os.environ, TZ="Europe/Berlin")


class DeviceImportTest(unittest.TestCase):
    def setUp(self):
        self.new_directory()

    def new_directory(self):
        """A working directory of its own, for the test or one row of a table."""
        self.dir = testkit.scratch(self, "ccudeviceimport_e2e_")
        self.log = os.path.join(self.dir, "calls.jsonl")

    @staticmethod
    def new_host():
        """An address of this case alone, its three service ports free."""
        return testkit.loopback_address(ccu_services.PORTS)

    def start_services(self, address, *options):
        services = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "ccu_services.py"), "--address", address,
             "--log", self.log, *options],
            stdout=subprocess.PIPE, text=True, env=ENV)
        self.addCleanup(services.wait, 10)
        self.addCleanup(services.terminate)
        self.assertEqual(services.stdout.readline(), "ready\n")
        services.stdout.close()

    def run_program(self, *args):
        done = testkit.run([PROGRAM, *args], ENV, b"", self.dir, timeout=120)
        self.assertEqual(done.stdout, b"")  # the program itself prints nothing
        self.assertEqual(done.stderr, b"")
        return done.returncode

    def read(self, name, host=None):
        """The file's bytes; with `host`, that address written HOST."""
        with open(os.path.join(self.dir, name), "rb") as f:
            data = f.read()
        return data.replace(host.encode(), b"HOST") if host else data

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def files(self):
        return sorted(n for n in os.listdir(self.dir) if n != "calls.jsonl")

    def calls(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def assert_import_file(self, host, port, large=0):
        self.assertEqual(self.read("CCUDevices%s.imp" % port),
                         ccu_services.expected_import_file(host, port, large))

    def test_all_services_down(self):
        host = self.new_host()
        self.assertEqual(self.run_program(host), 255)
        self.assertEqual(self.read("XMLRPCResult.txt", host),
                         b"1\nKein Inport von HOST:2001\nKein Inport von HOST:2000\n"
                         b"Kein Inport von HOST:2010\n\n")
        self.assertEqual(self.files(), ["XMLRPCResult.txt"])

    def test_only_2010_down(self):
        host = self.new_host()
        self.start_services(host, "--down", "2010")
        self.assertEqual(self.run_program(host), 255)
        self.assertEqual(self.read("XMLRPCResult.txt", host),
                         b"1\nImport von HOST:2001 ok\nImport von HOST:2000 ok\n"
                         b"Kein Inport von HOST:2010\n\n")
        self.assert_import_file(host, "2001")
        self.assert_import_file(host, "2000")
        self.assertEqual(self.files(),
                         ["CCUDevices2000.imp", "CCUDevices2001.imp", "XMLRPCResult.txt"])
        # Each service was asked once, with the one boolean parameter true.
        self.assertEqual(sorted((c["port"], c["method"], c["params"]) for c in self.calls()),
                         [("2000", "listDevices", [True]), ("2001", "listDevices", [True])])

    def test_2000_down(self):
        host = self.new_host()
        self.start_services(host, "--down", "2000")
        self.assertEqual(self.run_program(host), 1)
        self.assertEqual(self.read("XMLRPCResult.txt", host),
                         b"1\nImport von HOST:2001 ok\nKein Inport von HOST:2000\n"
                         b"Import von HOST:2010 ok\n\n")
        self.assert_import_file(host, "2001")
        self.assert_import_file(host, "2010")
        self.assertEqual(self.files(),
                         ["CCUDevices2001.imp", "CCUDevices2010.imp", "XMLRPCResult.txt"])
        # A literal check of the start of one file, beside the computed one.
        self.assertTrue(self.read("CCUDevices2001.imp", host).startswith(
            b"##;IP=HOST,Port=2001 \nKEQ1000000;KV-SW1-FM\nKEQ1007919;KV-SEC-SC\n"))

    def test_fault_reply(self):
        host = self.new_host()
        self.start_services(host, "--fault", "2001")
        self.assertEqual(self.run_program(host), 1)
        self.assertEqual(self.read("XMLRPCResult.txt", host),
                         b"1\nError [faultCode:-1,faultString:\"Failure & <no list>\"] bei "
                         b"HOST:2001\nImport von HOST:2000 ok\n"
                         b"Import von HOST:2010 ok\n\n")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "CCUDevices2001.imp")))
        self.assert_import_file(host, "2000")
        self.assert_import_file(host, "2010")

    def test_earlier_import_files_left_untouched(self):
        host = self.new_host()
        self.start_services(host, "--down", "2000", "--fault", "2010")
        old = b"##;IP=10.0.0.1,Port=%s \nKEQ0000001;OLD\n"
        for port in ("2001", "2000", "2010"):
            self.write("CCUDevices%s.imp" % port, old % port.encode())
            os.utime(os.path.join(self.dir, "CCUDevices%s.imp" % port), (1000000, 1000000))
        self.assertEqual(self.run_program(host), 254)
        self.assert_import_file(host, "2001")  # answered: replaced
        for port in ("2000", "2010"):
            name = "CCUDevices%s.imp" % port
            self.assertEqual(self.read(name), old % port.encode())
            self.assertEqual(os.stat(os.path.join(self.dir, name)).st_mtime, 1000000)
        self.assertEqual(self.read("XMLRPCResult.txt", host),
                         b"1\nImport von HOST:2001 ok\nKein Inport von HOST:2000\n"
                         b"Error [faultCode:-1,faultString:\"Failure & <no list>\"] bei "
                         b"HOST:2010\n\n")

    def usage_report(self, host, answer_options, expected_status):
        self.start_services(host, *answer_options)
        self.assertEqual(self.run_program(host, "KEQ1000000:1", "ignored"), expected_status)
        self.assertEqual(self.read("XMLRPCResult.txt"), b"1\n\n")
        self.assertEqual(self.files(), ["XMLRPCResult.txt"])

    def test_usage_report_true(self):
        self.usage_report(self.new_host(), ["--usage-answer", "true"], 1)
        # The bare host means port 2001; the call carries target, "PRESS" and 1.
        self.assertEqual(self.calls(), [{"port": "2001", "method": "reportValueUsage",
                                         "params": ["KEQ1000000:1", "PRESS", 1]}])

    def test_usage_report_outcomes(self):
        cases = [  # how the service answers, exit status
            (["--usage-answer", "false"], 0),
            (["--usage-answer", "text"], 252),  # not a boolean
            (["--fault", "2001"], 254),
            (["--down", "2001"], 255),
        ]
        for answer_options, status in cases:
            with self.subTest(answer=answer_options):
                self.new_directory()
                self.usage_report(self.new_host(), answer_options, status)

    def test_import_file_that_cannot_be_written(self):
        host = self.new_host()
        self.start_services(host)
        os.mkdir(os.path.join(self.dir, "CCUDevices2001.imp"))  # no file can take its place
        self.assertEqual(self.run_program(host), 253)
        self.assertEqual(self.read("XMLRPCResult.txt", host),
                         b"1\nImportdatei nicht geschrieben: CCUDevices2001.imp bei "
                         b"HOST:2001\nImport von HOST:2000 ok\n"
                         b"Import von HOST:2010 ok\n\n")
        self.assert_import_file(host, "2000")
        self.assert_import_file(host, "2010")
        self.assertEqual(os.listdir(os.path.join(self.dir, "CCUDevices2001.imp")), [])
        self.assertEqual(self.files(), ["CCUDevices2000.imp", "CCUDevices2001.imp",
                                        "CCUDevices2010.imp", "XMLRPCResult.txt"])

    def test_result_file_that_cannot_be_written(self):
        host = self.new_host()
        self.start_services(host)
        os.mkdir(os.path.join(self.dir, "XMLRPCResult.txt"))
        self.assertEqual(self.run_program(host), 253)
        for port in ("2001", "2000", "2010"):
            self.assert_import_file(host, port)
        self.assertEqual(self.files(), ["CCUDevices2000.imp", "CCUDevices2001.imp",
                                        "CCUDevices2010.imp", "XMLRPCResult.txt"])

    def test_large_device_lists(self):
        host = self.new_host()
        self.start_services(host, "--large", "1500")
        self.assertEqual(self.run_program(host), 1)
        for port in ("2001", "2000", "2010"):
            self.assert_import_file(host, port, 1500)
        self.assertEqual(self.read("CCUDevices2010.imp").count(b"\n"), 1501)

    def test_silent_service_ends_with_the_time_out(self):
        # The service on 2010 accepts the connection and never answers: the
        # call gives up after the library's overall time-out (30 s).
        host = self.new_host()
        self.start_services(host, "--silent", "2010")
        self.assertEqual(self.run_program(host), 255)
        self.assertEqual(self.read("XMLRPCResult.txt", host),
                         b"1\nImport von HOST:2001 ok\nImport von HOST:2000 ok\n"
                         b"Kein Inport von HOST:2010\n\n")

    def test_help_and_version(self):
        for option, start in (("--help", b"CcuDeviceImport: imports the device lists"),
                              ("--version", b"CcuDeviceImport 1.")):
            done = testkit.run([PROGRAM, option], ENV, b"", self.dir, timeout=30)
            self.assertEqual(done.returncode, 0)
            self.assertTrue(done.stdout.startswith(start), done.stdout)
            self.assertEqual(done.stderr, b"")
        self.assertEqual(self.files(), [])


if __name__ == "__main__":
    unittest.main()
