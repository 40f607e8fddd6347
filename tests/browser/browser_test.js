'use strict';
// The history report as a person sees it: HistQuery behind a real lighttpd
// (mod_cgi, on a free 127.0.0.1 port) over a test history.db, driven in
// Debian's headless Chromium through playwright-core. The requests are sent
// the way a person sends them: a selection form in ISO-8859-15 is filled in
// and submitted, and the delete button of the report is clicked. The device
// is reached as on a home network, over plain http by a name (ccu.test, which
// Chromium resolves to 127.0.0.1 here): there the browser sends no
// Sec-Fetch-* headers, and a foreign page (evil.test) can strip its Referer.
//
// Environment: HISTQUERY_BIN (the HistQuery-localcfg program, or the script
// that runs it), HISTQUERY_WEB (the built histquery/web folder with the chart
// page's files), SCREENSHOT_DIR (where the PNGs go); optional CHROMIUM
// (default /usr/bin/chromium), LIGHTTPD, SQLITE3 and TIMEOUT (found on the PATH or in
// /usr/sbin otherwise), KEEP_TMP=1 to keep the temporary directory.
// Prints one line per case and "N passed, N failed"; exit status 0 only when
// every case passed. The whole run is bounded: it ends itself after
// RUN_LIMIT_MS, stopping lighttpd and Chromium on every path.
process.env.TZ = 'Europe/Berlin';

const childProcess = require('child_process');
const http = require('http');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');

const RUN_LIMIT_MS = 120000;
const STEP_TIMEOUT_MS = 15000;
// The device's name, listed in its HistHosts.cfg, and a foreign one; both lead
// to this machine's loopback address, as a LAN name and a rebound name would
// lead to the device.
const DEVICE_NAME = 'ccu.test';
const FOREIGN_NAME = 'evil.test';
const CHROMIUM_FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  `--host-resolver-rules=MAP ${DEVICE_NAME} 127.0.0.1, MAP ${FOREIGN_NAME} 127.0.0.1`,
];

// The page's German texts, as the browser must show them.
const FOUND = (n) => n + ' Datens\u00e4tze gefunden.';
// The rows of the period the report does not show (State "X").
const HIDDEN = (all, hidden) => `${all} Datens\u00e4tze im Zeitraum, ${hidden} davon nicht ` +
    'angezeigt, die L\u00f6schung entfernt sie mit';
const DELETE_BUTTON = 'Diese Daten aus der Datenbank l\u00f6schen';
const WARNING = 'Die L\u00f6schung kann nicht r\u00fcckg\u00e4ngig gemacht werden!!';
const DELETED = 'Die ausgew\u00e4hlten Daten wurden aus der Datenbank gel\u00f6scht';
const OTHER_SITE = 'Fehler: Die Anfrage kam von einer fremden Seite';
const SQL_DONE = 'Verarbeitung erfolgreich beendet';
const HOST_REFUSED = `Fehler: Der Name ${FOREIGN_NAME} ist f\u00fcr dieses Ger\u00e4t nicht freigegeben`;
const NO_DATA = 'Es gibt keine Daten f\u00fcr den ausgew\u00e4hlten Zeitraum';
// What Latin-1 bytes read as UTF-8 (or the other way round) would show.
const MOJIBAKE = /[\u00c3\u00c2\ufffd]/;

const MARKUP_VALUE = '<b>x</b>';
const MARKUP_SOURCE = '<script>window.injected = 1</script>';
const MARKUP_NAME = '<img src=x onerror=window.injected=2>';

// TimeStamp text (Berlin wall clock), ObjName, ObjKind, Value, ValueText, Source, State
const ROWS = [
  ['2024-03-05 07:29:59', 'LICHT_KUECHE', 'C', '0', '0', 'Taster', ''],
  ['2024-03-05 07:30:00', 'LICHT_KUECHE', 'C', '1', '1', 'Taster', ''],
  ['2024-03-05 08:00:00', 'LICHT_KUECHE', 'C', '0', '0', 'Zentrale', 'X'],
  ['2024-03-05 09:00:00', 'NOTIZ', 'C', MARKUP_VALUE, MARKUP_VALUE, MARKUP_SOURCE, ''],
  ['2024-03-05 10:00:00', 'TEMP_AUSSEN', 'N', '4.5', '4.5', 'Sensor', ''],
  ['2024-03-05 12:15:30', 'LICHT_KUECHE', 'C', '0', 'aus', 'Programm', ''],
  ['2024-03-05 20:00:00', 'HEIZUNG_BAD', 'N', '21.5', '21.5', 'Thermostat', ''],
  ['2024-03-05 21:00:00', 'HEIZUNG_BAD', 'N', '19.5', '19.5', 'Zentrale', ''],
  ['2024-03-05 22:00:00', 'HEIZUNG_BAD', 'N', '18.0', '18.0', 'Programm', 'X'],
  ['2024-03-05 23:59:00', 'LICHT_KUECHE', 'C', '1', 'an', 'Taster', ''],
  // A meter beside a temperature, and a window contact that names its states.
  ['2024-03-05 00:30:00', 'STROM_ZAEHLER', 'U', '12000.5', '12000.5', 'Zaehler', ''],
  ['2024-03-05 12:00:00', 'STROM_ZAEHLER', 'U', '12006.5', '12006.5', 'Zaehler', ''],
  ['2024-03-05 23:00:00', 'STROM_ZAEHLER', 'U', '12011.5', '12011.5', 'Zaehler', ''],
  ['2024-03-05 08:00:00', 'FENSTER_BAD', 'C', '1', 'offen', 'Kontakt', ''],
  ['2024-03-05 10:00:00', 'FENSTER_BAD', 'C', '0', 'geschlossen', 'Kontakt', ''],
  ['2024-03-06 00:00:00', 'LICHT_KUECHE', 'C', '0', '0', 'Taster', ''],
  // The day whose rows the deletion case removes.
  ['2024-03-07 06:00:00', 'LICHT_KUECHE', 'C', '1', '1', 'Taster', ''],
  ['2024-03-07 07:00:00', 'LICHT_KUECHE', 'C', '0', '0', 'Zentrale', 'X'],
  ['2024-03-07 08:00:00', 'TASTER_FLUR', 'C', '1', 'kurz', 'Taster', ''],
  ['2024-03-07 09:00:00', 'TEMP_AUSSEN', 'N', '3.5', '3.5', 'Sensor', ''],
  ['2024-03-07 11:59:59', 'TASTER_FLUR', 'C', '1', 'lang', 'Taster', ''],
  ['2024-03-07 12:00:30', 'LICHT_KUECHE', 'C', '0', '0', 'Programm', ''],
  // An object whose name has an umlaut and a blank, recorded in Latin-1; the
  // pages of another site try to delete this day, the report page does.
  ['2024-03-08 06:00:00', 'K\u00dcCHE LICHT', 'C', '1', 'an', 'Taster', ''],
  ['2024-03-08 07:00:00', 'K\u00dcCHE LICHT', 'C', '0', 'aus', 'Zentrale', 'X'],
  ['2024-03-08 08:00:00', 'TEMP_AUSSEN', 'N', '2.5', '2.5', 'Sensor', ''],
  ['2024-03-08 20:00:00', 'K\u00dcCHE LICHT', 'C', '0', 'aus', 'Programm', ''],
  ['2024-03-09 00:00:00', 'K\u00dcCHE LICHT', 'C', '1', 'an', 'Taster', ''],
];

