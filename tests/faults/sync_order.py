"""A power cut after a replacement: the order of the system calls with which
each program replaces its files. A file that must survive the cut is synced
before its rename, and its directory once after the run's last rename;
HistQuery's selection file is not synced (a lost last selection costs only its
choice again).

strace (-y: descriptors with their paths) watches write, fsync, fdatasync and
rename of each program. A temporary (NAME.<pid>.XXXXXX, the pid the
program's own) is shown as NAME~, the working directory as "."; writes to
anything else (the page, sockets) are left out, repeated events shown once.

Needs the PROGRAM_* variables and TZ=Europe/Berlin. Skips under the emulator
(TESTS_EMULATED: strace would see the emulator's calls) and where this
machine forbids tracing.
"""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import faultkit  # noqa: E402
from faultkit import stamp  # noqa: E402

TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DEVICE_SERVICES = os.path.join(TOP, "ccudeviceimport", "tests", "ccu_services.py")
SCRIPT_SERVICE = os.path.join(TOP, "ccunameimport", "tests", "script_service.py")
TRACED = "trace=write,fsync,fdatasync,rename,renameat,renameat2"
# LeakSanitizer stops the program's threads with ptrace, which a traced
# program cannot: the sanitizer build runs here without it.
TRACE_ENV = {"ASAN_OPTIONS": "detect_leaks=0"}

PERIOD = "txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59"
SERIES = (b"txDateFrom=2024-03-05\ntxTimeFrom=00:00:00\ntxDateTo=2024-03-06\n"
          b"txTimeTo=00:00:00\ntxobs=a;A;C\ntxobs=b;B;N\n")
ROWS = [(stamp("2024-03-05 10:00:00"), "A", "C", "7", "7", "x", "")]


class SyncOrder(unittest.TestCase):
    def setUp(self):
        if os.environ.get("TESTS_EMULATED"):
            self.skipTest("strace sees the emulator's system calls, not the program's")
        probe = subprocess.run(["strace", "-o", "/dev/null", "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("strace cannot trace here: " + probe.stderr.decode(errors="replace"))

    def history_dir(self):
        directory = faultkit.scratch(self, "faults_sync.")
        faultkit.make_history(os.path.join(directory, "history.db"), ROWS)
        faultkit.write(os.path.join(directory, "HistPath.cfg"), (directory + "\n").encode())
        faultkit.write(os.path.join(directory, "history.dat"), SERIES)
        return directory

    def start_peer(self, command, ports):
        address = faultkit.loopback_address(ports)
        peer = subprocess.Popen(command + [address], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(peer.wait, 10)
        self.addCleanup(peer.terminate)
        self.assertEqual(peer.stdout.readline(), b"ready\n")
        peer.stdout.close()
        return address

    def histquery(self):
        env = {"REQUEST_METHOD": "GET", "QUERY_STRING": PERIOD + "&obj=A%3BA%3BC"}
        return faultkit.program("HistQuery-localcfg"), [], env, self.history_dir()

    def histseries(self):
        return faultkit.program("HistSeries-localcfg"), [], {}, self.history_dir()

    def deviceimport(self):
        host = self.start_peer([sys.executable, DEVICE_SERVICES, "--down", "2000", "--address"],
                               [2001, 2000, 2010])
        return (faultkit.program("CcuDeviceImport"), [host], {},
                faultkit.scratch(self, "faults_sync."))

    def nameimport(self):
        host = self.start_peer([sys.executable, SCRIPT_SERVICE, "--host"], [8181])
        return faultkit.program("CcuNameImport"), [host], {}, faultkit.scratch(self, "faults_sync.")

    def traced_events(self, setup):
        program, args, env, directory = setup()
        trace = os.path.join(faultkit.scratch(self, "faults_sync_trace."), "trace")
        done = faultkit.run(["strace", "-f", "-qq", "-y", "-s", "0", "-e", TRACED, "-o", trace,
                             program] + args, dict(TRACE_ENV, **env), cwd=directory)
        self.assertIn(done.returncode, (0, 1), done.stderr)  # CcuDeviceImport: 1 = imported
        with open(trace) as f:
            lines = f.read().splitlines()
        program_pid = lines[0].split()[0]

        def shown(path):
            path = os.path.relpath(path, directory) if path.startswith(directory) else path
            temporary = re.match(r"(.+)\.(\d+)\.[A-Za-z0-9]{6}$", path)
            if temporary:
                self.assertEqual(temporary.group(2), program_pid, path)
                return temporary.group(1) + "~"
            return path

        events = []
        for line in lines:
            call = re.match(r"\d+ +(write|fsync|fdatasync)\(\d+<([^>]*)>", line)
            renamed = re.match(r'\d+ +rename(?:at2?)?\(.*?"([^"]*)".*?"([^"]*)"', line)
            if call and (call.group(1) != "write" or call.group(2).startswith(directory + "/")):
                event = call.group(1) + " " + shown(call.group(2))
            elif renamed:
                event = "rename %s %s" % (shown(renamed.group(1)), shown(renamed.group(2)))
            else:
                continue
            if not events or events[-1] != event:
                events.append(event)
        return events

    def test_replaced_files_are_synced_before_their_rename_and_the_directory_after(self):
        cases = [  # program, the events of its run
            ("HistQuery", self.histquery, [
                "write histobj.dat~", "rename histobj.dat~ histobj.dat"]),
            ("HistSeries", self.histseries, [
                "write a.sqr~", "fsync a.sqr~", "rename a.sqr~ a.sqr",
                "write b.sqr~", "fsync b.sqr~", "rename b.sqr~ b.sqr",
                "fsync ."]),
            ("CcuDeviceImport", self.deviceimport, [
                "write CCUDevices2001.imp~", "fsync CCUDevices2001.imp~",
                "rename CCUDevices2001.imp~ CCUDevices2001.imp",
                "write CCUDevices2010.imp~", "fsync CCUDevices2010.imp~",
                "rename CCUDevices2010.imp~ CCUDevices2010.imp",
                "write XMLRPCResult.txt~", "fsync XMLRPCResult.txt~",
                "rename XMLRPCResult.txt~ XMLRPCResult.txt",
                "fsync ."]),
            ("CcuNameImport", self.nameimport, [
                "write CCUDevNames.txt~", "fsync CCUDevNames.txt~",
                "write CCUDevNames.imp~", "fsync CCUDevNames.imp~",
                "rename CCUDevNames.txt~ CCUDevNames.txt",
                "rename CCUDevNames.imp~ CCUDevNames.imp",
                "fsync ."]),
        ]
        for program, setup, events in cases:
            with self.subTest(program=program):
                self.assertEqual(self.traced_events(setup), events)


if __name__ == "__main__":
    unittest.main()
