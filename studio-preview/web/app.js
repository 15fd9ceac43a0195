// QuillCAN - UI concept lab.
//
// One module script, served as it is. Layout of this file: small helpers,
// constants, the page shell (state, address query, scenarios, tabs, launcher
// heartbeat), the sample data, one section per workspace view, the event
// wiring and, at the very end, the start-up sequence.
//
// The shell calls into the views through guards such as
//   typeof renderFrames === 'function' && renderFrames();
// `typeof` on a name that is not declared yet yields 'undefined' instead of
// throwing, and function declarations are hoisted through the whole module, so
// a view starts to work as soon as its function is declared anywhere in this
// file, without touching the shell.

// ── Helpers ──

/** The first element that matches a CSS selector. */
const $ = (selector) => document.querySelector(selector);

/**
 * Builds an element. `props`: `class`, `text` (textContent), `dataset`,
 * `on<event>` handlers, boolean attributes (true sets, false/null/undefined
 * skips) and plain attributes. Children are nodes or strings; strings become
 * text nodes, so no markup is ever parsed.
 */
function el(tag, props, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props ?? {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else if (key === 'dataset') Object.assign(node.dataset, value);
    else if (key.startsWith('on') && typeof value === 'function') node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value === true ? '' : String(value));
  }
  node.append(...children.filter((child) => child !== null && child !== undefined && child !== false));
  return node;
}

// ── Constants ──

const CONCEPTS = ['studio', 'bench', 'console'];
const SCENARIOS = ['missing', 'ready', 'connecting', 'live', 'error'];
const TABS = ['monitor', 'sniffer', 'objects', 'transmit', 'plots', 'daq'];

const VIEW_LABELS = {
  monitor: 'Receive view',
  sniffer: 'Sniffer view',
  objects: 'Object dictionary',
  transmit: 'Transmit view',
  plots: 'Plots view',
  daq: 'DAQ acquisition',
};

/** Delay between "connecting" and "live" after Connect or Retry. */
const CONNECT_DELAY_MS = 650;
/** Period of the launcher heartbeat. */
const HEARTBEAT_MS = 5000;
/** The launcher inserts this element into the head of the page it serves. */
const LAUNCHER_MARKER = 'meta[name="quillcan-studio-launcher"]';

/** Sidebar controls that are locked while connecting or connected. */
const SETTINGS_CONTROLS = [
  'adapter', 'bitrate', 'listen', 'record', 'log-path', 'plain-log', 'browse-log',
  'sdo-timeout', 'load-eds', 'load-dbc', 'load-a2l', 'xcp-enable', 'xcp-cro', 'xcp-dto',
];

const DEMO_DEVICE = 'JCAN Demo / USB';
const DEMO_DETAIL = 'Emulated device · DEMO-0001';

/** Texts of each connection scenario (toolbar, footer, device card, empty state). */
const SCENARIO_TEXTS = {
  missing: {
    status: 'No adapter',
    device: 'No JCAN dongle detected',
    detail: 'Attach an adapter, then refresh.',
    connect: 'Connect',
    title: 'No active CAN connection',
    description: 'Your workspace is ready. Attach a JCAN dongle and refresh detection to begin.',
    action: 'Simulate adapter detection',
  },
  ready: {
    status: 'Adapter ready',
    device: DEMO_DEVICE,
    detail: DEMO_DETAIL,
    connect: 'Connect',
    title: 'Your adapter is ready',
    description: 'Check the bitrate and listen-only setting, then connect to start monitoring.',
    action: 'Connect to simulated bus',
  },
  connecting: {
    status: 'Connecting',
    device: DEMO_DEVICE,
    detail: DEMO_DETAIL,
    connect: 'Connecting...',
    title: 'Establishing connection',
    description: 'Opening the simulated adapter and configuring the CAN interface.',
    action: 'Connecting...',
  },
  live: {
    status: 'Connected',
    device: DEMO_DEVICE,
    detail: DEMO_DETAIL,
    connect: 'Disconnect',
    title: '',
    description: '',
    action: '',
  },
  error: {
    status: 'Connection failed',
    device: DEMO_DEVICE,
    detail: DEMO_DETAIL,
    connect: 'Retry connection',
    title: 'Unable to open the adapter',
    description: 'Simulated USB interface busy. Retry the connection; your settings have been preserved.',
    action: 'Retry connection',
  },
};