// The selection page: the same keys as the add-on's front end sends, in the
// front end's character set, so labels such as "Licht K\u00fcche" travel as %FC.
const OBJECTS = [
  ['LICHT_KUECHE', 'Licht K&uuml;che', 'C'],
  ['HEIZUNG_BAD', 'Heizung Bad', 'N'],
  ['TEMP_AUSSEN', 'Temperatur au&szlig;en', 'N'],
  ['TASTER_FLUR', 'Taster Flur', 'C'],
  ['NOTIZ', 'Notiz', 'C'],
  ['K&uuml;che Licht', 'K&uuml;che Licht', 'C'],
];
const PERIOD_FIELDS =
    "<input type='date' name='txDateFrom'> <input type='time' name='txTimeFrom'>\n" +
    "<input type='date' name='txDateTo'> <input type='time' name='txTimeTo'>\n";
const SELECTION_PAGE =
    "<!DOCTYPE HTML>\n<html><head><meta charset='iso-8859-15'><title>Auswahl</title></head>\n" +
    '<body>\n' +
    "<form id='obj' method='post' action='HistQuery.ksq' accept-charset='ISO-8859-15'>\n" +
    "<input type='hidden' name='DFW' value='histobj.dat'>\n" + PERIOD_FIELDS +
    OBJECTS.map(([name, label, kind]) =>
      `<label><input type='checkbox' name='obj' value='${name};${label};${kind}'> ${name}</label>\n`)
        .join('') +
    "<button type='submit'>History anzeigen</button>\n</form>\n" +
    "<form id='sql' method='post' action='HistQuery.ksq' accept-charset='ISO-8859-15'>\n" +
    "<input type='hidden' name='DFW' value='histsql.dat'>\n" + PERIOD_FIELDS +
    "<textarea name='SQL'></textarea>\n" +
    "<button type='submit'>Abfrage ausf&uuml;hren</button>\n</form>\n</body></html>\n";

// Everything the run started, so that every way out can stop it.
const run = {
  dir: null, server: null, serverLog: '', context: null, finished: false, passed: 0, failed: 0,
};

function fail(message) {
  throw new Error(message);
}

function expectEqual(actual, expected, what) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  if (a !== e) fail(`${what}:\n      expected ${e}\n      got      ${a}`);
}

function expectTrue(condition, what) {
  if (!condition) fail(what);
}

// Wall-clock seconds of a Berlin 'YYYY-MM-DD HH:MM:SS', as HISTORY counts them.
function stamp(text) {
  const [d, t] = text.split(' ');
  const [y, mo, da] = d.split('-').map(Number);
  const [h, mi, s] = t.split(':').map(Number);
  return Date.UTC(y, mo - 1, da, h, mi, s) / 1000;
}

function findTool(envName, name) {
  if (process.env[envName]) return process.env[envName];
  const dirs = (process.env.PATH || '').split(':').concat(['/usr/sbin', '/usr/bin', '/sbin']);
  for (const dir of dirs) {
    const candidate = path.join(dir || '.', name);
    try {
      fs.accessSync(candidate, fs.constants.X_OK);
      return candidate;
    } catch (e) {
      // not in this directory
    }
  }
  return fail(`${name} not found (install it or set ${envName})`);
}

function sqlText(value) {
  return "'" + String(value).replace(/'/g, "''") + "'";
}

function sqlite(db, statement, input) {
  const args = statement === null ? [db] : [db, statement];
  // The history holds Latin-1 bytes, as the recorder writes them.
  return childProcess.execFileSync(findTool('SQLITE3', 'sqlite3'), args, {
    input: Buffer.from(input || '', 'latin1'), encoding: 'latin1', timeout: STEP_TIMEOUT_MS,
  });
}

function createStore(db) {
  const inserts = ROWS.map(([when, ...rest]) =>
    `insert into HISTORY values (${stamp(when)}, ${rest.map(sqlText).join(', ')});`);
  sqlite(db, null,
      'create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, ' +
      'ValueText text, Source text, State text);\nbegin;\n' + inserts.join('\n') + '\ncommit;\n');
}

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const port = probe.address().port;
      probe.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.setTimeout(1000);
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
    socket.once('timeout', () => { socket.destroy(); resolve(false); });
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A temporary site: the report as HistQuery.ksq beside HistPath.cfg, the
// selection page, and data/history.db.
function buildSite(program) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'histquery_browser.'));
  run.dir = dir;
  const data = path.join(dir, 'data');
  fs.mkdirSync(data);
  const db = path.join(data, 'history.db');
  createStore(db);
  fs.writeFileSync(path.join(dir, 'HistPath.cfg'), data + '\n');
  fs.writeFileSync(path.join(dir, 'HistHosts.cfg'), `# the device's name\n${DEVICE_NAME}\n`);
  fs.copyFileSync(program, path.join(dir, 'HistQuery.ksq'));
  fs.chmodSync(path.join(dir, 'HistQuery.ksq'), 0o755);
  fs.writeFileSync(path.join(dir, 'auswahl.html'), Buffer.from(SELECTION_PAGE, 'latin1'));
  // The chart page's files, served beside the program as the add-on ships them.
  const web = process.env.HISTQUERY_WEB;
  if (!web || !fs.existsSync(path.join(web, 'uPlot.iife.min.js'))) {
    fail('HISTQUERY_WEB must name the built histquery/web folder');
  }
  for (const name of fs.readdirSync(web)) {
    if (/\.(js|css)$/.test(name)) fs.copyFileSync(path.join(web, name), path.join(dir, name));
  }
  if (process.geteuid() === 0) {
    // lighttpd started by root serves as nobody, who must write the
    // selection files and the database (and its journal beside it).
    fs.chmodSync(dir, 0o777);
    fs.chmodSync(data, 0o777);
    fs.chmodSync(db, 0o666);
  }
  return { dir, db };
}

