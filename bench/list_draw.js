'use strict';
// How long the report list takes to show in headless Chromium, and how many
// bytes it costs: HistQuery behind lighttpd (a free 127.0.0.1 port, the page
// streamed as HistQuery writes it, as on the device) over a benchmark
// history, the report of a year (or March) of the 8 named objects opened
// REPS times in fresh pages. The time runs from the start of the navigation
// (performance.now()'s origin) to the first animation frame after the page's
// closing section (its delete button) exists; the bytes are the document's
// as received (body and head when it completed, the body so far when not).
//
//   node bench/list_draw.js BUILD_DIR HISTORY_DIR [REPS] [--phone]
//        [--period year|month] [--timeout SECONDS]
//
// BUILD_DIR holds histquery/HistQuery-localcfg (histquery/web/ is copied
// when there); HISTORY_DIR holds history.db (bench/make_history.py), only
// read. --phone: 360x740 CSS px, device scale factor 3, a touch screen, the
// CPU slowed 4x (CDP Emulation.setCPUThrottlingRate); otherwise 1280x800.
// A run whose closing section is not there after --timeout seconds (120)
// counts as "not complete"; the next run waits until its HistQuery has
// ended. Uses playwright-core of tests/browser (tests/browser/setup.sh),
// Debian's chromium and lighttpd. Prints each run and the median.
process.env.TZ = 'Europe/Berlin';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { OBJECTS, KINDS, sleep, startSite, launchChromium } = require('./benchsite');

const PERIODS = {
  year: ['2026-01-01', '2026-12-31'],
  month: ['2026-03-01', '2026-03-31'],
};
const PHONE = { viewport: { width: 360, height: 740 }, deviceScaleFactor: 3, isMobile: true,
  hasTouch: true };
const DESKTOP = { viewport: { width: 1280, height: 800 } };

function query(period) {
  const [from, to] = PERIODS[period];
  return `txDateFrom=${from}&txTimeFrom=00%3A00&txDateTo=${to}&txTimeTo=23%3A59` +
      OBJECTS.map((name, i) => `&obj=${name}%3B${name}%3B${KINDS[i]}`).join('');
}

// Set in the page before its first byte is parsed: polls the last few
// elements of the body (a look at the whole tree each time would cost as
// much as the long list itself) for the delete button, the only submit
// button of the page, and notes the first frame after it is there.
function watchClosingSection() {
  const look = () => {
    let element = document.body && document.body.lastElementChild;
    for (let i = 0; element && i < 8; i++, element = element.previousElementSibling) {
      if (element.tagName === 'BUTTON' && element.type === 'submit') {
        requestAnimationFrame(() => { window.closingShownAt = performance.now(); });
        return;
      }
    }
    setTimeout(look, 5);
  };
  look();
}

function parseArgs(argv) {
  const args = { positional: [], phone: false, period: 'year', timeout: 120 };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--phone') args.phone = true;
    else if (argv[i] === '--period') args.period = argv[++i];
    else if (argv[i] === '--timeout') args.timeout = Number(argv[++i]);
    else args.positional.push(argv[i]);
  }
  const [build, history, reps] = args.positional;
  if (!build || !history || !PERIODS[args.period] || !(args.timeout > 0)) {
    throw new Error('usage: list_draw.js BUILD_DIR HISTORY_DIR [REPS] [--phone] ' +
                    '[--period year|month] [--timeout SECONDS]');
  }
  return { ...args, build, history, reps: Number(reps || 5) };
}

// Whether a HistQuery of this site still runs (one whose client went away
// ends with lighttpd's TERM, or when its write fails).
function reportRunning(dir) {
  const cwd = fs.realpathSync(dir);
  for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      if (fs.readlinkSync(`/proc/${pid}/cwd`) === cwd &&
          fs.readFileSync(`/proc/${pid}/comm`, 'utf8').startsWith('HistQuery')) return true;
    } catch (e) {
      // gone meanwhile, or not ours to read
    }
  }
  return false;
}

