'use strict';
// Pictures of the report list at 360 px as a phone shows it: HistQuery behind
// lighttpd (a free 127.0.0.1 port) over a small history of a week of three
// objects, some of its rows hidden (State "X"), made afresh in a temporary
// folder.
//
//   node bench/list_shots.js BUILD_DIR OUT_DIR
//
// Writes into OUT_DIR:
//   list-first-page-360.png   the first page of the week's report (more than
//                             one page): its count and page links on top
//   list-hidden-rows-360.png  the closing section of a day's report with
//                             hidden rows: the rows of the period, how many
//                             of them are not shown, the delete button
//   list-deleted-360.png      the page after that day's deletion, with the
//                             rows it removed
// BUILD_DIR holds histquery/HistQuery-localcfg. Uses playwright-core of
// tests/browser (tests/browser/setup.sh), Debian's chromium, lighttpd and the
// sqlite3 shell; demo/make_favicon.py draws the page's icon.
process.env.TZ = 'Europe/Berlin';

const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { startSite, launchChromium } = require('./benchsite');

const WEEK = ['2026-03-02', '2026-03-08'];
const DAY = '2026-03-05';
const OBJECTS = [['TEMP_AUSSEN', 'Temperatur aussen', 'N'], ['HEIZUNG_BAD', 'Heizung Bad', 'N'],
  ['LICHT_KUECHE', 'Licht Kueche', 'C']];
// 2 device pixels a CSS pixel keep the text sharp and each picture small.
const PHONE = { viewport: { width: 360, height: 740 }, deviceScaleFactor: 2, isMobile: true,
  hasTouch: true };

// The rows of the week as the recorder writes them, in time order: the
// outside temperature every 15 minutes, the bathroom heating every hour, the
// kitchen light a few times a day; every 11th row of each object marked
// State "X".
function historyRows() {
  const rows = [];
  const begin = Date.UTC(2026, 2, 2) / 1000;
  for (let t = begin; t < begin + 7 * 86400; t += 900) {
    const hour = (t % 86400) / 3600;
    const temp = (4 + 5 * Math.sin((hour - 9) / 24 * 2 * Math.PI)).toFixed(1);
    rows.push([t, 'TEMP_AUSSEN', 'N', temp, temp, 'Sensor']);
    if (t % 3600 === 0) {
      const heat = (hour >= 6 && hour < 22 ? 21 : 18).toFixed(1);
      rows.push([t + 30, 'HEIZUNG_BAD', 'N', heat, heat, 'Thermostat']);
    }
    if ([6.5, 7.25, 18, 22.75].includes(hour)) {
      const on = hour === 6.5 || hour === 18;
      rows.push([t + 5, 'LICHT_KUECHE', 'C', on ? '1' : '0', on ? 'an' : 'aus', 'Taster']);
    }
  }
  rows.sort((a, b) => a[0] - b[0]);
  const seen = {};
  return rows.map((row) => {
    seen[row[1]] = (seen[row[1]] || 0) + 1;
    return row.concat(seen[row[1]] % 11 === 0 ? 'X' : '');
  });
}

function createHistory(db) {
  const text = (value) => typeof value === 'number' ? String(value) : `'${value}'`;
  const inserts = historyRows().map((row) => `insert into HISTORY values (${row.map(text)});`);
  childProcess.execFileSync('sqlite3', [db], {
    input: 'create table HISTORY (TimeStamp integer, ObjName text, ObjKind text, Value text, ' +
        'ValueText text, Source text, State text);\nbegin;\n' + inserts.join('\n') + '\ncommit;\n',
  });
}

function query(from, to, objects) {
  return `txDateFrom=${from}&txTimeFrom=00%3A00&txDateTo=${to}&txTimeTo=23%3A59` +
      objects.map(([name, label, kind]) =>
        `&obj=${name}%3B${encodeURIComponent(label)}%3B${kind}`).join('');
}

async function main() {
  const [build, out] = process.argv.slice(2);
  if (!build || !out) throw new Error('usage: list_shots.js BUILD_DIR OUT_DIR');
  fs.mkdirSync(out, { recursive: true });
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'list_shots.'));
  const data = path.join(dir, 'data');
  fs.mkdirSync(data);
  createHistory(path.join(data, 'history.db'));
  childProcess.execFileSync('python3', [path.join(__dirname, '..', 'demo', 'make_favicon.py'),
    path.join(dir, 'favicon.ico')]);
  const { port, stop } = await startSite(build, dir, data, 300);
  const browser = await launchChromium();
  try {
    const site = `http://127.0.0.1:${port}/HistQuery.ksq?`;
    const page = await browser.newPage(PHONE);
    const shoot = async (name, clip) => {
      await page.screenshot({ path: path.join(out, name), clip });
      console.log(`${name}: ${fs.statSync(path.join(out, name)).size} bytes`);
    };

    await page.goto(site + query(WEEK[0], WEEK[1], OBJECTS));
    await page.getByText('chste Seite >').first().waitFor();
    // The head, the page links and the first rows.
    await shoot('list-first-page-360.png', { x: 0, y: 0, width: 360, height: 520 });

    await page.goto(site + query(DAY, DAY, OBJECTS.slice(1)));
    const hidden = page.getByText('davon nicht angezeigt, die L\u00f6schung entfernt sie mit');
    await hidden.waitFor();
    await page.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
    // The last rows and the closing section below them.
    await shoot('list-hidden-rows-360.png', { x: 0, y: 300, width: 360, height: 440 });

    await Promise.all([page.waitForURL(/ACTION=DEL/),
      page.getByText('Diese Daten aus der Datenbank l\u00f6schen').click()]);
    await page.getByText('Datens\u00e4tze wurden gel\u00f6scht.').waitFor();
    await shoot('list-deleted-360.png', { x: 0, y: 0, width: 360, height: 260 });
  } finally {
    await browser.close();
    stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