function lighttpdConfig(dir, port) {
  let conf =
      'server.modules = ("mod_setenv", "mod_cgi")\n' +
      `server.document-root = "${dir}"\n` +
      'server.bind = "127.0.0.1"\n' +
      `server.port = ${port}\n` +
      `server.errorlog = "${dir}/error.log"\n` +
      'mimetype.assign = (".html" => "text/html", ".js" => "text/javascript", ' +
      '".css" => "text/css")\n' +
      'cgi.assign = (".ksq" => "")\n' +
      'setenv.set-environment = ("TZ" => "Europe/Berlin")\n' +
      // The delete link repeats the request as sent, Latin-1 codes such as
      // %FC included; URL normalization would refuse them as invalid UTF-8.
      'server.http-parseopts = ("url-normalize" => "disable")\n';
  if (process.geteuid() === 0) conf += 'server.username = "nobody"\nserver.groupname = "nogroup"\n';
  return conf;
}

async function startServer(dir) {
  const lighttpd = findTool('LIGHTTPD', 'lighttpd');
  for (let attempt = 0; attempt < 3; attempt++) {
    const port = await freePort();
    const conf = path.join(dir, 'lighttpd.conf');
    fs.writeFileSync(conf, lighttpdConfig(dir, port));
    // timeout(1) bounds the server's life even if this process is killed
    // outright; a TERM sent to it reaches lighttpd.
    const lifetime = String(RUN_LIMIT_MS / 1000 + 30);
    const server = childProcess.spawn(findTool('TIMEOUT', 'timeout'),
        [lifetime, lighttpd, '-D', '-f', conf], {
      stdio: ['ignore', 'ignore', 'pipe'], env: { ...process.env, TZ: 'Europe/Berlin' },
    });
    run.server = server;
    server.stderr.on('data', (chunk) => { run.serverLog += chunk; });
    let ended = false;
    server.once('exit', () => { ended = true; });
    for (let i = 0; i < 100 && !ended; i++) {
      if (await canConnect(port)) return port;
      await sleep(50);
    }
    stopServer();
    // Another process may have taken the port meanwhile: try a new one.
  }
  return fail('lighttpd did not start: ' + run.serverLog + readErrorLog());
}

function stopServer() {
  if (run.server && run.server.exitCode === null && run.server.signalCode === null) {
    run.server.kill('SIGTERM');
  }
}

function readErrorLog() {
  try {
    return fs.readFileSync(path.join(run.dir, 'error.log'), 'latin1');
  } catch (e) {
    return '';
  }
}

async function startBrowser() {
  let chromium;
  try {
    ({ chromium } = require('playwright-core'));
  } catch (e) {
    return fail('playwright-core is missing: run tests/browser/setup.sh');
  }
  const profile = path.join(run.dir, 'chromium-profile');
  fs.mkdirSync(profile);
  // A persistent context on a fresh profile directory is how playwright
  // takes our own --user-data-dir.
  run.context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: CHROMIUM_FLAGS,
    timeout: 30000,
    viewport: { width: 1000, height: 700 },
    handleSIGINT: false,
    handleSIGTERM: false,
  });
  run.context.setDefaultTimeout(STEP_TIMEOUT_MS);
  run.context.setDefaultNavigationTimeout(STEP_TIMEOUT_MS);
  return run.context;
}

async function closeBrowser() {
  const context = run.context;
  run.context = null;
  if (!context) return;
  // Closing waits for Chromium to end; should it hang, playwright still
  // kills the browser when this process exits.
  await Promise.race([context.close().catch(() => {}), sleep(10000)]);
}

async function cleanUp() {
  await closeBrowser();
  stopServer();
  if (run.otherSite) run.otherSite.close();
  if (run.server && run.server.exitCode === null && run.server.signalCode === null) {
    await Promise.race([new Promise((resolve) => run.server.once('exit', resolve)), sleep(5000)]);
    if (run.server.exitCode === null && run.server.signalCode === null) run.server.kill('SIGKILL');
  }
  if (run.dir && process.env.KEEP_TMP !== '1') {
    fs.rmSync(run.dir, { recursive: true, force: true });
  } else if (run.dir) {
    console.log('kept ' + run.dir);
  }
}

// Brings node_modules in line with package-lock.json before playwright-core
// is loaded.
function prepareModules() {
  const here = __dirname;
  const marker = path.join(here, 'node_modules', '.installed-package-lock.json');
  let current = false;
  try {
    current = fs.readFileSync(marker).equals(fs.readFileSync(path.join(here, 'package-lock.json')));
  } catch (e) {
    current = false;
  }
  if (!current) {
    childProcess.execFileSync(path.join(here, 'setup.sh'), ['--npm-only'],
        { stdio: 'inherit', timeout: 180000 });
  }
}

// The visible text of the page, line by line, as innerText lays it out.
async function visibleLines(page) {
  const text = await page.locator('body').innerText();
  return text.split('\n').map((line) => line.trim()).filter((line) => line !== '');
}

async function reportLines(page) {
  return (await visibleLines(page)).filter((line) => /^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d : /.test(line));
}

async function expectCleanText(page) {
  expectEqual(await page.evaluate(() => document.characterSet), 'ISO-8859-15', 'character set');
  const text = await page.locator('body').innerText();
  const bad = text.match(MOJIBAKE);
  expectTrue(!bad, `page text holds mojibake near "${bad && text.substr(Math.max(0, bad.index - 20), 40)}"`);
}

async function submitForm(page, site, form, fields) {
  await page.goto(site + 'auswahl.html');
  const f = page.locator('#' + form);
  await f.locator('[name=txDateFrom]').fill(fields.from[0]);
  await f.locator('[name=txTimeFrom]').fill(fields.from[1]);
  await f.locator('[name=txDateTo]').fill(fields.to[0]);
  await f.locator('[name=txTimeTo]').fill(fields.to[1]);
  for (const name of fields.objects || []) {
    await f.locator(`input[name=obj][value^="${name};"]`).check();
  }
  if (fields.sql !== undefined) await f.locator('[name=SQL]').fill(fields.sql);
  await Promise.all([
    page.waitForURL((url) => url.pathname.endsWith('/HistQuery.ksq'), { waitUntil: 'load' }),
    f.locator('button[type=submit]').click(),
  ]);
}