// The document's bytes as Chromium's network stack hands them on.
async function countDocumentBytes(page) {
  const cdp = await page.context().newCDPSession(page);
  const counted = { body: 0, total: null, cdp };
  let document = null;
  cdp.on('Network.responseReceived', (event) => {
    if (event.type === 'Document' && document === null) document = event.requestId;
  });
  cdp.on('Network.dataReceived', (event) => {
    if (event.requestId === document) counted.body += event.dataLength;
  });
  cdp.on('Network.loadingFinished', (event) => {
    if (event.requestId === document) counted.total = event.encodedDataLength;
  });
  await cdp.send('Network.enable');
  return counted;
}

async function openOnce(browser, args, url) {
  const page = await browser.newPage(args.phone ? PHONE : DESKTOP);
  await page.addInitScript(watchClosingSection);
  const bytes = await countDocumentBytes(page);
  if (args.phone) await bytes.cdp.send('Emulation.setCPUThrottlingRate', { rate: 4 });
  const limit = args.timeout * 1000;
  let ms = null;
  try {
    await page.goto(url, { waitUntil: 'commit', timeout: limit });
    await page.waitForFunction(() => window.closingShownAt !== undefined, null,
        { timeout: limit, polling: 100 });
    ms = await page.evaluate(() => window.closingShownAt);
  } catch (e) {
    if (e.name !== 'TimeoutError') throw e;
  }
  let responseEnd = null;
  if (ms !== null) {
    responseEnd = await page.evaluate(() => {
      const nav = performance.getEntriesByType('navigation')[0];
      return nav && nav.responseEnd > 0 ? nav.responseEnd : null;
    });
    // The last chunk's event may trail the frame.
    for (let i = 0; i < 50 && bytes.total === null; i++) await sleep(20);
  }
  const received = bytes.total !== null ? bytes.total : bytes.body;
  await page.close();
  return { ms, responseEnd, received, complete: bytes.total !== null };
}

function kilobytes(count) {
  return `${(count / 1024).toFixed(1)} KiB`;
}

async function main() {
  const args = parseArgs(process.argv.slice(2));
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'list_draw.'));
  const { port, stop } =
      await startSite(args.build, dir, args.history, args.reps * (args.timeout + 90) + 60);
  const browser = await launchChromium();
  try {
    const url = `http://127.0.0.1:${port}/HistQuery.ksq?${query(args.period)}`;
    console.log(`${args.period}, 8 objects, ${args.phone ? 'phone (360x740, x3, CPU/4)' :
      'desktop (1280x800)'}: ${path.resolve(args.build)} on ${path.resolve(args.history)}`);
    const times = [];
    for (let i = 0; i < args.reps; i++) {
      for (let wait = 0; wait < 600 && reportRunning(dir); wait++) await sleep(100);
      const run = await openOnce(browser, args, url);
      if (run.ms === null) {
        times.push(Infinity);
        console.log(`list ${i + 1}: not complete after ${args.timeout} s, ` +
                    `${kilobytes(run.received)} received so far`);
      } else {
        times.push(run.ms);
        const end = run.responseEnd === null ? ''
            : `, page received by ${run.responseEnd.toFixed(0)} ms`;
        console.log(`list ${i + 1}: ${run.ms.toFixed(0)} ms to the closing section${end}, ` +
                    `${kilobytes(run.received)} (${run.received} bytes)`);
      }
    }
    times.sort((a, b) => a - b);
    const median = times[Math.floor(times.length / 2)];
    console.log(median === Infinity ? `median: not complete after ${args.timeout} s`
                                    : `median: ${median.toFixed(0)} ms`);
  } finally {
    await browser.close();
    stop();
    for (let wait = 0; wait < 100 && reportRunning(dir); wait++) await sleep(100);
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
