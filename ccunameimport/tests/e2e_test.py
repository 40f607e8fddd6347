"""End-to-end tests of the built CcuNameImport against the simulated script
service (script_service.py) on port 8181 of loopback addresses of this run
(testkit's loopback_address: another test run on the machine uses others).

    python3 e2e_test.py [TestClass ...]

The program is found by tests/testkit.py's program("CcuNameImport").

Each case has its own address and its own temporary working directory.
These cases wait for the client's fixed sleeps and time-outs by nature.
"""

import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import script_service  # noqa: E402

sys.path.insert(0, os.path.join(HERE, '..', '..', 'tests'))
import testkit  # noqa: E402

PROGRAM = testkit.program('CcuNameImport')
SERVICE_PORT = 8181  # built into the program

MSG_NO_ANSWER = (b'CcuNameImport: no name list received; '
                 b'CCUDevNames.txt and CCUDevNames.imp left unchanged\n')
MSG_CUT = (b'CcuNameImport: the answer was cut off; '
           b'CCUDevNames.txt and CCUDevNames.imp left unchanged\n')

# The import line of each of the service's lines, in the same order; None
# where the line is left out.
EXPECTED_IMPORT = [
    b'KEQ0412345=Heizung_Kueche\n',
    b'KEQ0412345_0=Heizung_Kueche_0\n',
    b'KEQ0412345_1=Heizung_Kueche__Thermostat_\n',
    b'KEQ0412345_2=Heizung_Kueche__Ventil_\n',
    None, None, None, None,
    b'LEQ1098765=Schalter_Auszenlicht\n',
    b'LEQ1098765_0=Schalter_Auszenlicht_0\n',
    b'LEQ1098765_1=Auszenlicht_Strasze_Einfahrt\n',
    b'MEQ0567123=Fenster_Baeder_[OG]\n',
    b'MEQ0567123_0=Fenster_Baeder_[OG]_0\n',
    b'MEQ0567123_1=Fenster_Bad_OG_[links]\n',
    b'NEQ0023456=Rollladen_Oestliches_Zimmer\n',
    b'NEQ0023456_1=Rollladen_Oest__Zimmer\n',
    b'NEQ0023456_2=Grosze_Tuer_Ueberdachung\n',
    None, None,
    b'OEQ1777001=Wetterstation_Garten\n',
    b'OEQ1777001_1=Auszentemperatur__\xb0C__&_Feuchte\n',
    None,
    b'PEQ2200418=Bewegungsmelder_Flur\n',
    b'PEQ2200418_1=Bewegung_Flur_Treppe\n',
    b'PEQ2200418_2=Helligkeit_ue__Tuer\n',
]
SERVICE_LINES = script_service.LINES.splitlines(keepends=True)
assert len(SERVICE_LINES) == len(EXPECTED_IMPORT)

EXPECTED_TEXT = b'\r\n' + script_service.LINES + b'\n'
EXPECTED_IMP = b''.join(line for line in EXPECTED_IMPORT if line is not None)

PREVIOUS_TEXT = b'\r\nXEQ0000001=Alter Name\n\n'
PREVIOUS_IMP = b'XEQ0000001=Alter_Name\n'


def expected_request(host):
    return (b'POST /Test.exe HTTP/1.1\r\nHost: ' + host.encode('ascii') +
            b'\r\nContent-Type: text/xml\r\nContent-Length:682\r\n\r\n' + script_service.SCRIPT)


class ImportCase(unittest.TestCase):
    def setUp(self):
        self.dir = testkit.scratch(self, 'ccunameimport-e2e-')
        self.service = None

    def tearDown(self):
        if self.service is not None:
            self.service.terminate()
            _, err = self.service.communicate(timeout=30)
            self.assertNotIn(b'request rejected', err)

    def start_service(self, mode, *options):
        """Starts the service on an address of this case alone; returns it."""
        address = testkit.loopback_address([SERVICE_PORT])
        self.record = os.path.join(self.dir, 'request.bin')
        self.service = subprocess.Popen(
            [sys.executable, os.path.join(HERE, 'script_service.py'), '--host', address,
             '--mode', mode, '--record', self.record] + list(options),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.environment())
        self.assertEqual(self.service.stdout.readline(), b'ready\n')
        return address

    def environment(self):
        env = dict(os.environ)
        env['TZ'] = 'Europe/Berlin'
        return env

    def run_import(self, *args, workdir=None, preexec_fn=None):
        return testkit.run([PROGRAM] + list(args), self.environment(), b'', workdir or self.work,
                           preexec_fn=preexec_fn)

    @property
    def work(self):
        path = os.path.join(self.dir, 'work')
        os.makedirs(path, exist_ok=True)
        return path

    def read(self, name):
        with open(os.path.join(self.work, name), 'rb') as f:
            return f.read()

    def seed_previous(self):
        for name, data in (('CCUDevNames.txt', PREVIOUS_TEXT), ('CCUDevNames.imp', PREVIOUS_IMP)):
            with open(os.path.join(self.work, name), 'wb') as f:
                f.write(data)

    def assert_files(self, text, imp):
        self.assertEqual(self.read('CCUDevNames.txt'), text)
        self.assertEqual(self.read('CCUDevNames.imp'), imp)
        leftovers = [n for n in os.listdir(self.work) if n.startswith('CCUDevNames.')
                     and n not in ('CCUDevNames.txt', 'CCUDevNames.imp')]
        self.assertEqual(leftovers, [])

    def assert_complete_answer(self, result, address):
        self.assertEqual(result.stdout, b'')
        self.assertEqual(result.returncode, 0)
        with open(self.record, 'rb') as f:
            self.assertEqual(f.read(), expected_request(address))
        self.assert_files(EXPECTED_TEXT, EXPECTED_IMP)

    def assert_cut_answer(self, result):
        """A part of the list is no list: the previous files stay."""
        self.assertEqual(result.stdout, MSG_CUT)
        self.assertEqual(result.returncode, 254)
        self.assert_files(PREVIOUS_TEXT, PREVIOUS_IMP)