/** Worker body of the heartbeat: a plain 5 s interval off the page's main thread. */
const HEARTBEAT_WORKER_SOURCE = `'use strict';
onmessage = (event) => {
  const { url, period } = event.data;
  setInterval(() => {
    fetch(url, { cache: 'no-store', keepalive: true }).catch(() => {});
  }, period);
  postMessage('started');
};
`;

// ── Shell: page-wide state ──

/** The address query as it was at load; read once at start-up. */
const initial = new URLSearchParams(location.search);

const descriptions = {
  studio: 'A / Dark studio - familiar left-hand setup, focused traffic workspace, tevolark gold accents.',
  bench: 'B / Light workbench - bright engineering workspace, right-hand inspector, softer visual hierarchy.',
  console: 'C / Wide console - top-docked setup, maximum traffic width, muted green instrument styling.',
};

let concept = CONCEPTS.includes(initial.get('concept')) ? initial.get('concept') : 'studio';
let state = 'missing';
let paused = false;
let sidebarCollapsed = false;
let connectionTimer = null;

// ── Shell: address, concept, scenario, tabs ──

/** The current notice state; 'none' until the update-notice view exists. */
function currentNotice() {
  return typeof noticeState === 'string' ? noticeState : 'none';
}

/** Writes concept, scenario and notice into the address query, in place. */
function updateUrl() {
  const query = new URLSearchParams();
  query.set('concept', concept);
  query.set('scenario', state);
  const notice = currentNotice();
  if (notice !== 'none') query.set('notice', notice);
  history.replaceState(history.state, '', `?${query}`);
}

function setConcept(value) {
  concept = value;
  $('.app').dataset.concept = value;
  $('#concept-description').textContent = descriptions[value] ?? '';
  for (const button of document.querySelectorAll('button[data-concept]')) {
    button.setAttribute('aria-pressed', String(button.dataset.concept === value));
  }
  updateUrl();
}

/** Brings every shell element in line with `state` and the sidebar settings. */
function render() {
  const live = state === 'live';
  const busy = state === 'connecting';
  const missing = state === 'missing';
  const texts = SCENARIO_TEXTS[state];
  const listenOnly = $('#listen').checked;

  $('#connection-status').replaceChildren(el('span', { class: `dot ${state}` }), texts.status);
  $('#scenario').value = state;

  $('#device-name').textContent = texts.device;
  $('#device-detail').textContent = texts.detail;
  $('#refresh').disabled = live || busy;

  $('#connect').textContent = texts.connect;
  $('#connect').disabled = missing || busy;

  for (const id of SETTINGS_CONTROLS) $(`#${id}`).disabled = live || busy;

  $('#live-view').hidden = !live;
  $('#empty-state').hidden = live;
  $('#sidebar-toggle').hidden = !live;

  const collapsed = live && sidebarCollapsed;
  const toggle = $('#sidebar-toggle');
  $('.app').dataset.sidebar = collapsed ? 'collapsed' : 'expanded';
  toggle.setAttribute('aria-pressed', String(collapsed));
  toggle.setAttribute('aria-label', collapsed ? 'Expand connection panel' : 'Collapse connection panel');
  toggle.textContent = collapsed ? '›' : '‹';

  $('#listen-banner').hidden = !listenOnly;
  $('#tx-send').disabled = listenOnly;
  $('#sniffer-tx-add').disabled = listenOnly;
  typeof syncListenState === 'function' && syncListenState();
  typeof renderDaqSources === 'function' && renderDaqSources();

  $('#empty-title').textContent = texts.title;
  $('#empty-description').textContent = texts.description;
  $('#empty-action').textContent = texts.action;
  $('#empty-action').disabled = busy;

  $('#pause').textContent = paused ? 'Resume' : 'Pause';
  $('#mode-summary').textContent = listenOnly ? 'Listen-only / passive' : 'Active mode';

  $('#footer-connection').textContent = live
    ? `Connected · ${$('#bitrate').value}${paused ? ' · View paused' : ''}`
    : texts.status;
  $('#footer-recording').textContent = live && $('#record').checked
    ? `Simulated recording · ${$('#log-path').value}${$('#plain-log').checked ? ' + plain-text' : ''}`
    : 'No recording active';

  typeof renderFrames === 'function' && renderFrames();
  updateUrl();
}

