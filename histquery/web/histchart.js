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
//   #histchart-back, #histchart-earlier, #histchart-later, #histchart-out,
//   #histchart-day, #histchart-week, #histchart-month, #histchart-year
//   (buttons), #histchart-status, #histchart-plot, #histchart-stats (its
//   tbody gets one row per object: label, rows, first and last time, minimum
//   and its time, maximum and its time, mean, last value), #histchart-report
//   and #histchart-csv (links).
//
// The data: HistQuery.ksq?VIEW=JSON&WIDTH=<plot width in device pixels,
// 100..4000>&QUERY answers {"from","to","width","objects":[{"name","label",
// "kind","points":[[t,v],...],"stats":{...},"texts":{"1":"offen",...}},...]}
// or {"error":"text"} ("texts" for kinds C and U only, where the history
// names their values). The
// points are the first, smallest, largest and last row of every pixel column
// of that width, so the x scale runs over the columns exactly: [from, to + 1).
// A null value is a gap in the line. Times are the history's seconds: the
// recorded wall clock counted like UTC, so they are shown by their UTC
// breakdown and the browser's own time zone never applies.
//
// Kind N is drawn as lines, C and U as steps, whose values read as the
// history's texts where it has them ("offen" for 1). Objects whose ranges
// differ by far get value scales of their own (see axisGroups): the left and
// the right axis show two of them, the others fill the height unlabelled; the
// legend's arrow tells which, and a click on it gives the right axis to that
// object. A click on a legend entry hides its object (dimmed, struck
// through) or shows it again.
//
// Dragging across the chart (with the mouse, or a finger sideways) asks for
// the narrower window, with seconds in txTimeFrom and txTimeTo; "<" and ">"
// move the window by half its length, "Verkleinern" doubles it around its
// middle, and "24 Stunden" .. "1 Jahr" show the period up to now. Each asks
// for the new window's data, and the address follows (VIEW=CHART and the
// window's keys), so a reload or a bookmark shows the same window. "Zurueck",
// a double click or the browser's back button return to the window before.
//
// "Now" is the browser's local wall clock: the phone or computer showing the
// page is in the household whose wall clock the history records.
//
// The colours (series, text, grid) come from histchart.css, which has a set
// for the light and one for the dark scheme; a change of the scheme redraws.
(function () {
  const root = document.getElementById('histchart');
  if (!root || typeof uPlot === 'undefined') return;
  const query = root.getAttribute('data-query') || '';
  const plotBox = document.getElementById('histchart-plot');
  const statusLine = document.getElementById('histchart-status');
  const backButton = document.getElementById('histchart-back');
  const laterButton = document.getElementById('histchart-later');

  const PERIOD_KEYS = ['txDateFrom', 'txTimeFrom', 'txDateTo', 'txTimeTo', 'VIEW', 'WIDTH'];
  const WIDTH_MIN = 100;
  const WIDTH_MAX = 4000;
  const PADDING_RIGHT = 16;
  const SERIES_COLORS = 8;   // --histchart-series-1 .. -8 of histchart.css
  const NONE = '\u2013';
  // A share of the axis' height that every object on it keeps (axisGroups).
  const FILL = 1 / 3;
  const AXIS_TEXT_MAX = 8;   // characters of a state's name at an axis tick
  const SCALED_ALPHA = 0.3;
  const DAY = 86400;
  const LAST_SECOND = 2147483647;
  const LEFT = 'left';
  const RIGHT = 'right';
  const SCALED = 'scaled';
  const AXIS_MARKS = {
    left: ['\u2190', 'Werte an der linken Achse'],
    right: ['\u2192', 'Werte an der rechten Achse'],
    scaled: ['\u2195', 'Eigene Skala ohne Achse, auf die H\u00f6he gestreckt: ' +
             'Klick zeigt sie an der rechten Achse'],
  };
  const SHOWN_TITLE = 'Klick blendet die Kurve aus';
  const HIDDEN_TITLE = 'Ausgeblendet: Klick zeigt die Kurve wieder';
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
  let table = null;          // the chart's data, kept for a redraw
  const hidden = new Set();  // names of the objects hidden from the chart
  let rightChoice = null;    // name of the object the right axis follows, if chosen
  let groups = [];           // per object: its scale's group
  let columns = 0;           // the pixel columns the data was made for (0: every row)
  const dark = window.matchMedia ? window.matchMedia('(prefers-color-scheme: dark)') : null;

  // The colours of the present scheme, from histchart.css.
  function colors() {
    const style = getComputedStyle(root);
    const get = (name) => style.getPropertyValue('--histchart-' + name).trim();
    const series = [];
    for (let i = 1; i <= SERIES_COLORS; i++) series.push(get('series-' + i));
    return {series: series, text: get('text'), grid: get('grid')};
  }

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

  // A value as the history names it, where the object's texts do.
  function valueText(object, value) {
    if (value == null) return NONE;
    const text = object.textOf.get(value);
    return text !== undefined ? text : numberText(value);
  }

  // The local wall clock now, in the history's seconds.
  function wallNow() {
    return Math.floor(Date.now() / 1000) - new Date().getTimezoneOffset() * 60;
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
    const end = Math.min(view.to, wallNow());
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

  // A value axis' width before its ticks are known: narrower on a phone,
  // where every pixel column counts.
  function axisWidth(width) {
    return width < 480 ? 48 : 64;
  }

  // Then as wide as its longest tick text (a meter's 12000 or a state's
  // name), beside the tick marks and their gap.
  function axisSize(u, values, axisIndex) {
    if (!values) return u.axes[axisIndex]._size || axisWidth(plotSize().width);
    const context = u.ctx;
    context.save();
    context.font = u.axes[axisIndex].font[0];
    const widest = values.reduce((w, text) => Math.max(w, context.measureText(text).width), 0);
    context.restore();
    return Math.ceil(widest / (window.devicePixelRatio || 1)) + 20;
  }

  // Whether an object holds states rather than a measured value: a step
  // whose values the history names, or one that only goes between 0 and 1
  // (a switch). States get an axis only where no measured value wants it.
  function isState(object) {
    const st = object.stats;
    const switchLike = st.min != null && st.min >= 0 && st.max <= 1;
    return isStep(object) && (object.textOf.size > 0 || switchLike);
  }

  // Which objects share a value scale. Taken in the order of the selection,
  // an object joins the first group where, drawn together, it and every
  // object already there keep at least a third (FILL) of the height: the
  // joint range (from the statistics' minimum and maximum) is at most three
  // times the smallest range among them. A meter at 12000 and temperatures
  // at 17..23 part, and so do humidity at 50..60 or valves at 0..100 beside
  // those temperatures, while temperatures of 0..5 and -2..4 share one. An
  // object with one value only (a contact closed all day) takes any group
  // whose smallest range leaves room for it; one without numbers goes with
  // the first group. Returns per object the index of its group.
  function axisGroups(list) {
    const found = [];  // {lo, hi, smallest}: the joint range and the smallest range in it
    const groupOf = list.map((object) => {
      const lo = object.stats.min;
      const hi = object.stats.max;
      if (lo == null || hi == null) return -1;
      const own = hi > lo ? hi - lo : Infinity;
      let g = found.findIndex((group) => {
        const joint = Math.max(group.hi, hi) - Math.min(group.lo, lo);
        return joint === 0 || joint * FILL <= Math.min(own, group.smallest);
      });
      if (g < 0) {
        g = found.length;
        found.push({lo: lo, hi: hi, smallest: own});
      } else {
        const group = found[g];
        group.lo = Math.min(group.lo, lo);
        group.hi = Math.max(group.hi, hi);
        group.smallest = Math.min(group.smallest, own);
      }
      return g;
    });
    return groupOf.map((g) => Math.max(0, g));
  }

  // Which groups the two axes show: of the groups with a shown object, those
  // of measured values first, each kind in the order of the selection; the
  // right axis goes to the group of the object chosen for it, if any.
  function axisSides() {
    const order = [];
    [false, true].forEach((states) => {
      objects.forEach((object, i) => {
        if (hidden.has(object.name) || isState(object) !== states) return;
        if (order.indexOf(groups[i]) < 0) order.push(groups[i]);
      });
    });
    const left = order.length > 0 ? order[0] : 0;
    let right = order.length > 1 ? order[1] : null;
    const chosen = objects.findIndex((o) => o.name === rightChoice && !hidden.has(o.name));
    if (chosen >= 0 && groups[chosen] !== left) right = groups[chosen];
    return {left: left, right: right};
  }

  function sideOf(i, sides) {
    if (groups[i] === sides.left) return LEFT;
    return groups[i] === sides.right ? RIGHT : SCALED;
  }

  // The axis of a group: its ticks in the colour of its object where it has
  // one alone, and for a single object's states their names.
  function valueAxis(group, side, palette) {
    const members = objects.map((o, i) => i).filter((i) =>
      groups[i] === group && !hidden.has(objects[i].name));
    const single = members.length === 1 ? members[0] : -1;
    const axis = {
      scale: 'g' + group,
      side: side === RIGHT ? 1 : 3,
      size: axisSize,
      stroke: single >= 0 ? palette.series[single % SERIES_COLORS] : palette.text,
      grid: {show: side === LEFT, stroke: palette.grid, width: 1},
      ticks: {stroke: palette.grid, width: 1},
      values: (u, splits) => splits.map((v) => numberText(v, 6)),
    };
    if (single >= 0 && objects[single].textOf.size > 0) {
      // Looked up when drawn: a new window may bring other names.
      const texts = () => objects[single].textOf;
      axis.splits = (u, i, min, max) =>
        Array.from(texts().keys()).filter((v) => v >= min && v <= max).sort((a, b) => a - b);
      axis.values = (u, splits) => splits.map((v) => {
        const text = texts().get(v);
        if (text === undefined) return numberText(v, 6);
        return text.length > AXIS_TEXT_MAX ? text.slice(0, AXIS_TEXT_MAX - 1) + '\u2026' : text;
      });
    }
    return axis;
  }

  // Axis sizes and padding follow the page's width alone (and whether a
  // right axis is shown), so the data can be asked for at the plot's width.
  function options() {
    const size = plotSize();
    const palette = colors();
    const sides = axisSides();
    const scales = {x: {time: true, range: () => (view ? [view.from, view.to + 1] : [0, 1])}};
    groups.forEach((g) => { scales['g' + g] = {auto: true}; });
    const axes = [
      {values: TIME_TICKS, size: 50, stroke: palette.text,
       grid: {stroke: palette.grid, width: 1}, ticks: {stroke: palette.grid, width: 1}},
      valueAxis(sides.left, LEFT, palette),
    ];
    if (sides.right !== null) axes.push(valueAxis(sides.right, RIGHT, palette));
    return {
      width: size.width,
      height: size.height,
      padding: [12, sides.right !== null ? 0 : PADDING_RIGHT, 0, 0],
      tzDate: wallClock,
      fmtDate: (template) => uPlot.fmtDate(template, NAMES),
      scales: scales,
      series: [{label: 'Zeit', value: (u, t) => (t == null ? NONE : timeText(t))}]
        .concat(objects.map((object, i) => seriesOf(object, i, palette, sides))),
      axes: axes,
      cursor: {
        drag: {x: true, y: false, setScale: false},
        dataIdx: dataIndex,
        bind: {dblclick: () => () => { back(); return null; }},
      },
      hooks: {setSelect: [zoomToSelection], setSeries: [seriesToggled]},
    };
  }

  // The plot's width in device pixels: the chart's own once it exists, else
  // the page's width less one value axis and the right padding (no chart is
  // made just to measure it, which would hold back the data request).
  function plotWidth() {
    const page = plotSize().width;
    const width = chart ? chart.bbox.width :
      (page - axisWidth(page) - PADDING_RIGHT) * (window.devicePixelRatio || 1);
    return Math.max(WIDTH_MIN, Math.min(WIDTH_MAX, Math.round(width)));
  }

  // More points than pixel columns: the line fills a band anyway.
  function isDense(object) {
    return object.points.length > columns;
  }

  // An object without an axis is drawn paler: the lines that can be read
  // off an axis stay in front. A dense line is drawn a pixel thin, which
  // takes a browser without graphics hardware a quarter of the time of a
  // wider one (a year of 8 objects: 60 instead of 250 ms here).
  function seriesOf(object, i, palette, sides) {
    const s = {
      label: object.label || object.name,
      stroke: palette.series[i % SERIES_COLORS],
      width: isDense(object) ? 1 : 1.5,
      scale: 'g' + groups[i],
      show: !hidden.has(object.name),
      alpha: sideOf(i, sides) === SCALED ? SCALED_ALPHA : 1,
      value: (u, v, si) => valueText(objects[si - 1], v),
    };
    if (isStep(object)) s.paths = uPlot.paths.stepped({align: 1});
    return s;
  }

  // The legend's entries: hidden ones say so, and each has an arrow for its
  // axis, a click on which gives the right axis to its object.
  function decorateLegend() {
    const sides = axisSides();
    const rows = chart.root.querySelectorAll('.u-legend .u-series');
    objects.forEach((object, i) => {
      const row = rows[i + 1];
      if (!row) return;
      const label = row.querySelector('th');
      label.title = hidden.has(object.name) ? HIDDEN_TITLE : SHOWN_TITLE;
      const side = sideOf(i, sides);
      const mark = document.createElement('button');
      mark.type = 'button';
      mark.className = 'histchart-axis';
      mark.setAttribute('data-side', side);
      mark.textContent = AXIS_MARKS[side][0];
      mark.title = AXIS_MARKS[side][1];
      mark.disabled = side !== SCALED;
      mark.addEventListener('click', (e) => {
        e.stopPropagation();
        rightChoice = object.name;
        redraw();
      });
      label.insertBefore(mark, label.firstChild);
    });
  }

  // What a chart is made for beyond its data: a new window whose layout is
  // the same only gets the new data.
  function layout() {
    return JSON.stringify([objects.map((o) => [o.name, o.textOf.size > 0, isDense(o)]), groups,
                           axisSides()]);
  }

  // A new chart with the same data: the axes or the colours changed.
  function redraw() {
    if (chart) chart.destroy();
    chart = new uPlot(options(), table, plotBox);
    bindTouch(chart);
    decorateLegend();
  }

  function seriesToggled(u, i, opts) {
    if (i == null || i < 1 || opts.show == null) return;
    const name = objects[i - 1].name;
    if (opts.show) hidden.delete(name); else hidden.add(name);
    // Outside uPlot's own handler: the chart it runs in goes.
    setTimeout(redraw, 0);
  }

  function fillStats(list) {
    const palette = colors();
    const body = document.querySelector('#histchart-stats tbody');
    body.textContent = '';
    list.forEach((object, i) => {
      const st = object.stats;
      const row = body.insertRow();
      const cells = [object.label || object.name, String(st.count), timeText(st.first),
                     timeText(st.last), valueText(object, st.min), timeText(st.minTime),
                     valueText(object, st.max), timeText(st.maxTime), numberText(st.mean, 3),
                     valueText(object, st.lastValue)];
      cells.forEach((text) => { row.insertCell().textContent = text; });
      row.cells[0].style.borderLeft = '4px solid ' + palette.series[i % SERIES_COLORS];
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
    laterButton.disabled = view.to >= wallNow();
    document.getElementById('histchart-report').href = 'HistQuery.ksq?' + selection(view);
    document.getElementById('histchart-csv').href = 'HistQuery.ksq?VIEW=CSV&' + selection(view);

    const before = chart ? layout() : null;
    objects = data.objects;
    columns = data.width;
    objects.forEach((object) => {
      const texts = object.texts || {};
      object.textOf = new Map(Object.keys(texts).map((key) => [Number(key), texts[key]]));
    });
    groups = axisGroups(objects);
    table = joined(objects);
    if (before === layout()) chart.setData(table); else redraw();
    fillStats(objects);
    const rows = objects.reduce((sum, o) => sum + o.stats.count, 0);
    // Objects without rows are named, and what the answer says besides.
    const empty = objects.filter((o) => o.stats.count === 0).map((o) => o.label || o.name);
    const notes = (rows > 0 && empty.length > 0 ? ['keine Daten f\u00fcr ' + empty.join(', ')] : [])
        .concat(Array.isArray(data.messages) ? data.messages : []);
    status(timeText(view.from) + ' bis ' + timeText(view.to) +
           (rows === 0 ? ': keine Daten in diesem Zeitraum' : '') +
           (notes.length > 0 ? ' \u2013 ' + notes.join('; ') : ''));
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

  // The window moved by `shift` seconds, or widened by `grow` at each end;
  // kept within the history's seconds.
  function moved(shift, grow) {
    const from = Math.max(0, view.from + shift - grow);
    return {from: from, to: Math.max(from + 1, Math.min(LAST_SECOND, view.to + shift + grow))};
  }

  function half() {
    return Math.max(1, Math.floor((view.to - view.from) / 2));
  }

  // The last `days` days up to now.
  function daysUpToNow(days) {
    const to = wallNow();
    return {from: to - days * DAY, to: to};
  }

  // From the same date and time a year back up to now.
  function yearUpToNow() {
    const to = wallNow();
    const from = new Date(to * 1000);
    from.setUTCFullYear(from.getUTCFullYear() - 1);
    return {from: from.getTime() / 1000, to: to};
  }

  const moves = [
    ['histchart-earlier', () => moved(-half(), 0)],
    ['histchart-later', () => moved(half(), 0)],
    ['histchart-out', () => moved(0, half())],
    ['histchart-day', () => daysUpToNow(1)],
    ['histchart-week', () => daysUpToNow(7)],
    ['histchart-month', () => daysUpToNow(30)],
    ['histchart-year', yearUpToNow],
  ];
  moves.forEach(([id, target]) => {
    document.getElementById(id).addEventListener('click', () => {
      if (view) load(target(), 'push');
    });
  });

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
      if (!chart || plotSize().width === chart.width) return;
      redraw();
      if (plotWidth() !== requestedWidth) load(view, 'none');
    }, 250);
  });
  if (dark) {
    dark.addEventListener('change', () => {
      if (!chart) return;
      redraw();
      fillStats(objects);
    });
  }

  load(null, 'replace');
})();