class Answers(ImportCase):
    def test_request_on_the_wire_and_both_files(self):
        self.seed_previous()
        address = self.start_service('normal')
        self.assert_complete_answer(self.run_import(address), address)

    def test_server_keeps_the_connection_open(self):
        address = self.start_service('keep-open')
        self.assert_complete_answer(self.run_import(address), address)

    def test_answer_in_many_small_chunks(self):
        address = self.start_service('slow', '--chunk-size', '16', '--chunk-delay', '0.01')
        self.assert_complete_answer(self.run_import(address), address)

    def test_body_without_closing_crlf_keeps_the_last_name_whole(self):
        address = self.start_service('bare')
        self.assert_complete_answer(self.run_import(address), address)


class Failures(ImportCase):
    def assert_previous_untouched(self):
        self.assert_files(PREVIOUS_TEXT, PREVIOUS_IMP)

    def test_server_answers_nothing(self):
        self.seed_previous()
        address = self.start_service('silent')
        result = self.run_import(address)
        self.assertEqual((result.returncode, result.stdout), (255, MSG_NO_ANSWER))
        self.assert_previous_untouched()

    def test_no_connection(self):
        self.seed_previous()
        unused = testkit.loopback_address([SERVICE_PORT])
        cases = [
            (unused, unused.encode()),  # nobody listens: refused
            ('127.1', b'127.1/Test.exe'),  # short host: the path stays in it
            (unused + ':8181', unused.encode() + b':8181'),  # a port stays in the host
            ('--help', b'--help/Test.exe'),  # not the sole argument: a host
        ]
        for argument, host in cases:
            with self.subTest(argument=argument):
                args = [argument] + (['x'] if argument == '--help' else [])
                result = self.run_import(*args)
                self.assertEqual(result.returncode, 255)
                self.assertEqual(result.stdout,
                                 b'Error - Host not found ' + host + b'\n' + MSG_NO_ANSWER)
                self.assert_previous_untouched()

    def test_answer_without_header_end(self):
        self.seed_previous()
        address = self.start_service('no-separator')
        result = self.run_import(address)
        self.assertEqual((result.returncode, result.stdout), (255, MSG_NO_ANSWER))
        self.assert_previous_untouched()

    def test_names_file_cannot_be_written(self):
        address = self.start_service('normal')
        # The text file's place is taken: nothing changes.
        self.seed_previous()
        os.remove(os.path.join(self.work, 'CCUDevNames.txt'))
        os.mkdir(os.path.join(self.work, 'CCUDevNames.txt'))
        result = self.run_import(address)
        self.assertEqual((result.returncode, result.stdout),
                         (252, b'CcuNameImport: cannot write CCUDevNames.txt\n'))
        self.assertEqual(self.read('CCUDevNames.imp'), PREVIOUS_IMP)
        os.rmdir(os.path.join(self.work, 'CCUDevNames.txt'))
        # The import file's place is taken: the text file is the new one.
        os.remove(os.path.join(self.work, 'CCUDevNames.imp'))
        os.mkdir(os.path.join(self.work, 'CCUDevNames.imp'))
        result = self.run_import(address)
        self.assertEqual((result.returncode, result.stdout),
                         (252, b'CcuNameImport: cannot write CCUDevNames.imp\n'))
        self.assertEqual(self.read('CCUDevNames.txt'), EXPECTED_TEXT)
        os.rmdir(os.path.join(self.work, 'CCUDevNames.imp'))

    @unittest.skipIf(os.geteuid() == 0, 'root reads files whatever their mode')
    def test_text_file_cannot_be_read_again(self):
        self.seed_previous()
        address = self.start_service('normal')
        result = self.run_import(address, preexec_fn=lambda: os.umask(0o777))
        self.assertEqual((result.returncode, result.stdout), (253, b''))
        self.assert_previous_untouched()

    def test_help_and_version(self):
        result = self.run_import('--help')
        self.assertEqual(result.returncode, 0)
        self.assertTrue(result.stdout.startswith(b'CcuNameImport: fetches the address'))
        self.assertIn(b'\nUsage: CcuNameImport [HOST]', result.stdout)
        result = self.run_import('--version')
        self.assertEqual((result.returncode, result.stdout), (0, b'CcuNameImport 1.0.0\n'))
        self.assertEqual(os.listdir(self.work), [])


class CutAnswers(ImportCase):
    def test_answer_beyond_the_size_bound(self):
        self.seed_previous()
        address = self.start_service('huge')
        self.assert_cut_answer(self.run_import(address))

    def test_answer_still_arriving_when_the_window_closes(self):
        self.seed_previous()
        address = self.start_service('slow', '--chunk-size', '40', '--chunk-delay', '0.4')
        self.assert_cut_answer(self.run_import(address))


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0], '-v'] + sys.argv[1:])