/** Enters a scenario: cancels a pending connection, un-pauses, expands, back to Monitor. */
function setState(value) {
  clearTimeout(connectionTimer);
  connectionTimer = null;
  state = value;
  paused = false;
  sidebarCollapsed = false;
  setTab('monitor');
  render();
}

/** Connect / Disconnect / Retry. */
function connect() {
  if (state === 'live') {
    setState('ready');
    return;
  }
  if (state === 'missing' || state === 'connecting') return;
  setState('connecting');
  connectionTimer = setTimeout(() => setState('live'), CONNECT_DELAY_MS);
}

function setTab(tab) {
  if (!TABS.includes(tab)) return;
  for (const name of TABS) {
    $(`#tab-${name}`).setAttribute('aria-selected', String(name === tab));
    $(`#${name}-panel`).hidden = name !== tab;
  }
  $('#view-mode-label').textContent = VIEW_LABELS[tab];
  if (tab === 'transmit') $('#tx-mode').focus();
  if (tab === 'plots') typeof renderPlot === 'function' && renderPlot();
}

// ── Shell: launcher heartbeat ──
//
// Only a page served by the launcher (which marks the document) pings it; the
// launcher quits some seconds after the last ping. The repeating timer runs in
// a dedicated worker: browsers throttle the timers of a tab that has been in
// the background for a few minutes to about one wake-up a minute, which would
// make the launcher quit under a tab that is still open. A worker's timers are
// not throttled that way. Where no worker can be made, a main-thread interval
// takes over.

/** Kept so the worker lives as long as the page. */
let heartbeatWorker = null;

/** Sends one ping; the answer is not read and failures are ignored. */
function sendPing(url) {
  fetch(url, { cache: 'no-store', keepalive: true }).catch(() => {});
}

/** Starts the repeating ping in a worker; false when no worker could be started. */
function startHeartbeatWorker(url, onFailure) {
  if (typeof Worker !== 'function' || typeof Blob !== 'function' || typeof URL.createObjectURL !== 'function') {
    return false;
  }
  let source;
  try {
    source = URL.createObjectURL(new Blob([HEARTBEAT_WORKER_SOURCE], { type: 'text/javascript' }));
    const worker = new Worker(source);
    let started = false;
    worker.addEventListener('message', () => {
      started = true;
      URL.revokeObjectURL(source);
    });
    worker.addEventListener('error', () => {
      worker.terminate();
      URL.revokeObjectURL(source);
      if (!started) onFailure();
    });
    worker.postMessage({ url, period: HEARTBEAT_MS });
    heartbeatWorker = worker;
    return true;
  } catch {
    if (source) URL.revokeObjectURL(source);
    return false;
  }
}

function startHeartbeat() {
  if (!document.querySelector(LAUNCHER_MARKER)) return;
  // Absolute address: inside the worker a relative one would resolve against its blob: URL.
  const url = new URL('./__studio/ping', location.href).href;
  const fallback = () => setInterval(() => sendPing(url), HEARTBEAT_MS);
  sendPing(url);
  if (!startHeartbeatWorker(url, fallback)) fallback();
}

// ── Sample data ──
// Fixed sample traffic and the catalogue of sample files; nothing here changes
// over time, so screenshots of the lab are repeatable.