function screenshotDir() {
  return process.env.SCREENSHOT_DIR || path.join(process.cwd(), 'screenshots');
}

// Pictures of an earlier run would pass for this one's.
function clearScreenshots() {
  const dir = screenshotDir();
  fs.mkdirSync(dir, { recursive: true });
  for (const name of fs.readdirSync(dir)) {
    if (name.endsWith('.png')) fs.rmSync(path.join(dir, name), { force: true });
  }
}

async function screenshot(page, name) {
  await page.screenshot({ path: path.join(screenshotDir(), name), fullPage: true });
}

const ATTACKED_DAY = 'txDateFrom=2024-03-08&txTimeFrom=00%3A00&txDateTo=2024-03-08&txTimeTo=23%3A59';
const EVERYTHING = 'txDateFrom=1970-01-02&txTimeFrom=00%3A00&txDateTo=2037-12-31&txTimeTo=23%3A59';
// What a foreign page puts into its head to send no Referer.
const NO_REFERRER = '<meta name="referrer" content="no-referrer">';

// A page of another origin that tries to change the history the moment it is
// opened: an <img> GET deletion, an <img> SQL-mode delete and a form POST
// with ACTION=DEL. Its title becomes "done" when every request has had its
// answer.
function attackPage(site, head) {
  const period = ATTACKED_DAY;
  const everything = EVERYTHING;
  const target = site + 'HistQuery.ksq';
  return `<!DOCTYPE HTML>\n<html><head>${head}<title>waiting</title></head><body>\n` +
      '<script>let left = 4; function one() { if (--left === 0) document.title = "done"; }</script>\n' +
      `<img src="${target}?ACTION=DEL&${everything}" onload="one()" onerror="one()">\n` +
      `<img src="${target}?SQL=delete+from+HISTORY+where+1&${period}" onload="one()" onerror="one()">\n` +
      '<iframe name="sink" onload="one()"></iframe>\n' +
      `<form id="f" method="post" action="${target}" target="sink">` +
      '<input type="hidden" name="ACTION" value="DEL">' +
      `<input type="hidden" name="txDateFrom" value="2024-03-08">` +
      '<input type="hidden" name="txTimeFrom" value="00:00">' +
      '<input type="hidden" name="txDateTo" value="2024-03-08">' +
      '<input type="hidden" name="txTimeTo" value="23:59">' +
      '<input type="hidden" name="obj" value="K\u00fcche Licht;x;C"></form>\n' +
      '<script>document.getElementById("f").submit(); one();</script>\n</body></html>\n';
}

// The pages of the other site, by path, for the report reached as `site`
// (by the device's name) or `loopback` (as http://127.0.0.1:port/).
function otherSitePages(site, loopback) {
  const target = site + 'HistQuery.ksq';
  const page = (head, body) => '<!DOCTYPE HTML>\n<html><head>' + head +
      '<title>other</title></head><body>\n' + body + '\n</body></html>\n';
  return {
    // Another port of 127.0.0.1: "same-site" to the browser, which says so.
    '/same-site': attackPage(loopback, ''),
    // Over plain http nothing tells the browser's requests apart but what
    // the page leaves out.
    '/plain': attackPage(site, NO_REFERRER),
    '/navigate': page(NO_REFERRER,
        `<script>location.href = "${target}?ACTION=DEL&${EVERYTHING}";</script>`),
    '/link': page('', `<a id="go" rel="noreferrer" ` +
        `href="${target}?SQL=delete+from+HISTORY+where+1&${ATTACKED_DAY}">Bilder</a>`),
  };
}

// Serves `pages` on a free port of 127.0.0.1; resolves to the port.
function startOtherSite(pages) {
  return new Promise((resolve, reject) => {
    const server = http.createServer((request, response) => {
      const body = pages[request.url.split('?')[0]];
      response.writeHead(body ? 200 : 404, { 'Content-Type': 'text/html; charset=iso-8859-15' });
      response.end(Buffer.from(body || '', 'latin1'));
    });
    run.otherSite = server;
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => resolve(server.address().port));
  });
}

// The requests for HistQuery.ksq that `page` sends from now on, with their
// headers as they went out.
function recordReportRequests(page) {
  const seen = [];
  page.on('request', (request) => {
    if (request.url().includes('/HistQuery.ksq')) seen.push(request.allHeaders());
  });
  return () => Promise.all(seen);
}

const rowCount = (db) => sqlite(db, 'select count(*) from HISTORY').trim();

const TWO_OBJECTS = {
  from: ['2024-03-05', '07:30'], to: ['2024-03-05', '23:59'],
  objects: ['LICHT_KUECHE', 'HEIZUNG_BAD'],
};

const UMLAUT_DAY = "select TimeStamp, ObjName, State from HISTORY where TimeStamp >= " +
    `${stamp('2024-03-08 00:00:00')} and TimeStamp <= ${stamp('2024-03-09 00:00:00')} ` +
    'order by TimeStamp';

const CHART_SELECTION = 'txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05' +
    '&txTimeTo=23%3A59&obj=LICHT_KUECHE%3BLicht+K%FCche%3BC&obj=HEIZUNG_BAD%3BHeizung+Bad%3BN';

const METER_SELECTION = 'txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05' +
    '&txTimeTo=23%3A59&obj=HEIZUNG_BAD%3BHeizung+Bad%3BN&obj=STROM_ZAEHLER%3BStrom%3BU' +
    '&obj=FENSTER_BAD%3BFenster+Bad%3BC';

// The period of a request: 'YYYY-MM-DD HH:MM:SS' of both ends.
function periodOf(url) {
  const keys = new URL(url).searchParams;
  return ['From', 'To'].map((end) => keys.get('txDate' + end) + ' ' + keys.get('txTime' + end));
}

// Per legend entry: label, axis, and how it is hidden (class, title, struck through).
function legendOf(page) {
  return page.locator('.u-legend .u-series').evaluateAll((rows) => rows.slice(1).map((row) => [
    row.querySelector('.u-label').textContent, row.querySelector('.histchart-axis').dataset.side,
    row.classList.contains('u-off'), row.querySelector('th').title,
    getComputedStyle(row.querySelector('.u-label')).textDecorationLine]));
}

