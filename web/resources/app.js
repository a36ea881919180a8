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