/** The fixed sample traffic, 12 ms apart, shown by the Monitor and aggregated by the Sniffer. */
const frames = [
  { t: '00:00.000', dir: 'TX', id: '0x000', node: '—', event: 'NMT · Start all', type: 'nmt', dlc: 2, data: '01 00' },
  { t: '00:00.012', dir: 'RX', id: '0x701', node: 'Node 1', event: 'Heartbeat', type: 'heartbeat', dlc: 1, data: '05' },
  { t: '00:00.024', dir: 'RX', id: '0x181', node: 'Node 1', event: 'TPDO1', type: 'pdo', dlc: 8, data: '4A 01 00 00 20 03 00 00' },
  { t: '00:00.036', dir: 'RX', id: '0x702', node: 'Node 2', event: 'Heartbeat', type: 'heartbeat', dlc: 1, data: '05' },
  { t: '00:00.048', dir: 'RX', id: '0x282', node: 'Node 2', event: 'TPDO2', type: 'pdo', dlc: 4, data: '10 27 00 00' },
  { t: '00:00.060', dir: 'TX', id: '0x602', node: 'Node 2', event: 'SDO request', type: 'sdo', dlc: 8, data: '40 00 10 00 00 00 00 00' },
  { t: '00:00.072', dir: 'RX', id: '0x582', node: 'Node 2', event: 'SDO response', type: 'sdo', dlc: 8, data: '43 00 10 00 91 01 00 00' },
  { t: '00:00.084', dir: 'RX', id: '0x703', node: 'Node 3', event: 'Heartbeat', type: 'heartbeat', dlc: 1, data: '05' },
  { t: '00:00.096', dir: 'RX', id: '0x181', node: 'Node 1', event: 'TPDO1', type: 'pdo', dlc: 8, data: '4B 01 00 00 20 03 00 00' },
  {
    t: '00:00.108', dir: 'RX', id: '0x58A', node: 'Node 10', event: 'SDO · 0x1008 device name', type: 'sdo', dlc: 8,
    data: '43 08 10 00 43 41 4E 6F',
    vstring: 'CANopen VISIBLE_STRING 0x1008 device-name: TEVOLARK QuillCAN motor-drive node 10, DS301 profile, FW 1.4.2, SN QX-2026-00142 rev1',
  },
];

// ── Monitor view ──
// The pause button is wired with the shell (see Wiring); `paused` is shell state.

// ── Update notices and QR picker ──
// Declares `noticeState` (read by updateUrl through currentNotice), setNotice
// (start-up hands it the query's `notice`), openQrPicker and closeQrPicker.

// ── Sample files and loaded files ──

// ── Object dictionary ──

// ── Transmit view ──

// ── DAQ view ──

// ── Sniffer view ──
// The sample traffic aggregated per CAN identifier, a bit inspector and a
// decoder for the selected identifier's bytes, and a transmit table whose rows
// only change their own run state (nothing is sent). The receive side is
// recomputed from `frames` on every render; the transmit table keeps its state
// in its own rows.

/** Nominal period per identifier, as shown in the Period column; "—" means not periodic. */
const snifferPeriods = {
  '0x000': '—',
  '0x701': '1000',
  '0x702': '1000',
  '0x703': '1000',
  '0x181': '100',
  '0x282': '100',
  '0x602': '—',
  '0x582': '—',
};

/** Identifier of the selected receive row, or null. */
let snifferSelected = null;
/** Index of the selected byte within the selected row's payload. */
let snifferByte = 0;

/**
 * The word multiplier. One element for the page's life: every decoder render
 * moves it into the new list instead of making a new one, so its value, caret
 * and focus survive the re-render that each keystroke in it triggers.
 */
const snifferMult = el('input', {
  type: 'number', step: '0.001', value: '1', id: 'sniffer-mult', class: 'mult-input', 'aria-label': 'Multiplier',
});

/** Period text of an identifier; identifiers outside the table are not periodic. */
function snifferPeriod(id) {
  return Object.hasOwn(snifferPeriods, id) ? snifferPeriods[id] : '—';
}

/** Value of a two-digit hex text; 0 when it does not parse. */
function snifferHex(text) {
  const value = Number.parseInt(text, 16);
  return Number.isNaN(value) ? 0 : value;
}

/**
 * One row per identifier, in order of first appearance: a copy of the first
 * frame with that identifier, whose time, payload and DLC later frames replace,
 * and `count`, the number of frames that carried it.
 */