// The period keys of a chart data request, as seconds of the day.
function windowOf(url) {
  const keys = new URL(url).searchParams;
  const seconds = (time) => time.split(':').reduce((sum, part) => sum * 60 + Number(part), 0);
  return [seconds(keys.get('txTimeFrom')), seconds(keys.get('txTimeTo'))];
}

const CASES = [
  ['the chart draws its objects, zooms by dragging and links the download', async (page, site) => {
    const dataRequests = [];
    page.on('request', (request) => {
      if (request.url().includes('VIEW=JSON')) dataRequests.push(request.url());
    });
    await page.goto(site + 'HistQuery.ksq?VIEW=CHART&' + CHART_SELECTION);
    await page.waitForFunction(() => document.querySelectorAll('#histchart-stats tbody tr').length === 2);
    await expectCleanText(page);
    const legend = await page.locator('.u-legend .u-series .u-label').allInnerTexts();
    expectEqual(legend.slice(1), ['Licht K\u00fcche', 'Heizung Bad'], 'legend');
    const inked = await page.evaluate(() => {
      const canvas = document.querySelector('#histchart-plot canvas');
      const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      let count = 0;
      for (let i = 3; i < pixels.length; i += 4) if (pixels[i] !== 0) count++;
      return count;
    });
    expectTrue(inked > 500, `the chart has ${inked} drawn pixels`);
    const stats = await page.locator('#histchart-stats tbody tr').first().locator('td').allInnerTexts();
    expectEqual(stats.slice(0, 4), ['Licht K\u00fcche', '4', '05.03.2024 07:29:59',
      '05.03.2024 23:59:00'], 'statistics of the first object');
    await screenshot(page, '9-chart.png');

    expectEqual(windowOf(dataRequests[0]), [0, 23 * 3600 + 59 * 60], 'first data request');
    const box = await page.locator('#histchart-plot .u-over').boundingBox();
    await page.mouse.move(box.x + box.width * 0.25, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.5, box.y + box.height / 2, { steps: 5 });
    await page.mouse.up();
    await page.waitForFunction(() => /txTimeFrom=0[5-7]%3A/.test(location.search));
    expectEqual(dataRequests.length, 2, 'data requests after the drag');
    const [from, to] = windowOf(dataRequests[1]);
    expectTrue(from > 5 * 3600 && to < 12.5 * 3600 && from < to,
        `the narrower window ${from}..${to} s of the day`);
    expectEqual(windowOf(page.url()), [from, to], 'the address follows the zoom');

    // The link as the browser follows it (the device's name resolves in
    // Chromium only).
    const csv = await page.evaluate(async () => {
      const response = await fetch(document.getElementById('histchart-csv').href);
      const bytes = await response.arrayBuffer();
      return { status: response.status, type: response.headers.get('content-type'),
               text: new TextDecoder('utf-8', { ignoreBOM: true }).decode(bytes) };
    });
    expectEqual([csv.status, csv.type], [200, 'text/csv; charset=utf-8'], 'download answer');
    const lines = csv.text.split('\r\n');
    expectEqual(lines[0], '\ufeffZeit;Objekt;Bezeichnung;Wert;Werttext;Quelle', 'download head');
    expectEqual(lines[1], '05.03.2024 07:29:59;LICHT_KUECHE;Licht K\u00fcche;0;0;Taster',
        'first row of the zoomed download');

    await page.setViewportSize({ width: 360, height: 640 });
    await page.waitForTimeout(400);
    expectTrue(await page.evaluate(() => document.documentElement.scrollWidth <= 360),
        'the page fits 360 px');
    await screenshot(page, '9-chart-360.png');
  }],

  ['on a slow phone a meter gets its own axis, states read as names, periods move', async (page, site) => {
    await (await page.context().newCDPSession(page)).send('Emulation.setCPUThrottlingRate', { rate: 4 });
    await page.setViewportSize({ width: 360, height: 740 });
    await page.clock.setFixedTime(new Date('2024-03-06T12:00:00+01:00'));
    const periods = [];
    page.on('request', (request) => {
      if (request.url().includes('VIEW=JSON')) periods.push(periodOf(request.url()));
    });
    await page.goto(site + 'HistQuery.ksq?VIEW=CHART&' + METER_SELECTION);
    await page.waitForFunction(() => document.querySelectorAll('#histchart-stats tbody tr').length === 3);
    const shown = 'Klick blendet die Kurve aus';
    expectEqual(await legendOf(page), [['Heizung Bad', 'left', false, shown, 'none'],
      ['Strom', 'right', false, shown, 'none'], ['Fenster Bad', 'scaled', false, shown, 'none']],
    'legend: the meter on the right axis, the contact scaled');
    // The temperature fills the height beside the meter, and the right axis has ticks.
    const ink = await page.evaluate(() => {
      const canvas = document.querySelector('#histchart-plot canvas');
      const over = document.querySelector('#histchart-plot .u-over');
      const ratio = canvas.width / canvas.getBoundingClientRect().width;
      const height = over.clientHeight * ratio;
      const right = (over.offsetLeft + over.clientWidth) * ratio;
      const px = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      let lo = Infinity, hi = -Infinity, axis = 0;
      for (let i = 0; i < px.length; i += 4) {
        const x = (i / 4) % canvas.width, y = Math.floor(i / 4 / canvas.width);
        if (px[i + 3] > 200 && Math.abs(px[i] - 0x1f) + Math.abs(px[i + 1] - 0x5f) +
            Math.abs(px[i + 2] - 0xbf) < 60 && x < right) {
          lo = Math.min(lo, y); hi = Math.max(hi, y);
        }
        if (x > right && px[i + 3] > 0) axis++;
      }
      return { share: (hi - lo) / height, axis: axis, fits: document.documentElement.scrollWidth <= 360 };
    });
    expectTrue(ink.share > 0.6 && ink.axis > 50 && ink.fits, 'heating line, right axis: ' + JSON.stringify(ink));
    await screenshot(page, 'chart-two-axes-360.png');
    // Pictures of both schemes at both widths; a new width asks for its data.
    for (const [width, scheme] of [[360, 'dark'], [1280, 'dark'], [1280, 'light'], [360, 'light']]) {
      const answer = page.viewportSize().width === width ? null :
        page.waitForResponse((response) => response.url().includes('VIEW=JSON'));
      await page.setViewportSize({ width, height: 740 });
      await page.emulateMedia({ colorScheme: scheme });
      if (answer) await answer;
      await page.waitForTimeout(100);
      const name = `chart-two-axes-${width}${scheme === 'dark' ? '-dark' : ''}.png`;
      if (width === 1280 || scheme === 'dark') await screenshot(page, name);
    }

    // The pointer over the contact's step reads its state's name.
    const box = await page.locator('#histchart-plot .u-over').boundingBox();
    for (const [hour, text] of [[9, 'offen'], [11, 'geschlossen']]) {
      await page.mouse.move(box.x + box.width * hour * 3600 / 86340, box.y + box.height / 2);
      await page.waitForFunction((t) => document.querySelectorAll('.u-legend .u-value')[3].textContent === t, text);
    }

    // The contact's arrow gives it the right axis.
    await page.locator('.u-legend .u-series').nth(3).locator('.histchart-axis').click();
    await page.waitForFunction(() =>
      document.querySelectorAll('.u-legend .u-series')[3].querySelector('[data-side=right]'));
    expectEqual((await legendOf(page)).map((entry) => entry[1]), ['left', 'scaled', 'right'],
        'axes with the contact chosen');
    // Hidden from the legend: marked so; the contact keeps the right axis.
    await page.locator('.u-legend .u-series').nth(2).locator('.u-label').click();
    await page.waitForFunction(() => document.querySelectorAll('.u-legend .u-off').length === 1);
    expectEqual((await legendOf(page)).map((entry) => entry.slice(1)), [['left', false, shown, 'none'],
      ['scaled', true, 'Ausgeblendet: Klick zeigt die Kurve wieder', 'line-through'],
      ['right', false, shown, 'none']], 'legend with the meter hidden');

    const expected = [
      ['#histchart-day', ['2024-03-05 12:00:00', '2024-03-06 12:00:00']],
      ['#histchart-earlier', ['2024-03-05 00:00:00', '2024-03-06 00:00:00']],
      ['#histchart-later', ['2024-03-05 12:00:00', '2024-03-06 12:00:00']],
      ['#histchart-out', ['2024-03-05 00:00:00', '2024-03-07 00:00:00']],
      ['#histchart-year', ['2023-03-06 12:00:00', '2024-03-06 12:00:00']],
    ];
    for (const [button, period] of expected) {
      await page.locator(button).click();
      await page.waitForFunction((p) => location.search.includes(p), period[0].replace(' ', '&txTimeFrom=').replace(/:/g, '%3A'));
      expectEqual([periods[periods.length - 1], periodOf(page.url())], [period, period], button);
    }
    await page.goBack();
    await page.waitForFunction(() => location.search.includes('txDateTo=2024-03-07'));
    expectEqual(periods[periods.length - 1], expected[3][1], 'back returns');
  }],


  ['the German umlauts render as letters', async (page, site) => {
    await submitForm(page, site, 'obj', TWO_OBJECTS);
    await expectCleanText(page);
    const lines = await visibleLines(page);
    expectTrue(lines.includes(FOUND(5)), `no line "${FOUND(5)}" in ${JSON.stringify(lines)}`);
    expectTrue(lines.includes(WARNING), `no line "${WARNING}"`);
    expectEqual(await page.getByRole('button', { name: DELETE_BUTTON }).count(), 1, 'delete button');
    await screenshot(page, '1-umlauts.png');
    await submitForm(page, site, 'obj', {
      from: ['2024-01-01', '00:00'], to: ['2024-01-01', '23:59'], objects: ['TEMP_AUSSEN'],
    });
    await expectCleanText(page);
    expectTrue((await visibleLines(page)).includes(NO_DATA), `no line "${NO_DATA}"`);
  }],

  ['an object report for two objects shows their lines', async (page, site) => {
    await submitForm(page, site, 'obj', TWO_OBJECTS);
    expectEqual(await reportLines(page), [
      '05.03.2024 07:30:00 : LICHT_KUECHE = 1 <-[Taster]',
      '05.03.2024 12:15:30 : LICHT_KUECHE = aus <-[Programm]',
      '05.03.2024 20:00:00 : HEIZUNG_BAD = 21.5 <-[Thermostat]',
      '05.03.2024 21:00:00 : HEIZUNG_BAD = 19.5 <-[Zentrale]',
      '05.03.2024 23:59:00 : LICHT_KUECHE = an <-[Taster]',
    ], 'report lines');
    const lines = await visibleLines(page);
    expectEqual(lines.slice(lines.indexOf('05.03.2024 23:59:00 : LICHT_KUECHE = an <-[Taster]') + 1),
        [FOUND(5), HIDDEN(7, 2), 'Home Historyauswahl', DELETE_BUTTON, WARNING],
        'lines after the report');
    await screenshot(page, '2-object-report.png');
  }],

  ['the delete button removes the rows from the database', async (page, site, db) => {
    const day = "select TimeStamp, ObjName, State from HISTORY where TimeStamp >= " +
        `${stamp('2024-03-07 00:00:00')} and TimeStamp < ${stamp('2024-03-08 00:00:00')} ` +
        'order by TimeStamp';
    const rowsOfDay = () => sqlite(db, day).split('\n').filter((l) => l !== '');
    expectEqual(rowsOfDay().length, 6, 'rows of the day before the deletion');
    await submitForm(page, site, 'obj', {
      from: ['2024-03-07', '00:00'], to: ['2024-03-07', '12:00'],
      objects: ['LICHT_KUECHE', 'TASTER_FLUR'],
    });
    expectEqual(await reportLines(page), [
      '07.03.2024 06:00:00 : LICHT_KUECHE = 1 <-[Taster]',
      '07.03.2024 08:00:00 : TASTER_FLUR = kurz <-[Taster]',
      '07.03.2024 11:59:59 : TASTER_FLUR = lang <-[Taster]',
    ], 'report before the deletion');
    const sent = recordReportRequests(page);
    await Promise.all([
      page.waitForURL((url) => url.search.startsWith('?ACTION=DEL&'), { waitUntil: 'load' }),
      page.getByRole('button', { name: DELETE_BUTTON }).click(),
    ]);
    // The link carries the label's Latin-1 byte as the form sent it.
    expectTrue(page.url().includes('Licht+K%FCche'), 'delete link ' + page.url());
    // Over plain http the Referer is the button's only proof of our page.
    const [headers] = await sent();
    expectEqual([headers['sec-fetch-site'], headers.origin, (headers.referer || '').startsWith(site)],
        [undefined, undefined, true], 'what the delete button sent: ' + JSON.stringify(headers));
    await expectCleanText(page);
    const lines = await visibleLines(page);
    expectTrue(lines.includes(DELETED), `no line "${DELETED}" in ${JSON.stringify(lines)}`);
    expectEqual(await reportLines(page), [], 'report lines after the deletion');
    await screenshot(page, '3-deletion.png');
    // Gone from the file, the hidden (State X) row too; the rest stays.
    expectEqual(rowsOfDay(), [
      `${stamp('2024-03-07 09:00:00')}|TEMP_AUSSEN|`,
      `${stamp('2024-03-07 12:00:30')}|LICHT_KUECHE|`,
    ], 'rows of the day after the deletion');
    const earlier = `where TimeStamp < ${stamp('2024-03-08 00:00:00')}`;
    expectEqual(sqlite(db, 'select count(*) from HISTORY ' + earlier).trim(),
        String(ROWS.filter((r) => r[0] < '2024-03-08').length - 4),
        'rows in the database');
    await page.reload();
    expectTrue((await visibleLines(page)).includes(DELETED), 'a second deletion run is confirmed');
  }],

  ['an SQL query shows its table', async (page, site) => {
    await submitForm(page, site, 'sql', {
      from: ['2024-03-05', '00:00'], to: ['2024-03-05', '23:59'],
      sql: "select TimeStamp, ObjName, Value, Source from HISTORY where State = 'X' order by TimeStamp",
    });
    await expectCleanText(page);
    const table = await page.evaluate(() => Array.from(document.querySelectorAll('table tr'),
        (tr) => Array.from(tr.cells, (cell) => cell.tagName + ':' + cell.textContent)));
    expectEqual(table, [
      ['TH:TimeStamp', 'TH:ObjName', 'TH:Value', 'TH:Source'],
      ['TD:05.03.2024 08:00:00', 'TD:LICHT_KUECHE', 'TD:0', 'TD:Zentrale'],
      ['TD:05.03.2024 22:00:00', 'TD:HEIZUNG_BAD', 'TD:18.0', 'TD:Programm'],
    ], 'table cells');
    const lines = await visibleLines(page);
    expectTrue(lines.includes('Zeitraum von 05.03.2024 00:00:00 bis 05.03.2024 23:59:00'),
        `no period line in ${JSON.stringify(lines)}`);
    expectTrue(lines.includes(FOUND(2)), `no line "${FOUND(2)}"`);
    await screenshot(page, '4-sql-table.png');
  }],

  ['a page of another port of 127.0.0.1 cannot delete', async (page, site, db, other) => {
    const before = rowCount(db);
    await page.goto(other.loopback + 'same-site');
    await page.waitForFunction(() => document.title === 'done', null, { timeout: STEP_TIMEOUT_MS });
    expectEqual(rowCount(db), before, 'rows after the attack');
    expectEqual(sqlite(db, UMLAUT_DAY).split('\n').filter((l) => l !== '').length, 5,
        'rows of the attacked day');
  }],

  ['pages of another site over plain http change nothing', async (page, site, db, other) => {
    const before = rowCount(db);
    const sent = recordReportRequests(page);
    // <img> deletions, a form POST, an SQL-mode delete.
    await page.goto(other.named + 'plain');
    await page.waitForFunction(() => document.title === 'done', null, { timeout: STEP_TIMEOUT_MS });
    // A navigation without a Referer, and a rel=noreferrer link.
    await Promise.all([
      page.waitForURL((url) => url.host === new URL(site).host, { waitUntil: 'load' }),
      page.goto(other.named + 'navigate'),
    ]);
    expectTrue((await visibleLines(page)).some((l) => l.startsWith(OTHER_SITE)), 'navigation refused');
    await page.goto(other.named + 'link');
    await Promise.all([
      page.waitForURL((url) => url.host === new URL(site).host, { waitUntil: 'load' }),
      page.locator('#go').click(),
    ]);
    expectTrue((await visibleLines(page)).some((l) => l.startsWith(OTHER_SITE)), 'link refused');
    expectEqual(rowCount(db), before, 'rows after the attack');
    expectEqual(sqlite(db, UMLAUT_DAY).split('\n').filter((l) => l !== '').length, 5,
        'rows of the attacked day');
    // As on a home network: no Sec-Fetch-*, no Referer; the POST of a page
    // without referrer says its origin is "null".
    const headers = await sent();
    expectEqual(headers.map((h) => [h['sec-fetch-site'] || '', h.referer || '', h.origin || '']).sort(),
        [['', '', ''], ['', '', ''], ['', '', ''], ['', '', ''], ['', '', 'null']],
        'headers of the requests to the report');
  }],

  ['a foreign name of the device gets nothing', async (page, site, db, other) => {
    const before = rowCount(db);
    const rebound = site.replace(DEVICE_NAME, FOREIGN_NAME) + 'HistQuery.ksq?';
    for (const query of ['ACTION=DEL&' + EVERYTHING, EVERYTHING + '&obj=TEMP_AUSSEN%3Bx%3BN']) {
      const response = await page.goto(rebound + query);
      expectEqual(response.status(), 403, 'status for ' + query);
      expectEqual((await visibleLines(page))[0], HOST_REFUSED, 'page for ' + query);
      expectEqual(await reportLines(page), [], 'report lines');
    }
    expectEqual(rowCount(db), before, 'rows after the requests');
  }],

  ['an object with an umlaut and a blank is reported and deleted', async (page, site, db) => {
    await submitForm(page, site, 'obj', {
      from: ['2024-03-08', '00:00'], to: ['2024-03-08', '23:59'], objects: ['K\u00fcche Licht'],
    });
    await expectCleanText(page);
    expectEqual(await reportLines(page), [
      '08.03.2024 06:00:00 : K\u00dcCHE LICHT = an <-[Taster]',
      '08.03.2024 20:00:00 : K\u00dcCHE LICHT = aus <-[Programm]',
    ], 'report lines');
    await Promise.all([
      page.waitForURL((url) => url.search.startsWith('?ACTION=DEL&'), { waitUntil: 'load' }),
      page.getByRole('button', { name: DELETE_BUTTON }).click(),
    ]);
    expectTrue((await visibleLines(page)).includes(DELETED), 'deletion confirmed');
    // Its rows of the period are gone, the hidden one too; the rest stays.
    expectEqual(sqlite(db, UMLAUT_DAY).split('\n').filter((l) => l !== ''), [
      `${stamp('2024-03-08 08:00:00')}|TEMP_AUSSEN|`,
      `${stamp('2024-03-09 00:00:00')}|K\u00dcCHE LICHT|`,
    ], 'rows of the day after the deletion');
  }],

  ['an SQL like with a percent sign finds its rows', async (page, site) => {
    await submitForm(page, site, 'sql', {
      from: ['2024-03-05', '00:00'], to: ['2024-03-05', '23:59'],
      sql: "select TimeStamp, ObjName from HISTORY where ObjName like 'HEIZ%' order by TimeStamp",
    });
    const table = await page.evaluate(() => Array.from(document.querySelectorAll('table tr'),
        (tr) => Array.from(tr.cells, (cell) => cell.textContent)));
    expectEqual(table, [['TimeStamp', 'ObjName'], ['05.03.2024 20:00:00', 'HEIZUNG_BAD'],
      ['05.03.2024 21:00:00', 'HEIZUNG_BAD'], ['05.03.2024 22:00:00', 'HEIZUNG_BAD']], 'table');
  }],

  ['values holding HTML markup show as text', async (page, site) => {
    await submitForm(page, site, 'obj', {
      from: ['2024-03-05', '00:00'], to: ['2024-03-05', '23:59'], objects: ['NOTIZ'],
    });
    expectEqual(await reportLines(page),
        [`05.03.2024 09:00:00 : NOTIZ = ${MARKUP_VALUE} <-[${MARKUP_SOURCE}]`], 'report line');
    const made = await page.evaluate(() => ({
      scripts: document.scripts.length,
      boldX: Array.from(document.querySelectorAll('b')).filter((b) => b.textContent === 'x').length,
      injected: typeof window.injected,
    }));
    expectEqual(made, { scripts: 0, boldX: 0, injected: 'undefined' }, 'elements made from values');
    await screenshot(page, '5-markup-report.png');
    // The same in SQL mode, where a column name carries markup too (the SQL
    // text decodes only a few codes, "<", ">" and "=" among them).
    await submitForm(page, site, 'sql', {
      from: ['2024-03-05', '00:00'], to: ['2024-03-05', '23:59'],
      sql: `select TimeStamp, Value as "${MARKUP_NAME}", Source from HISTORY where ObjName = 'NOTIZ'`,
    });
    const table = await page.evaluate(() => Array.from(document.querySelectorAll('table tr'),
        (tr) => Array.from(tr.cells, (cell) => cell.textContent)));
    expectEqual(table, [['TimeStamp', MARKUP_NAME, 'Source'],
      ['05.03.2024 09:00:00', MARKUP_VALUE, MARKUP_SOURCE]], 'table cells');
    const madeInTable = await page.evaluate(() => ({
      images: Array.from(document.images, (img) => img.getAttribute('src')),
      elements: document.querySelectorAll('script, table b').length,
      injected: typeof window.injected,
    }));
    expectEqual(madeInTable, { images: ['favicon.ico'], elements: 0, injected: 'undefined' },
        'elements made from the table');
    expectTrue((await visibleLines(page)).some((l) => l.includes(`"${MARKUP_NAME}"`)),
        'the SQL text shows as typed');
    await screenshot(page, '6-markup-sql.png');
  }],
  ['an SQL update from our own page runs', async (page, site, db) => {
    const source = "select ObjName, Source from HISTORY where ObjName = 'TEMP_AUSSEN' order by TimeStamp";
    const sent = recordReportRequests(page);
    await submitForm(page, site, 'sql', {
      from: ['2024-03-05', '00:00'], to: ['2024-03-05', '23:59'],
      sql: "update HISTORY set Source = 'Hand' where ObjName = 'TEMP_AUSSEN' or ObjName = 'NIEMAND'",
    });
    expectTrue((await visibleLines(page)).includes(SQL_DONE), `no line "${SQL_DONE}"`);
    // The form's POST names our page twice, without any Sec-Fetch-* header.
    const [headers] = await sent();
    expectEqual([headers['sec-fetch-site'], headers.origin, headers.referer],
        [undefined, site.slice(0, -1), site + 'auswahl.html'], 'what the SQL form sent');
    // Only the day of the period, though the condition has an "or".
    expectEqual(sqlite(db, source).split('\n').filter((l) => l !== ''),
        ['TEMP_AUSSEN|Hand', 'TEMP_AUSSEN|Sensor', 'TEMP_AUSSEN|Sensor'], 'rows after the update');
  }],
];

