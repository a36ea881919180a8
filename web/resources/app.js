// The live view of gps-analyzer: the parts the running program shows (its connection log and
// data pane, and the tables of the features it runs), kept up to date over a WebSocket. It only
// listens: nothing it sends changes the program.
'use strict';

// The most lines a pane keeps; beyond them the oldest go, at the end where the window drops them.
const KEPT_LINES = 10000;
const RETRY_MS = [1000, 2000, 5000, 10000];

// Each part of the page by its message type. A table added later (the trackers, the decoded
// positions) is one more entry here and a section "part-TYPE" in the page.
const parts = {
  log: message => applyPane(document.getElementById('log'), message, 'top'),
  data: message => applyPane(document.getElementById('data'), message, 'bottom'),
  trackers: message => applyTrackers(message),
  positions: message => applyPositions(message),
};

// A pane line as the window shows it: every CR LF, lone CR and lone LF one line end; the line
// end that closes it is the element's own, and an empty line before it stays visible.
function lineElement(entry) {
  const [, text, cut] = entry;
  const line = document.createElement('div');
  line.className = 'line';
  const shown = text.replace(/\r\n|\r/g, '\n').replace(/\n$/, '');
  line.textContent = shown.endsWith('\n') ? `${shown}\n` : shown;
  if (cut) {
    const more = document.createElement('span');
    more.className = 'note';
    more.textContent = ` … ${cut.toLocaleString()} more characters (the capture files keep them)`;
    line.append(more);
  }
  return line;
}

function note(text) {
  const line = document.createElement('div');
  line.className = 'line note';
  line.textContent = text;
  return line;
}

function applyPane(pane, message, dropEnd) {
  if (message.clear) pane.replaceChildren();
  if (message.skipped) {
    pane.prepend(note(`… ${message.skipped.toLocaleString()} lines came too fast to show here; ` +
      'the capture files keep them'));
  }
  for (const entry of message.lines) {
    const where = entry[0];
    if (where === 'replace') pane.replaceChildren(lineElement(entry));
    else if (where === 'top') pane.prepend(lineElement(entry));
    else pane.append(lineElement(entry));
  }
  while (pane.childElementCount > KEPT_LINES) {
    (dropEnd === 'top' ? pane.firstElementChild : pane.lastElementChild).remove();
  }
}

// The decoded positions, as the window's positions table shows them (newest first), beside each
// device's track.
const KEPT_POSITIONS = 10000;
const DEVICE = 2;
const PROTOCOL = 3;
let positionRows = []; // oldest first, as they came: {cells, point: [lon, lat, fix time ms]}