function snifferAggregate() {
  const rows = new Map();
  for (const frame of frames) {
    const row = rows.get(frame.id);
    if (row) {
      row.t = frame.t;
      row.data = frame.data;
      row.dlc = frame.dlc;
      row.count += 1;
    } else {
      rows.set(frame.id, { ...frame, count: 1 });
    }
  }
  return [...rows.values()];
}

/** Selecting a row always starts at its first byte. */
function selectSnifferRow(id) {
  snifferSelected = id;
  snifferByte = 0;
  renderSniffer();
}

/** Rebuilds the receive table and its count from the aggregate and the filter, then the inspector. */
function renderSniffer() {
  const query = $('#sniffer-filter').value.trim().toLowerCase();
  const shown = snifferAggregate().filter((row) =>
    [row.id, row.event, row.type, row.data].join(' ').toLowerCase().includes(query));
  $('#sniffer-count').textContent = shown.length === 1 ? '1 ID' : `${shown.length} IDs`;
  $('#sniffer-rows').replaceChildren(...shown.map((row) => el('tr', {
    dataset: { type: row.type },
    class: row.id === snifferSelected ? 'selected' : null,
    onclick: () => selectSnifferRow(row.id),
  },
  el('td', { class: 'time', text: row.t }),
  el('td', { class: 'id', text: row.id }),
  el('td', { class: 'event' }, el('span', { class: `chip type-${row.type}`, text: row.event })),
  el('td', { class: 'dlc num', text: String(row.dlc) }),
  el('td', { class: 'payload', text: row.data }),
  el('td', { class: 'num count-cell', text: String(row.count) }),
  el('td', { class: 'num', text: snifferPeriod(row.id) }))));
  renderSnifferInspector();
}

/** The two summary lines: identifiers seen (whatever the filter) and periodic identifiers. */
function renderSnifferControl() {
  const periods = Object.values(snifferPeriods);
  const active = periods.filter((period) => period !== '—').length;
  $('#sniffer-control').replaceChildren(
    el('dt', { text: 'Unique IDs' }), el('dd', { text: String(snifferAggregate().length) }),
    el('dt', { text: 'Periodic' }), el('dd', { text: `${active} active / ${periods.length}` }),
  );
}

/** Rebuilds the bit inspector of the selected identifier (filtered out or not), then the decoder. */
function renderSnifferInspector() {
  renderSnifferControl();
  const inspect = $('#sniffer-inspect');
  const row = snifferAggregate().find((candidate) => candidate.id === snifferSelected);
  if (!row) {
    inspect.replaceChildren(el('p', { class: 'muted', text: 'Select a frame to inspect its bytes.' }));
    renderSnifferDecode(null, []);
    return;
  }
  const bytes = row.data.split(/\s+/).filter((piece) => piece !== '');
  if (!(snifferByte < bytes.length)) snifferByte = 0;

  const head = el('div', { class: 'inspect-head', text: `${row.id} · ${row.event} · [${row.dlc}]` });
  const grid = el('div', { class: 'bit-grid' }, ...bytes.map((hex, index) => {
    const value = snifferHex(hex);
    const bits = [];
    for (let bit = 7; bit >= 0; bit -= 1) {
      const on = (value >> bit) & 1;
      bits.push(el('i', { class: on ? 'on' : '', text: String(on) }));
    }
    return el('div', {
      class: index === snifferByte ? 'bit-byte selected' : 'bit-byte',
      onclick: () => {
        snifferByte = index;
        renderSnifferInspector();
      },
    },
    el('span', { class: 'bit-idx', text: `B${index}` }),
    el('span', { class: 'bit-hex', text: hex }),
    el('span', { class: 'bit-bits' }, ...bits));
  }));
  inspect.replaceChildren(head, grid);
  renderSnifferDecode(row, bytes);
}

/**
 * Puts the persistent multiplier into `parent` without losing its focus or
 * caret: an atomic move where the browser has one, otherwise a plain move
 * followed by giving the focus back.
 */
