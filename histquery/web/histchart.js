'use strict';
// The history chart: one chart of the chosen objects over a period, drawn by
// uPlot, their statistics below it, and links to the report and the download.
//
// The page (HistQuery.ksq?VIEW=CHART&...) comes from HistQuery. It loads
// uPlot.iife.min.js, uPlot.min.css, histchart.css and this file from the folder
// of HistQuery.ksq (nothing from outside the device) and holds:
//   <main id='histchart' data-query='QUERY'>, QUERY being the selection as
//       request keys: txDateFrom=YYYY-MM-DD&txTimeFrom=HH%3AMM%3ASS&txDateTo=...
//       &txTimeTo=...&obj=NAME;LABEL;KIND (repeated, ISO-8859-15 bytes
//       percent-encoded as the selection form sent them). The obj= items go
//       on unchanged; only the four period keys change with the zoom.
//   #histchart-back (button), #histchart-status, #histchart-plot,
//   #histchart-stats (its tbody gets one row per object: label, rows, first
//   and last time, minimum and its time, maximum and its time, mean, last
//   value), #histchart-report and #histchart-csv (links).
//
// The data: HistQuery.ksq?VIEW=JSON&WIDTH=<plot width in device pixels,
// 100..4000>&QUERY answers {"from","to","width","objects":[{"name","label",
// "kind","points":[[t,v],...],"stats":{...}},...]} or {"error":"text"}. The
// points are the first, smallest, largest and last row of every pixel column
// of that width, so the x scale runs over the columns exactly: [from, to + 1).
// A null value is a gap in the line. Times are the history's seconds: the
// recorded wall clock counted like UTC, so they are shown by their UTC
// breakdown and the browser's own time zone never applies.
//
// Kind N is drawn as lines, C and U as steps. Dragging across the chart (with
// the mouse, or a finger sideways) asks for the narrower window, with seconds
// in txTimeFrom and txTimeTo; the address follows (VIEW=CHART and the
// window's keys), so a reload or a bookmark shows the same window. "Zurueck",
// a double click or the browser's back button return to the window before.
(function () {
  const root = document.getElementById('histchart');
  if (!root || typeof uPlot === 'undefined') return;
  const query = root.getAttribute('data-query') || '';
  const plotBox = document.getElementById('histchart-plot');
  const statusLine = document.getElementById('histchart-status');
  const backButton = document.getElementById('histchart-back');

  const PERIOD_KEYS = ['txDateFrom', 'txTimeFrom', 'txDateTo', 'txTimeTo', 'VIEW', 'WIDTH'];
  const WIDTH_MIN = 100;
  const WIDTH_MAX = 4000;
  const AXIS_WIDTH = 64;     // the value axis, left of the plot
  const PADDING_RIGHT = 16;
  const COLORS = ['#1f5fbf', '#d62728', '#2ca02c', '#ff7f0e', '#9467bd', '#8c564b', '#e377c2',
                  '#17becf'];
  const NONE = '\u2013';
  const NAMES = {
    MMMM: ['Januar', 'Februar', 'M\u00e4rz', 'April', 'Mai', 'Juni', 'Juli', 'August',
           'September', 'Oktober', 'November', 'Dezember'],
    MMM: ['Jan', 'Feb', 'M\u00e4r', 'Apr', 'Mai', 'Jun', 'Jul', 'Aug', 'Sep', 'Okt', 'Nov', 'Dez'],
    WWWW: ['Sonntag', 'Montag', 'Dienstag', 'Mittwoch', 'Donnerstag', 'Freitag', 'Samstag'],
    WWW: ['So', 'Mo', 'Di', 'Mi', 'Do', 'Fr', 'Sa'],
  };
  // Tick step, then the tick's text, then what is added where the year,
  // month, day, hour, minute or second changes (uPlot's table, German forms).
  const TIME_TICKS = [
    [86400 * 365, '{YYYY}', null, null, null, null, null, null, 1],
    [86400 * 28, '{MMM}', '\n{YYYY}', null, null, null, null, null, 1],
    [86400, '{D}.{M}.', '\n{YYYY}', null, null, null, null, null, 1],
    [3600, '{HH}:{mm}', '\n{D}.{M}.{YY}', null, '\n{D}.{M}.', null, null, null, 1],
    [60, '{HH}:{mm}', '\n{D}.{M}.{YY}', null, '\n{D}.{M}.', null, null, null, 1],
    [1, ':{ss}', '\n{D}.{M}.{YY} {HH}:{mm}', null, '\n{D}.{M}. {HH}:{mm}', null, '\n{HH}:{mm}',
     null, 1],
  ];

  // The selection's items other than the period (and view) keys.
  const items = query.split('&').filter((item) =>
    item !== '' && PERIOD_KEYS.indexOf(item.split('=')[0]) < 0);

  let view = null;      // the window shown: {from, to} in seconds, both inclusive
  let depth = (history.state && history.state.depth) || 0;  // zooms to go back
  let chart = null;
  let objects = [];
  let ownIndexes = [];  // per object: its indexes into the chart's joined times
  let loadCount = 0;
  let requestedWidth = 0;

  function two(n) {
    return (n < 10 ? '0' : '') + n;
  }

  // A date whose local fields show the UTC breakdown of `seconds`: uPlot
  // draws its axis with the local fields.
  function wallClock(seconds) {
    const d = new Date(seconds * 1000);
    return new Date(d.getUTCFullYear(), d.getUTCMonth(), d.getUTCDate(), d.getUTCHours(),
                    d.getUTCMinutes(), d.getUTCSeconds());
  }

  function timeText(seconds) {
    if (seconds == null) return NONE;
    const d = new Date(seconds * 1000);
    return two(d.getUTCDate()) + '.' + two(d.getUTCMonth() + 1) + '.' + d.getUTCFullYear() + ' ' +
           two(d.getUTCHours()) + ':' + two(d.getUTCMinutes()) + ':' + two(d.getUTCSeconds());
  }

  // A value with a decimal comma: as it came, or rounded to `places`.
  function numberText(value, places) {
    if (value == null) return NONE;
    if (places === undefined) return String(value).replace('.', ',');
    return value.toLocaleString('de-DE', {maximumFractionDigits: places, useGrouping: false});
  }

  // The period keys of a window: date and time with seconds.
  function periodKeys(from, to) {
    function keys(name, seconds) {
      const d = new Date(seconds * 1000);
      const year = String(d.getUTCFullYear()).padStart(4, '0');
      return 'txDate' + name + '=' + year + '-' + two(d.getUTCMonth() + 1) + '-' +
             two(d.getUTCDate()) + '&txTime' + name + '=' + two(d.getUTCHours()) + '%3A' +
             two(d.getUTCMinutes()) + '%3A' + two(d.getUTCSeconds());
    }
    return keys('From', from) + '&' + keys('To', to);
  }

  // The selection keys for a window; without one, the page's own.
  function selection(win) {
    if (!win) return query;
    return [periodKeys(win.from, win.to)].concat(items).join('&');
  }

  function status(text) {
    statusLine.textContent = text;
  }

  // One joined time axis for all objects, as uPlot wants it: every point is
  // one entry, the other objects have nothing there (undefined, which the
  // line passes over), while a null stays a gap.
  function joined(list) {
    const entries = [];
    // A state holds until its next row, which lies past the window: its step
    // goes on to the window's end, or to the present if that comes first.
    const now = Math.floor(Date.now() / 1000) - new Date().getTimezoneOffset() * 60;
    const end = Math.min(view.to, now);
    list.forEach((object, s) => {
      object.points.forEach((p) => entries.push([p[0], s, p[1]]));
      const last = object.points[object.points.length - 1];
      if (isStep(object) && last && last[1] !== null && last[0] < end) {
        entries.push([end, s, last[1]]);
      }
    });
    entries.sort((a, b) => a[0] - b[0]);  // stable: each object keeps its order
    const times = new Array(entries.length);
    const values = list.map(() => new Array(entries.length).fill(undefined));
    ownIndexes = list.map(() => []);
    entries.forEach((e, i) => {
      times[i] = e[0];
      values[e[1]][i] = e[2];
      ownIndexes[e[1]].push(i);
    });
    return [times].concat(values);
  }

  function isStep(object) {
    return object.kind === 'C' || object.kind === 'U';
  }

  // The entry whose value the legend shows for series `s` at time `x`: for a
  // step the one in force (the last at or before x), else the nearest.
  function dataIndex(u, s, closest, x) {
    if (s === 0) return closest;
    const own = ownIndexes[s - 1];
    const times = u.data[0];
    if (!own || own.length === 0) return null;
    let lo = 0;
    let hi = own.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (times[own[mid]] <= x) lo = mid + 1; else hi = mid;
    }
    const before = lo - 1;
    if (isStep(objects[s - 1])) return before >= 0 ? own[before] : null;
    if (before < 0) return own[0];
    if (lo >= own.length) return own[before];
    return x - times[own[before]] <= times[own[lo]] - x ? own[before] : own[lo];
  }

  function plotSize() {
    const width = Math.max(200, plotBox.clientWidth);
    return {width: width, height: Math.round(Math.min(400, Math.max(220, width * 0.55)))};
  }

  // Axis sizes and padding are fixed, so the plot's width depends on the
  // page's width alone: the data can be asked for at that width.
  function options(series) {
    const size = plotSize();
    return {
      width: size.width,
      height: size.height,
      padding: [12, PADDING_RIGHT, 0, 0],
      tzDate: wallClock,
      fmtDate: (template) => uPlot.fmtDate(template, NAMES),
      scales: {x: {time: true, range: () => (view ? [view.from, view.to + 1] : [0, 1])}},
      series: [{label: 'Zeit', value: (u, t) => (t == null ? NONE : timeText(t))}].concat(series),
      axes: [
        {values: TIME_TICKS, size: 50},
        {size: AXIS_WIDTH, values: (u, splits) => splits.map((v) => numberText(v, 6))},
      ],
      cursor: {
        drag: {x: true, y: false, setScale: false},
        dataIdx: dataIndex,
        bind: {dblclick: () => () => { back(); return null; }},
      },
      hooks: {setSelect: [zoomToSelection]},
    };
  }

  // The plot's width in device pixels: the chart's own once it exists, else
  // the page's width less the fixed value axis and right padding (no chart is
  // made just to measure it, which would hold back the data request).
  function plotWidth() {
    const width = chart ? chart.bbox.width :
      (plotSize().width - AXIS_WIDTH - PADDING_RIGHT) * (window.devicePixelRatio || 1);
    return Math.max(WIDTH_MIN, Math.min(WIDTH_MAX, Math.round(width)));
  }

  function seriesOf(object, i) {
    const s = {
      label: object.label || object.name,
      stroke: COLORS[i % COLORS.length],
      width: 1.5,
      value: (u, v) => numberText(v),
    };
    if (isStep(object)) s.paths = uPlot.paths.stepped({align: 1});
    return s;
  }

  function fillStats(list) {
    const body = document.querySelector('#histchart-stats tbody');
    body.textContent = '';
    list.forEach((object, i) => {
      const st = object.stats;
      const row = body.insertRow();
      const cells = [object.label || object.name, String(st.count), timeText(st.first),
                     timeText(st.last), numberText(st.min), timeText(st.minTime),
                     numberText(st.max), timeText(st.maxTime), numberText(st.mean, 3),
                     numberText(st.lastValue)];
      cells.forEach((text) => { row.insertCell().textContent = text; });
      row.cells[0].style.borderLeft = '4px solid ' + COLORS[i % COLORS.length];
    });
  }

  function show(data, how) {
    view = {from: data.from, to: data.to};
    const url = 'HistQuery.ksq?VIEW=CHART&' + selection(view);
    if (how === 'push') {
      depth += 1;
      history.pushState({from: view.from, to: view.to, depth: depth}, '', url);
    } else if (how === 'replace') {
      history.replaceState({from: view.from, to: view.to, depth: depth}, '', url);
    }
    backButton.disabled = depth === 0;
    document.getElementById('histchart-report').href = 'HistQuery.ksq?' + selection(view);
    document.getElementById('histchart-csv').href = 'HistQuery.ksq?VIEW=CSV&' + selection(view);

    const same = chart && objects.length === data.objects.length &&
                 objects.every((o, i) => o.name === data.objects[i].name);
    objects = data.objects;
    const table = joined(objects);
    if (same) {
      chart.setData(table);
    } else {
      if (chart) chart.destroy();
      chart = new uPlot(options(objects.map(seriesOf)), table, plotBox);
      bindTouch(chart);
    }
    fillStats(objects);
    const rows = objects.reduce((sum, o) => sum + o.stats.count, 0);
    status(timeText(view.from) + ' bis ' + timeText(view.to) +
           (rows === 0 ? ': keine Daten in diesem Zeitraum' : ''));
  }

  // Asks for the data of `win` (null: the page's own selection) at the
  // plot's width; `how` says what the address does: 'push', 'replace' or
  // 'none'. An answer that a later request overtook is dropped.
  function load(win, how) {
    const ticket = ++loadCount;
    requestedWidth = plotWidth();
    status('Daten werden geladen ...');
    fetch('HistQuery.ksq?VIEW=JSON&WIDTH=' + requestedWidth + '&' + selection(win),
          {credentials: 'same-origin'})
      .then((response) => response.text().then((text) => ({response: response, text: text})))
      .then((answer) => {
        if (ticket !== loadCount) return;
        let data = null;
        try {
          data = JSON.parse(answer.text);
        } catch (e) {
          data = null;
        }
        if (data && typeof data.error === 'string') {
          status(data.error);
        } else if (!answer.response.ok || !data || !Array.isArray(data.objects)) {
          status('Die Daten konnten nicht geladen werden (' + answer.response.status + ')');
        } else {
          show(data, how);
        }
      })
      .catch(() => {
        if (ticket === loadCount) status('Die Daten konnten nicht geladen werden');
      });
  }

  function zoomToSelection(u) {
    const select = u.select;
    if (!view || select.width < 3) return;
    let from = Math.floor(u.posToVal(select.left, 'x'));
    let to = Math.ceil(u.posToVal(select.left + select.width, 'x')) - 1;
    u.setSelect({left: 0, top: 0, width: 0, height: 0}, false);
    from = Math.max(from, view.from);
    to = Math.min(to, view.to);
    if (to > from) load({from: from, to: to}, 'push');
  }

  function back() {
    if (depth > 0) history.back();
  }

  // A finger drawn sideways selects as the mouse does; up and down still
  // scroll the page.
  function bindTouch(u) {
    let start = null;
    function at(e) {
      const box = u.over.getBoundingClientRect();
      return Math.max(0, Math.min(box.width, e.touches[0].clientX - box.left));
    }
    u.over.addEventListener('touchstart', (e) => {
      start = e.touches.length === 1 ? at(e) : null;
    }, {passive: true});
    u.over.addEventListener('touchmove', (e) => {
      if (start === null || e.touches.length !== 1) return;
      const x = at(e);
      u.setSelect({left: Math.min(start, x), width: Math.abs(x - start), top: 0,
                   height: u.over.clientHeight}, false);
    }, {passive: true});
    u.over.addEventListener('touchend', () => {
      if (start === null) return;
      start = null;
      zoomToSelection(u);
    }, {passive: true});
  }

  backButton.addEventListener('click', back);
  window.addEventListener('popstate', (e) => {
    const state = e.state;
    depth = (state && state.depth) || 0;
    load(state && state.from != null ? {from: state.from, to: state.to} : null, 'none');
  });
  let resizeTimer = null;
  window.addEventListener('resize', () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(() => {
      if (!chart) return;
      chart.setSize(plotSize());
      if (plotWidth() !== requestedWidth) load(view, 'none');
    }, 250);
  });

  load(null, 'replace');
})();
