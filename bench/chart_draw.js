'use strict';
// How long the chart page takes to draw in headless Chromium: HistQuery
// behind lighttpd (a free 127.0.0.1 port) over a benchmark history, the page
// for a year of the 8 named objects opened REPS times in fresh pages; the
// time runs from the start of the navigation (performance.now()'s origin) to
// the first animation frame after the chart and its statistics table are in.
//
//   node bench/chart_draw.js BUILD_DIR HISTORY_DIR [REPS]
//
// BUILD_DIR holds histquery/HistQuery-localcfg and histquery/web/;
// HISTORY_DIR holds history.db (bench/make_history.py). Uses playwright-core
// of tests/browser (tests/browser/setup.sh), Debian's chromium and lighttpd.
// Prints each time and the median in milliseconds.
process.env.TZ = 'Europe/Berlin';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { OBJECTS, KINDS, startSite, launchChromium } = require('./benchsite');
const QUERY = 'VIEW=CHART&txDateFrom=2026-01-01&txTimeFrom=00%3A00&txDateTo=2026-12-31' +
    '&txTimeTo=23%3A59' + OBJECTS.map((name, i) => `&obj=${name}%3B${name}%3B${KINDS[i]}`).join('');

async function main() {
  const [build, history, repsText] = process.argv.slice(2);
  if (!build || !history) throw new Error('usage: chart_draw.js BUILD_DIR HISTORY_DIR [REPS]');
  const reps = Number(repsText || 5);
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'chart_draw.'));
  const { port, stop } = await startSite(build, dir, history, 600);
  const browser = await launchChromium();
  try {
    const times = [];
    for (let i = 0; i < reps; i++) {
      const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
      await page.goto(`http://127.0.0.1:${port}/HistQuery.ksq?${QUERY}`);
      const ms = await page.evaluate(() => new Promise((resolve) => {
        const check = () => {
          const rows = document.querySelectorAll('#histchart-stats tbody tr').length;
          if (rows === 8 && document.querySelector('#histchart-plot canvas')) {
            requestAnimationFrame(() => resolve(performance.now()));
          } else {
            setTimeout(check, 5);
          }
        };
        check();
      }));
      times.push(ms);
      // Where the time went: the page itself, the chart data's answer.
      const parts = await page.evaluate(() => {
        const nav = performance.getEntriesByType('navigation')[0];
        const data = performance.getEntriesByType('resource')
            .find((entry) => entry.name.includes('VIEW=JSON'));
        return { page: nav.responseEnd, dataStart: data ? data.startTime : 0,
                 dataEnd: data ? data.responseEnd : 0 };
      });
      console.log(`draw ${i + 1}: ${ms.toFixed(0)} ms (page ${parts.page.toFixed(0)} ms, ` +
                  `chart data ${parts.dataStart.toFixed(0)}-${parts.dataEnd.toFixed(0)} ms)`);
      await page.close();
    }
    times.sort((a, b) => a - b);
    console.log(`median: ${times[Math.floor(times.length / 2)].toFixed(0)} ms`);
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