function snifferPlaceMult(parent) {
  if (typeof parent.moveBefore === 'function' && parent.isConnected && snifferMult.isConnected) {
    try {
      parent.moveBefore(snifferMult, null);
      return;
    } catch {
      // Fall through to the plain move.
    }
  }
  const focused = document.activeElement === snifferMult;
  parent.append(snifferMult);
  if (focused) snifferMult.focus();
}

/** Decodes the selected byte of `row`: binary, decimal, hex, the 16-bit word, the scaled word and ASCII. */
function renderSnifferDecode(row, bytes) {
  const decode = $('#sniffer-decode');
  if (!row) {
    decode.replaceChildren(el('p', { class: 'muted', text: 'Click a byte to decode.' }));
    return;
  }
  const index = snifferByte;
  const byte = snifferHex(bytes[index]);
  const next = index + 1 < bytes.length ? snifferHex(bytes[index + 1]) : 0;
  const word = $('#sniffer-endian').checked ? byte * 256 + next : next * 256 + byte;
  const mult = Number.parseFloat(snifferMult.value);
  const result = word * (Number.isFinite(mult) ? mult : 0);

  const multCell = el('dd', { class: 'mult-cell' });
  const list = el('dl', { class: 'decode-list' },
    el('dt', { text: 'Selected' }), el('dd', { text: `${row.id} · B${index}` }),
    el('dt', { text: 'Binary' }), el('dd', { text: byte.toString(2).padStart(8, '0') }),
    el('dt', { text: 'Decimal' }), el('dd', { text: String(byte) }),
    el('dt', { text: 'Hex' }), el('dd', { text: `0x${byte.toString(16).toUpperCase().padStart(2, '0')}` }),
    el('dt', { text: 'Word' }), el('dd', { text: String(word) }),
    el('dt', { text: 'Word ×' }), multCell,
    el('dt', { text: 'Result' }), el('dd', { text: result.toFixed(3) }));

  const hasString = typeof row.vstring === 'string';
  const ascii = el('div', { class: 'decode-ascii' },
    el('span', {
      class: 'sub-label',
      text: hasString ? `ASCII · VISIBLE_STRING (${[...row.vstring].length})` : 'ASCII · full frame',
    }),
    el('code', {
      text: hasString
        ? row.vstring
        : bytes.map((hex) => {
          const code = snifferHex(hex);
          return code >= 0x20 && code <= 0x7e ? String.fromCharCode(code) : '·';
        }).join(''),
    }));

  // The new content goes in before the old leaves, so that the multiplier moves
  // from one connected list to the other and is never taken out of the page.
  decode.append(list, ascii);
  snifferPlaceMult(multCell);
  for (const child of [...decode.childNodes]) {
    if (child !== list && child !== ascii) child.remove();
  }
}

/** One transmit byte field; typing keeps hex digits only, at most two. */
function snifferTxByte(value) {
  const input = el('input', { class: 'byte-input', maxlength: '2', placeholder: '00', spellcheck: 'false' });
  input.value = value ?? '';
  // Text inserted in one go (pasted, dropped) would be cut to the maximum
  // length before its non-hex characters are dropped, so "x9C" would leave
  // "9". Such an insertion is cleaned first and then cut.
  input.addEventListener('beforeinput', (event) => {
    const text = event.data ?? event.dataTransfer?.getData('text/plain') ?? '';
    if (!event.cancelable || event.isComposing || !/^insert(Text|FromPaste|FromDrop|ReplacementText)$/.test(event.inputType)
      || text.length < 2) return;
    event.preventDefault();
    const start = input.selectionStart ?? input.value.length;
    const end = input.selectionEnd ?? start;
    const inserted = text.replace(/[^0-9a-fA-F]/g, '');
    const next = `${input.value.slice(0, start)}${inserted}${input.value.slice(end)}`.replace(/[^0-9a-fA-F]/g, '').slice(0, 2);
    input.value = next;
    const caret = Math.min(start + inserted.length, next.length);
    input.setSelectionRange(caret, caret);
  });
  input.addEventListener('input', () => {
    const clean = input.value.replace(/[^0-9a-fA-F]/g, '').slice(0, 2);
    if (clean !== input.value) input.value = clean;
  });
  return input;
}

