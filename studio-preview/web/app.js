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