function element(name, text, attributes = {}, namespace = 'http://www.w3.org/1999/xhtml') {
  const node = document.createElementNS(namespace, name);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// The connected trackers, as the window's View ▸ Trackers shows them, in the order they
// connected; a row is named by its first cell, the tracker's address and port.
const trackerRows = new Map();

function applyTrackers(message) {
  const table = document.getElementById('trackers');
  if (message.clear) {
    trackerRows.clear();
    table.tBodies[0].replaceChildren();
    table.tHead.rows[0].replaceChildren(...message.columns.map(name => element('th', name)));
  }
  for (const name of message.gone ?? []) {
    trackerRows.get(name)?.remove();
    trackerRows.delete(name);
  }
  for (const cells of message.rows) {
    const row = element('tr');
    row.append(...cells.map(cell => (typeof cell === 'number'
      ? element('td', cell.toLocaleString(), { class: 'number' }) : element('td', cell))));
    const shown = trackerRows.get(cells[0]);
    if (shown) shown.replaceWith(row);
    else table.tBodies[0].append(row);
    trackerRows.set(cells[0], row);
  }
  const count = trackerRows.size;
  document.getElementById('tracker-count').textContent =
    count === 1 ? '1 tracker connected' : `${count} trackers connected`;
}

function applyPositions(message) {
  const table = document.getElementById('positions');
  const body = table.tBodies[0];
  if (message.clear) {
    positionRows = [];
    body.replaceChildren();
    table.tHead.rows[0].replaceChildren(...message.columns.map(name => element('th', name)));
  }
  if (message.skipped) {
    const row = element('tr');
    row.append(element('td', `… ${message.skipped.toLocaleString()} positions came too fast to show here; ` +
      'positions.csv in the capture folder keeps them', {colspan: table.tHead.rows[0].cells.length, class: 'note'}));
    body.prepend(row);
  }
  const rows = message.rows.slice().reverse();
  for (const row of rows) {
    const line = element('tr');
    line.append(...row.cells.map(text => element('td', text)));
    body.prepend(line);
  }
  while (body.rows.length > KEPT_POSITIONS) body.lastElementChild.remove();
  positionRows.push(...rows);
  positionRows.splice(0, positionRows.length - KEPT_POSITIONS);
  drawTrack(document.getElementById('track'), positionRows);
}

// Each device's points in the order of their fix times; one without keeps its place after the
// point before it.
function tracksOf(rows) {
  const tracks = new Map();
  for (const row of rows) {
    if (!row.point) continue;
    const device = row.cells[DEVICE];
    if (!tracks.has(device)) {
      tracks.set(device, { label: device || row.cells[PROTOCOL], points: [], time: Number.MIN_SAFE_INTEGER });
    }
    const track = tracks.get(device);
    if (row.point[2] !== null) track.time = row.point[2];
    track.points.push({ at: row.point, time: track.time });
  }
  for (const track of tracks.values()) track.points.sort((a, b) => a.time - b.time);
  return [...tracks.values()];
}

// The longest of 1, 2 and 5 times a power of ten metres that is at most `metres`.
function roundLength(metres) {
  const power = 10 ** Math.floor(Math.log10(metres));
  return ([5, 2, 1].find(step => step * power <= metres) ?? 1) * power;
}

// The track as the window draws it, with no map beneath (nothing loaded from elsewhere): a line
// through each device's points with a dot at each, fitted to the drawing with longitudes shrunk
// by the cosine of the middle latitude, the newest point ringed, a scale bar and a north arrow.
function drawTrack(svg, rows) {
  const [width, height, margin] = [480, 360, 24];
  const svgElement = (name, attributes, text) => element(name, text, attributes, 'http://www.w3.org/2000/svg');
  const tracks = tracksOf(rows);
  if (tracks.length === 0) {
    svg.replaceChildren(svgElement('text', { x: width / 2, y: height / 2, class: 'empty' }, 'No valid position yet'));
    return;
  }
  const points = tracks.flatMap(track => track.points.map(point => point.at));
  const [west, east] = [Math.min(...points.map(p => p[0])), Math.max(...points.map(p => p[0]))];
  const [south, north] = [Math.min(...points.map(p => p[1])), Math.max(...points.map(p => p[1]))];
  const xScale = Math.cos((south + north) / 2 * Math.PI / 180);
  // A single point, or points on one line, still get a view of about 200 m.
  const perDegree = Math.min((width - 2 * margin) / Math.max((east - west) * xScale, 0.002),
    (height - 2 * margin) / Math.max(north - south, 0.002));
  const at = ([lon, lat]) => [width / 2 + (lon - (west + east) / 2) * xScale * perDegree,
    height / 2 - (lat - (south + north) / 2) * perDegree].map(v => v.toFixed(1));
  const colours = ['#005ac8', '#c82828', '#1e963c', '#a050be', '#dc8200'];
  const shapes = [];
  tracks.forEach((track, t) => {
    const colour = colours[t % colours.length];
    const line = track.points.map(point => at(point.at).join(',')).join(' ');
    shapes.push(svgElement('polyline', { points: line, fill: 'none', stroke: colour, 'stroke-width': 2 }));
    for (const point of track.points) {
      const [cx, cy] = at(point.at);
      shapes.push(svgElement('circle', { cx, cy, r: 3, fill: colour }));
    }
    shapes.push(svgElement('text', { x: margin, y: 16 + 16 * t, fill: colour }, track.label));
  });
  const [x, y] = at(rows.findLast(row => row.point).point);
  shapes.push(svgElement('circle', { cx: x, cy: y, r: 8, fill: 'none', stroke: '#000', 'stroke-width': 2 }));
  const metresPerPixel = 111320 / perDegree;
  const metres = roundLength(width / 4 * metresPerPixel);
  const pixels = (metres / metresPerPixel).toFixed(1);
  const bottom = height - margin;
  shapes.push(svgElement('path', { d: `M${margin},${bottom - 5}v5h${pixels}v-5`, fill: 'none', stroke: '#000', 'stroke-width': 2 }),
    svgElement('text', { x: margin, y: bottom - 8 }, metres >= 1000 ? `${metres / 1000} km` : `${metres} m`),
    svgElement('path', { d: `M${width - margin},${margin}l-6,18h12z`, fill: '#000' }),
    svgElement('text', { x: width - margin, y: margin + 32, class: 'north' }, 'N'));
  svg.replaceChildren(...shapes);
}

function showParts(types) {
  for (const section of document.querySelectorAll('.part')) {
    section.hidden = !types.includes(section.id.slice('part-'.length));
  }
}

function setStatus(text, state) {
  const status = document.getElementById('status');
  status.textContent = text;
  status.className = `status ${state}`;
}

let failures = 0;
const decoder = new TextDecoder();

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const socket = new WebSocket(`${scheme}//${location.host}/live`);
  socket.binaryType = 'arraybuffer';
  socket.onopen = () => {
    failures = 0;
    setStatus('Live', 'live');
  };
  socket.onmessage = event => {
    const message = JSON.parse(decoder.decode(event.data));
    if (message.type === 'hello') showParts(message.parts);
    else if (parts[message.type]) parts[message.type](message);
  };
  socket.onclose = () => {
    const wait = RETRY_MS[Math.min(failures, RETRY_MS.length - 1)];
    failures += 1;
    setStatus(failures > 3
      ? 'Disconnected, reconnecting… (a program restarted without --web-token has a new address)'
      : 'Disconnected, reconnecting…', 'down');
    setTimeout(connect, wait);
  };
}

connect();