/**
 * One transmit row from an optional seed { id, dlc, data, period, running }.
 * The row is its own state: its fields, and the class `running`.
 */
function snifferTxRow(seed = {}) {
  const seedData = Array.isArray(seed.data) ? seed.data : [];
  const seedDlc = Number.isFinite(seed.dlc) ? seed.dlc : seedData.length;

  const play = el('button', { type: 'button', class: 'tx-act tx-play', tabindex: '-1' });
  const period = el('input', { type: 'number', class: 'tx-period', min: '0', 'aria-label': 'Period (ms)' });
  period.value = seed.period ?? '0';
  const id = el('input', { class: 'tx-id', spellcheck: 'false', 'aria-label': 'CAN ID' });
  id.value = seed.id ?? '0x000';
  const dlc = el('input', { type: 'number', class: 'tx-dlc', min: '0', max: '8', 'aria-label': 'DLC' });
  dlc.value = String(seedDlc);
  const bytes = el('div', { class: 'sniffer-bytes' });
  const remove = el('button', {
    type: 'button', class: 'tx-act tx-del', tabindex: '-1', title: 'Delete row', 'aria-label': 'Delete row', text: '✕',
  });

  const row = el('tr', {},
    el('td', { class: 'num tx-no' }),
    el('td', { class: 'tx-control' }, play),
    el('td', { class: 'num' }, period),
    el('td', {}, id),
    el('td', { class: 'num' }, dlc),
    el('td', { class: 'tx-data' }, bytes),
    el('td', { class: 'tx-actions' }, remove));

  // The byte fields follow the DLC. A field keeps what it held, else takes the
  // seed's byte, else starts empty; so bytes dropped by a smaller DLC come back
  // as the seed's when it grows again.
  const rebuildBytes = () => {
    const count = Math.min(8, Math.max(0, Number.parseInt(dlc.value, 10) || 0));
    const held = [...bytes.children].map((field) => field.value);
    bytes.replaceChildren(...Array.from({ length: count }, (_, index) => {
      const field = snifferTxByte(held[index] ?? seedData[index] ?? '');
      field.setAttribute('aria-label', `Byte ${index}`);
      return field;
    }));
  };

  // Only a periodic row (period above 0) can run; the button names what a click does.
  const periodic = () => Number.parseInt(period.value, 10) > 0;
  const sync = () => {
    const isPeriodic = periodic();
    const running = isPeriodic && row.classList.contains('running');
    row.classList.toggle('running', running);
    play.textContent = running ? '■' : '▶';
    const label = !isPeriodic ? 'Send once' : running ? 'Stop' : 'Start';
    play.title = label;
    play.setAttribute('aria-label', label);
  };

  play.addEventListener('click', () => {
    if (periodic()) row.classList.toggle('running');
    sync();
  });
  period.addEventListener('input', sync);
  // Digits only: other characters are refused as they are typed (a number
  // field would otherwise keep showing "4e" while reporting an empty value),
  // and anything that still gets in (a pasted value) is cleaned; more than 8
  // becomes 8.
  dlc.addEventListener('beforeinput', (event) => {
    if (event.inputType === 'insertText' && event.data && /[^0-9]/.test(event.data)) event.preventDefault();
  });
  dlc.addEventListener('input', () => {
    let clean = dlc.value.replace(/[^0-9]/g, '');
    if (clean !== '' && Number(clean) > 8) clean = '8';
    if (clean !== dlc.value) dlc.value = clean;
    rebuildBytes();
  });
  remove.addEventListener('click', () => {
    row.remove();
    snifferTxRenumber();
  });

  row.classList.toggle('running', Boolean(seed.running));
  rebuildBytes();
  sync();
  return row;
}

/** Writes each transmit row's position, from 1, into its No. cell. */
function snifferTxRenumber() {
  [...$('#sniffer-tx-rows').rows].forEach((row, index) => {
    row.querySelector('.tx-no').textContent = String(index + 1);
  });
}

function addSnifferTxRow(seed) {
  $('#sniffer-tx-rows').append(snifferTxRow(seed));
  snifferTxRenumber();
}