async function main() {
  const program = process.env.HISTQUERY_BIN;
  if (!program || !fs.existsSync(program)) fail('HISTQUERY_BIN must name the built HistQuery-localcfg');
  prepareModules();
  clearScreenshots();
  const { dir, db } = buildSite(program);
  const port = await startServer(dir);
  const site = `http://${DEVICE_NAME}:${port}/`;
  const otherPort = await startOtherSite(otherSitePages(site, `http://127.0.0.1:${port}/`));
  const other = {
    named: `http://${FOREIGN_NAME}:${otherPort}/`, loopback: `http://127.0.0.1:${otherPort}/`,
  };
  const context = await startBrowser();
  for (const [name, body] of CASES) {
    const started = Date.now();
    const page = await context.newPage();
    try {
      await body(page, site, db, other);
      run.passed++;
      console.log(`PASS ${name} (${Date.now() - started} ms)`);
    } catch (e) {
      run.failed++;
      console.log(`FAIL ${name}: ${e.message}`);
      await screenshot(page, `failed-${run.passed + run.failed}.png`).catch(() => {});
    } finally {
      await page.close().catch(() => {});
    }
  }
  if (run.failed > 0) {
    const log = readErrorLog();
    if (log) console.log('lighttpd error.log:\n' + log);
  }
}

// Every case that has not passed by now counts as failed.
async function finish(why) {
  if (run.finished) return;
  run.finished = true;
  if (why) console.log('FAIL ' + why);
  run.failed = CASES.length - run.passed;
  await cleanUp().catch((e) => console.log('clean-up: ' + e.message));
  console.log(`${run.passed} passed, ${run.failed} failed`);
  process.exit(run.failed === 0 ? 0 : 1);
}

const watchdog = setTimeout(
    () => finish(`the run did not end within ${RUN_LIMIT_MS / 1000} s`), RUN_LIMIT_MS);
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
  process.on(signal, () => finish('stopped by ' + signal));
}
// Last resort when the process ends any other way: no server is left behind.
process.on('exit', stopServer);

const started = Date.now();
main().then(() => {
  clearTimeout(watchdog);
  console.log(`time ${((Date.now() - started) / 1000).toFixed(1)} s`);
  return finish(null);
}, (e) => {
  clearTimeout(watchdog);
  return finish('setting up: ' + e.message);
});
