'use strict';
// The site the browser benchmarks open: HistQuery (as HistQuery.ksq) and the
// chart's files behind lighttpd on a free 127.0.0.1 port, the page streamed
// to the client as HistQuery writes it (as on the device,
// demo/lighttpd.conf.in: with lighttpd's default a slow client's page waits
// in temporary files), and Debian's chromium through playwright-core of
// tests/browser (tests/browser/setup.sh).
const childProcess = require('child_process');
const fs = require('fs');
const net = require('net');
const path = require('path');
const { chromium } = require(path.join(__dirname, '..', 'tests', 'browser', 'node_modules',
  'playwright-core'));

// The 8 named objects of bench/make_history.py and their kinds.
const OBJECTS = ['TEMP_AUSSEN', 'LICHT_KUECHE', 'HEIZUNG_BAD', 'FENSTER_WOHNZIMMER',
  'STROM_ZAEHLER', 'TASTER_FLUR', 'LICHT_GARTEN', 'FEUCHTE_KELLER'];
const KINDS = ['N', 'C', 'N', 'C', 'U', 'C', 'C', 'N'];

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Fills `dir` with HistQuery of BUILD_DIR, its web files where the build has
// them and HistPath.cfg naming `historyDir`, and serves it for at most
// `seconds`. Returns the port and a stop().
async function startSite(build, dir, historyDir, seconds) {
  const web = path.join(build, 'histquery', 'web');
  if (fs.existsSync(web)) {
    for (const name of fs.readdirSync(web)) {
      if (/\.(js|css)$/.test(name)) fs.copyFileSync(path.join(web, name), path.join(dir, name));
    }
  }
  fs.copyFileSync(path.join(build, 'histquery', 'HistQuery-localcfg'),
      path.join(dir, 'HistQuery.ksq'));
  fs.writeFileSync(path.join(dir, 'HistPath.cfg'), path.resolve(historyDir) + '\n');
  const port = await freePort();
  fs.writeFileSync(path.join(dir, 'lighttpd.conf'),
      'server.modules = ("mod_setenv", "mod_cgi")\n' +
      `server.document-root = "${dir}"\nserver.bind = "127.0.0.1"\nserver.port = ${port}\n` +
      'mimetype.assign = (".js" => "text/javascript", ".css" => "text/css", ' +
      '".ico" => "image/x-icon")\n' +
      'cgi.assign = (".ksq" => "")\nsetenv.set-environment = ("TZ" => "Europe/Berlin")\n' +
      'server.stream-response-body = 2\n');
  const lighttpd = fs.existsSync('/usr/sbin/lighttpd') ? '/usr/sbin/lighttpd' : 'lighttpd';
  const server = childProcess.spawn('timeout', [String(seconds), lighttpd, '-D', '-f',
    path.join(dir, 'lighttpd.conf')], { stdio: 'ignore' });
  await sleep(500);
  return { port, stop: () => server.kill('SIGTERM') };
}

function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu'],
  });
}

module.exports = { OBJECTS, KINDS, sleep, startSite, launchChromium };