/** The transmit table as it is at start-up: one running periodic row and one single-shot row. */
function buildSnifferTx() {
  $('#sniffer-tx-rows').replaceChildren();
  addSnifferTxRow({ id: '0x600', dlc: 4, data: ['40', '00', '10', '00'], period: '100', running: true });
  addSnifferTxRow({ id: '0x200', dlc: 2, data: ['01', 'F4'], period: '0' });
}

function wireSniffer() {
  $('#sniffer-filter').addEventListener('input', () => renderSniffer());
  $('#sniffer-endian').addEventListener('change', () => renderSnifferInspector());
  snifferMult.addEventListener('input', () => renderSnifferInspector());
  $('#sniffer-tx-add').addEventListener('click', () => addSnifferTxRow());
}

// ── Plots view ──

// ── Wiring ──

for (const button of document.querySelectorAll('button[data-concept]')) {
  button.addEventListener('click', () => setConcept(button.dataset.concept));
}

// Choosing a scenario enters it directly; "Connecting" chosen here has no timer and stays.
$('#scenario').addEventListener('change', (event) => setState(event.target.value));
$('#refresh').addEventListener('click', () => setState('ready'));
$('#connect').addEventListener('click', () => connect());
$('#empty-action').addEventListener('click', () => (state === 'missing' ? setState('ready') : connect()));

$('#sidebar-toggle').addEventListener('click', () => {
  if (state !== 'live') return;
  sidebarCollapsed = !sidebarCollapsed;
  render();
});

for (const tab of TABS) {
  $(`#tab-${tab}`).addEventListener('click', () => setTab(tab));
}

$('#listen').addEventListener('change', () => render());

// The Monitor's pause button flips the shell's pause flag; render shows it in
// the button and the footer. Wired here only, not again in the Monitor view.
$('#pause').addEventListener('click', () => {
  paused = !paused;
  render();
});
$('#browse-log').addEventListener('click', () => {
  $('#log-path').value = '~/captures/quillcan.jsonl';
});

$('#load-eds').addEventListener('click', () => typeof loadFile === 'function' && loadFile('eds'));
$('#load-dbc').addEventListener('click', () => typeof loadFile === 'function' && loadFile('dbc'));
$('#load-a2l').addEventListener('click', () => typeof loadFile === 'function' && loadFile('xcp'));

$('#notices').addEventListener('change', (event) => typeof setNotice === 'function' && setNotice(event.target.value));
$('#show-qr-picker').addEventListener('click', () => typeof openQrPicker === 'function' && openQrPicker());

// Each view attaches its own controls' handlers in its wire function.
typeof wireMonitor === 'function' && wireMonitor();
typeof wireNotices === 'function' && wireNotices();
typeof wireFiles === 'function' && wireFiles();
typeof wireObjects === 'function' && wireObjects();
typeof wireTransmit === 'function' && wireTransmit();
typeof wireDaq === 'function' && wireDaq();
typeof wireSniffer === 'function' && wireSniffer();
typeof wirePlots === 'function' && wirePlots();

// ── Start-up ──

typeof renderFileLists === 'function' && renderFileLists();
typeof renderObjectSource === 'function' && renderObjectSource();
typeof renderTxSources === 'function' && renderTxSources();
typeof renderDaqSources === 'function' && renderDaqSources();
typeof renderDaqList === 'function' && renderDaqList();
typeof renderXcpLog === 'function' && renderXcpLog();
typeof buildSnifferTx === 'function' && buildSnifferTx();
typeof renderSniffer === 'function' && renderSniffer();
typeof renderPlot === 'function' && renderPlot();
typeof updateDataPlaceholder === 'function' && updateDataPlaceholder();
typeof renderTree === 'function' && renderTree();

setConcept(concept);
setState(SCENARIOS.includes(initial.get('scenario')) ? initial.get('scenario') : 'missing');
// setNotice takes any unknown or missing value as 'none'.
typeof setNotice === 'function' && setNotice(initial.get('notice') ?? 'none');
startHeartbeat();
