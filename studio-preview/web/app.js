// QuillCAN - UI concept lab.
//
// One module script, served as it is. Layout of this file: small helpers,
// constants, the page shell (state, address query, which views follow which
// change, scenarios, tabs, launcher heartbeat), the sample data, one section
// per workspace view, the event wiring and, at the very end, the start-up
// sequence.
//
// The shell brings the views up to date only through the table VIEWS_AFTER
// and `refreshViews`: one place says which views follow which change.
// Besides, the shell writes its own controls inside the views (the Monitor's
// pause button, which shows the shell's pause flag), and opening Transmit
// hands the focus to its message source. Function declarations are hoisted
// through the whole module, so the table can name view functions declared
// further down.

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

/** An option showing `text`, whose value is `value` (the text itself unless given; it may be empty). */
const option = (text, value = text) => el('option', { value, text });

/**
 * Makes `options` (option and optgroup elements) a select's choices and keeps
 * its choice while it is still offered; otherwise the option whose value is
 * `fallback` is chosen when offered, else the first.
 */
function fillSelect(select, options, fallback) {
  const previous = select.value;
  select.replaceChildren(...options);
  const offered = (value) => [...select.options].some((choice) => choice.value === value);
  if (offered(previous)) select.value = previous;
  else if (fallback !== undefined && offered(fallback)) select.value = fallback;
  else select.selectedIndex = 0;
}

const SVG_NS = 'http://www.w3.org/2000/svg';

/** Builds an SVG element: every attribute set as it is given, children as with `el`. */
function svg(tag, attributes, ...children) {
  const node = document.createElementNS(SVG_NS, tag);
  for (const [name, value] of Object.entries(attributes ?? {})) node.setAttribute(name, String(value));
  node.append(...children);
  return node;
}

/** Two-digit (or `width`-digit) decimal text of a whole number. */
const pad = (value, width = 2) => String(value).padStart(width, '0');

/** Upper-case hexadecimal text of a whole number, at least two digits ("0A", "1B", "100"). */
const hexByte = (value) => value.toString(16).toUpperCase().padStart(2, '0');

/** "1 signal", "2 signals", "1 entry", "3 entries". */
const plural = (n, one, many = `${one}s`) => `${n} ${n === 1 ? one : many}`;

/** Sets a node's text, leaving it untouched (no restyle, no layout) when it already reads so. */
function setText(node, text) {
  if (node.textContent !== text) node.textContent = text;
}

/**
 * Makes `nodes` the children of `parent`, in order, moving as few as
 * possible: children not among them are removed, the others stay attached
 * (keeping their layout, and the focus of a focused element inside them).
 */
function syncChildren(parent, nodes) {
  const wanted = new Set(nodes);
  for (const child of [...parent.children]) if (!wanted.has(child)) child.remove();
  let cursor = parent.firstElementChild;
  for (const node of nodes) {
    if (node === cursor) cursor = cursor.nextElementSibling;
    else parent.insertBefore(node, cursor);
  }
}

/**
 * Arrow keys with one Tab stop (roving tabindex) for a composite widget: a tab
 * list, the object tree, a radio group. Its render functions may rebuild the
 * items at any time, so `items()` lists them anew at every key. A key of
 * `keys` pressed on one of the items moves the focus to the item it leads to
 * and then calls `moved(item, index)`, which activates or checks it. `keys`
 * maps a key to a step (-1 or 1, wrapping at the ends when `wrap`) or to
 * 'first' / 'last'. Each widget keeps its own Tab stop: tabs and radios on the
 * selected item, the tree on the item that last had the focus.
 */
function wireRovingFocus(container, { items, keys, wrap = false, moved = () => {} }) {
  container.addEventListener('keydown', (event) => {
    if (event.altKey || event.ctrlKey || event.metaKey || event.shiftKey || !Object.hasOwn(keys, event.key)) return;
    const list = items();
    const from = list.indexOf(event.target);
    if (from < 0) return;
    // The key belongs to the widget even where it leads nowhere: it never scrolls the page.
    event.preventDefault();
    const step = keys[event.key];
    let to = step === 'first' ? 0 : step === 'last' ? list.length - 1 : from + step;
    if (wrap) to = (to + list.length) % list.length;
    if (to < 0 || to >= list.length || to === from) return;
    list[to].focus();
    moved(list[to], to);
  });
}

/** Tab list keys: Left and Right step (wrapping), Home and End go to the ends. */
const TAB_KEYS = { ArrowLeft: -1, ArrowRight: 1, Home: 'first', End: 'last' };
/** Tree keys that only move: Up and Down through the shown items, Home and End. */
const TREE_KEYS = { ArrowUp: -1, ArrowDown: 1, Home: 'first', End: 'last' };
/** Radio group keys, as native radios take them: every arrow steps and wraps. */
const RADIO_KEYS = { ArrowUp: -1, ArrowLeft: -1, ArrowDown: 1, ArrowRight: 1 };

/**
 * The local time of day as "hh:mm:ss.mmm", the time stamp of the transmit
 * log and the XCP log.
 */
function txTimestamp() {
  const now = new Date();
  return `${pad(now.getHours())}:${pad(now.getMinutes())}:${pad(now.getSeconds())}.${pad(now.getMilliseconds(), 3)}`;
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
/**
 * The update-notice state (one of NOTICE_STATES); only setNotice changes it.
 * Declared with the shell because updateUrl reads it.
 */
let noticeState = 'none';

/** True when the listen-only box is ticked: nothing is sent or written then. */
function listenOnly() {
  return $('#listen').checked;
}

// ── Shell: which views follow which change ──
//
// For each kind of change that some view follows, the view functions that
// bring it up to date, in this order. `render` (scenario entered, listen-only
// box, pause, sidebar), `setConcept`, `setTab`, `setNotice`, `loadFile` and
// the start-up go through `refreshViews`. No view follows the other changes:
// the hidden tabs are kept up to date while hidden, and a value written in
// the object tree is read by the PDO mapping and the plot catalogue the next
// time they render.

const VIEWS_AFTER = {
  // Every `render`: the send and write buttons, the transmit banner and the
  // DAQ buttons follow the listen-only box; the traffic table and its count
  // follow the scenario.
  listenBox: [syncListenState, syncTxListen, syncSnifferTxListen, renderDaqSources],
  scenario: [renderFrames],
  // The concept switches the stylesheet's tokens, the series colours among
  // them, and its layout; the chart follows its new size through its own
  // ResizeObserver (wirePlots).
  concept: [followPlotColours],
  // The chart is drawn at its size only while it is on screen.
  plotsShown: [renderPlot],
  notice: [renderNotices],
  fileLoaded: [renderFileLists, renderObjectSource, renderTxSources, renderDaqSources, renderTree, refreshPlotSignals],
  // Every region, from the initial data.
  startUp: [renderFileLists, renderObjectSource, renderTxSources, renderDaqSources, renderDaqList, renderXcpLog,
    buildSnifferTx, renderSniffer, renderPlot, updateDataPlaceholder, renderTree],
};

/** Re-renders the views that follow a kind of change (a key of VIEWS_AFTER); an unknown kind is a mistake. */
function refreshViews(change) {
  if (!Object.hasOwn(VIEWS_AFTER, change)) throw new Error(`no views listed for the change "${change}"`);
  for (const view of VIEWS_AFTER[change]) view();
}

// ── Shell: address, concept, scenario, tabs ──

/** The address query of a lab choice: concept and scenario, then the notice unless it is "none". */
function labQuery(choice) {
  const query = new URLSearchParams();
  query.set('concept', choice.concept);
  query.set('scenario', choice.scenario);
  if (choice.notice !== 'none') query.set('notice', choice.notice);
  return query;
}

/** Writes concept, scenario and notice into the address query, in place. */
function updateUrl() {
  // Rewriting an address that already reads so changes nothing but costs a
  // round trip to the browser; start-up alone would do it three times.
  const search = `?${labQuery({ concept, scenario: state, notice: noticeState })}`;
  if (location.search !== search || location.hash !== '') history.replaceState(history.state, '', search);
}

function setConcept(value) {
  concept = value;
  $('.app').dataset.concept = value;
  // The workspace's column template animates, but two concepts' templates do
  // not blend: half-way the main area would sit in the other concept's
  // sidebar column, and the chart would be drawn at that width. A concept's
  // layout takes the other's place in one step.
  for (const animation of $('.workspace').getAnimations()) animation.finish();
  $('#concept-description').textContent = descriptions[value] ?? '';
  for (const button of document.querySelectorAll('button[data-concept]')) {
    button.setAttribute('aria-pressed', String(button.dataset.concept === value));
  }
  refreshViews('concept');
  updateUrl();
}

/** Brings every shell element in line with `state` and the sidebar settings. */
function render() {
  const live = state === 'live';
  const busy = state === 'connecting';
  const missing = state === 'missing';
  const texts = SCENARIO_TEXTS[state];
  const listen = listenOnly();

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

  refreshViews('listenBox');

  $('#empty-title').textContent = texts.title;
  $('#empty-description').textContent = texts.description;
  $('#empty-action').textContent = texts.action;
  $('#empty-action').disabled = busy;

  $('#pause').textContent = paused ? 'Resume' : 'Pause';
  $('#mode-summary').textContent = listen ? 'Listen-only / passive' : 'Active mode';

  $('#footer-connection').textContent = live
    ? `Connected · ${$('#bitrate').value}${paused ? ' · View paused' : ''}`
    : texts.status;
  $('#footer-recording').textContent = live && $('#record').checked
    ? `Simulated recording · ${$('#log-path').value}${$('#plain-log').checked ? ' + plain-text' : ''}`
    : 'No recording active';

  refreshViews('scenario');
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

/**
 * Shows one workspace tab; the selected tab is the tab list's one Tab stop.
 * Opening Transmit hands the focus to its message source, except when the
 * arrow keys walk the tab list: there the focus stays on the tabs.
 */
function setTab(tab, { byArrowKey = false } = {}) {
  if (!TABS.includes(tab)) return;
  for (const name of TABS) {
    const button = $(`#tab-${name}`);
    button.setAttribute('aria-selected', String(name === tab));
    button.tabIndex = name === tab ? 0 : -1;
    $(`#${name}-panel`).hidden = name !== tab;
  }
  $('#view-mode-label').textContent = VIEW_LABELS[tab];
  if (tab === 'transmit' && !byArrowKey) $('#tx-mode').focus();
  if (tab === 'plots') refreshViews('plotsShown');
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
  // A pane of a comparison leaves the pings to the page around it: one heartbeat per tab.
  if (!document.querySelector(LAUNCHER_MARKER) || comparisonFrame()) return;
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
//
// The traffic is the fixed `frames` list: nothing arrives over time, so the
// view has no timer. The table body, the count and the no-match line are
// rebuilt whole from the filter text, the hidden event types and the scenario.

/** Event types switched off with the legend chips; survives scenario changes. */
const hiddenTypes = new Set();

/** The text a frame is searched in: the visible columns, lower-cased, space-joined. */
function frameSearchText(frame) {
  return [frame.t, frame.dir, frame.id, frame.node, frame.event, frame.data].join(' ').toLowerCase();
}

/**
 * The row of a frame, made once: the sample frames never change, so a filter
 * keystroke only takes rows out of the table and puts them back, and the rows
 * that stay keep their style and layout.
 */
const frameRows = new WeakMap();

function frameRow(frame) {
  let row = frameRows.get(frame);
  if (!row) {
    row = makeFrameRow(frame);
    frameRows.set(frame, row);
  }
  return row;
}

function makeFrameRow(frame) {
  return el('tr', { dataset: { type: frame.type } },
    el('td', { class: 'time', text: frame.t }),
    el('td', { class: 'dir' }, el('span', { class: `chip ${frame.dir === 'TX' ? 'dir-tx' : 'dir-rx'}`, text: frame.dir })),
    el('td', { class: 'id', text: frame.id }),
    el('td', { class: 'node', text: frame.node }),
    el('td', { class: 'event' }, el('span', { class: `chip type-${frame.type}`, text: frame.event })),
    el('td', { class: 'dlc num', text: String(frame.dlc) }),
    el('td', { class: 'payload', text: frame.data }));
}

/** Rebuilds the traffic table body, the frame count and the no-match line. */
function renderFrames() {
  const needle = $('#filter').value.trim().toLowerCase();
  const shown = frames.filter((frame) => !hiddenTypes.has(frame.type) && frameSearchText(frame).includes(needle));
  syncChildren($('#frames'), shown.map(frameRow));
  setText($('#frame-count'), state === 'live' ? `${shown.length} / ${frames.length} frames` : '0 frames');
  const none = $('#no-matches');
  if (none.hidden !== shown.length > 0) none.hidden = shown.length > 0;
}

/** Shows or hides one event type; the chip stays pressed while its type is shown. */
function toggleFrameType(chip) {
  const type = chip.dataset.type;
  if (hiddenTypes.has(type)) hiddenTypes.delete(type);
  else hiddenTypes.add(type);
  chip.setAttribute('aria-pressed', String(!hiddenTypes.has(type)));
  renderFrames();
}

/** Flips the table between comfortable and compact; the button names the density the next click selects. */
function switchDensity() {
  const compact = $('#traffic-table').dataset.density !== 'compact';
  $('#traffic-table').dataset.density = compact ? 'compact' : 'comfortable';
  $('#density').setAttribute('aria-pressed', String(compact));
  $('#density').textContent = compact ? 'Comfortable' : 'Compact';
}

function wireMonitor() {
  $('#filter').addEventListener('input', () => renderFrames());
  for (const chip of document.querySelectorAll('.legend .type-chip')) {
    chip.addEventListener('click', () => toggleFrameType(chip));
  }
  $('#density').addEventListener('click', () => switchDensity());
}

// ── Update notices and QR picker ──
// setNotice (start-up hands it the query's `notice`) changes the shell's
// `noticeState`; openQrPicker and closeQrPicker.
//
// A notice state names a firmware part ("fw-…"), an application part
// ("app-…"), both "available" parts ("both") or nothing. Flashing and
// downloading run a 250 ms progress interval; every state change, the
// interval's included, goes through setNotice, which stops any running
// interval first, so at most one runs.

const NOTICE_STATES = [
  'none', 'fw-available', 'fw-flashing', 'fw-done', 'fw-failed',
  'app-available', 'app-downloading', 'app-applying', 'app-failed', 'both',
];

/** Firmware on the dongle, firmware shipped with the studio, the next application version. */
const FW_DEVICE = 'v1.4.2';
const FW_BUNDLED = 'v1.5.0';
const APP_NEXT = 'v0.4.0';

const NOTICE_TICK_MS = 250;
const NOTICE_STEP = 0.04;
const FW_BLOCKS = 48;
/** Progress states and the state each one leads to once complete. */
const NOTICE_PROGRESS_NEXT = { 'fw-flashing': 'fw-done', 'app-downloading': 'app-applying' };

let noticeProgress = 0;
let noticeTimer = null;

/** Stroke-only drawings: view box and elements with their attributes. */
const ICONS = {
  download: ['0 0 16 16', [['path', { d: 'M8 2.5v8M4.8 7.3 8 10.5l3.2-3.2M3 13.5h10' }]]],
  chip: ['0 0 16 16', [
    ['rect', { x: 4, y: 4, width: 8, height: 8, rx: 1.5 }],
    ['path', { d: 'M6.5 1.5v2.5M9.5 1.5v2.5M6.5 12v2.5M9.5 12v2.5M1.5 6.5H4M1.5 9.5H4M12 6.5h2.5M12 9.5h2.5' }],
  ]],
  check: ['0 0 16 16', [['circle', { cx: 8, cy: 8, r: 6 }], ['path', { d: 'm5.2 8.2 1.9 1.9 3.7-4' }]]],
  alert: ['0 0 16 16', [['path', { d: 'M8 2.2 14.3 13H1.7Z' }], ['path', { d: 'M8 6.3v3.2M8 11.4v.2' }]]],
  refresh: ['0 0 16 16', [['path', { d: 'M13 8a5 5 0 1 1-1.5-3.6M13 2.5v3h-3' }]]],
  close: ['0 0 10 10', [['path', { d: 'm1.5 1.5 7 7M8.5 1.5l-7 7' }]]],
};

/** Builds one icon of ICONS as an inline SVG element, hidden from assistive technology. */
function iconSvg(key) {
  const [viewBox, shapes] = ICONS[key];
  return svg('svg', { viewBox, 'aria-hidden': 'true' }, ...shapes.map(([tag, attributes]) => svg(tag, attributes)));
}

/** Enters a notice state; anything that is not one of NOTICE_STATES counts as "none". */
function setNotice(value) {
  if (noticeTimer !== null) {
    clearInterval(noticeTimer);
    noticeTimer = null;
  }
  noticeState = NOTICE_STATES.includes(value) ? value : 'none';
  noticeProgress = 0;
  $('#notices').value = noticeState;
  const next = NOTICE_PROGRESS_NEXT[noticeState];
  if (next) {
    noticeTimer = setInterval(() => {
      noticeProgress = Math.min(1, noticeProgress + NOTICE_STEP);
      if (noticeProgress >= 1) setNotice(next);
      else refreshViews('notice');
    }, NOTICE_TICK_MS);
  }
  refreshViews('notice');
  updateUrl();
}

/** Row description of a firmware part; `withApp` when an application row stands beside it. */
function firmwareNotice(part, withApp) {
  switch (part) {
    case 'fw-available':
      return {
        tone: 'accent', icon: 'chip', text: 'Dongle firmware update available', detail: `${FW_DEVICE} → ${FW_BUNDLED}`,
        actions: [{ label: 'Update now', kind: 'primary', onClick: () => setNotice('fw-flashing') }],
        dismiss: () => setNotice(withApp ? 'app-available' : 'none'),
      };
    case 'fw-flashing':
      return {
        tone: 'busy', icon: 'chip', text: 'Flashing firmware…', detail: FW_BUNDLED,
        // Math.round rounds halves up, as the labels want, for these non-negative values.
        progress: { ratio: noticeProgress, label: `${Math.round(noticeProgress * FW_BLOCKS)}/${FW_BLOCKS} blocks` },
      };
    case 'fw-done':
      return {
        tone: 'ok', icon: 'check', text: 'Firmware updated — device rebooting', detail: FW_BUNDLED,
        dismiss: () => setNotice('none'),
      };
    default: // fw-failed
      return {
        tone: 'err', icon: 'alert', text: 'Firmware update failed', detail: 'DFU: device did not re-enumerate',
        actions: [{ label: 'Retry', onClick: () => setNotice('fw-available') }],
        dismiss: () => setNotice('none'),
      };
  }
}

/** Row description of an application part; `withFirmware` when a firmware row stands beside it. */
function applicationNotice(part, withFirmware) {
  switch (part) {
    case 'app-available':
      return {
        tone: 'info', icon: 'download', text: `QuillCAN ${APP_NEXT} available`, detail: 'signed · 18.2 MB',
        actions: [
          { label: 'Update now', kind: 'primary', title: 'Download and replace the running app, then relaunch',
            onClick: () => setNotice('app-downloading') },
          { label: 'Release notes' },
          { label: 'Defer', title: 'Dismiss for this session', onClick: () => setNotice(withFirmware ? 'fw-available' : 'none') },
        ],
      };
    case 'app-downloading':
      return {
        tone: 'busy', icon: 'download', text: `Downloading QuillCAN ${APP_NEXT}…`,
        progress: { ratio: noticeProgress, label: `${Math.round(noticeProgress * 100)} %` },
      };
    case 'app-applying':
      return { tone: 'busy', icon: 'refresh', text: 'Applying update, restarting…', detail: APP_NEXT };
    default: // app-failed
      return {
        tone: 'err', icon: 'alert', text: 'Update failed', detail: 'signature mismatch',
        actions: [
          { label: 'Retry', onClick: () => setNotice('app-available') },
          { label: 'Defer', onClick: () => setNotice('none') },
        ],
      };
  }
}

/**
 * Builds one notice row. Its four children (icon, text, progress, actions)
 * always exist so the row's grid keeps its columns.
 */
function noticeRow({ tone, icon, text, detail, progress, actions = [], dismiss }) {
  const textPart = el('span', { class: 'notice-text' },
    el('span', { text }),
    detail ? el('span', { class: 'notice-detail', text: detail }) : null);

  const progressPart = el('span', { class: 'notice-progress' });
  if (progress) {
    const fill = el('span', { class: 'fill' });
    fill.style.width = `${Math.round(progress.ratio * 100)}%`;
    progressPart.append(el('span', { class: 'track' }, fill), el('span', { class: 'pct', text: progress.label }));
  }

  const actionsPart = el('span', { class: 'notice-actions' },
    ...actions.map((action) => el('button', {
      type: 'button', class: action.kind ?? 'secondary', title: action.title, text: action.label, onclick: action.onClick,
    })));
  if (dismiss) {
    actionsPart.append(el('button', { type: 'button', class: 'secondary dismiss', 'aria-label': 'Dismiss', onclick: dismiss },
      iconSvg('close')));
  }

  return el('div', { class: `notice ${tone}`, role: 'status' }, iconSvg(icon), textPart, progressPart, actionsPart);
}

/** Rebuilds the notices strip: the firmware row first, then the application row. */
function renderNotices() {
  const both = noticeState === 'both';
  const firmware = noticeState.startsWith('fw-') ? noticeState : both ? 'fw-available' : null;
  const application = noticeState.startsWith('app-') ? noticeState : both ? 'app-available' : null;
  const rows = [];
  if (firmware) rows.push(noticeRow(firmwareNotice(firmware, application !== null)));
  if (application) rows.push(noticeRow(applicationNotice(application, firmware !== null)));

  // The rows are new elements on every tick, so a progress fill would jump
  // instead of gliding over its 0.2 s transition: start each new fill at the
  // width the old one had, then move it to its target once laid out.
  const strip = $('#notices-strip');
  const oldWidths = [...strip.querySelectorAll('.fill')].map((fill) => fill.style.width);
  const newFills = rows.flatMap((row) => [...row.querySelectorAll('.fill')]);
  const targets = newFills.map((fill) => fill.style.width);
  newFills.forEach((fill, index) => {
    if (oldWidths[index]) fill.style.width = oldWidths[index];
  });
  strip.replaceChildren(...rows);
  if (newFills.some((fill, index) => fill.style.width !== targets[index])) {
    void strip.offsetWidth;
    newFills.forEach((fill, index) => {
      fill.style.width = targets[index];
    });
  }
}

// The QR picker: three fixed sample codes, one of which the reviewer picks.

const QR_CHOICES = [
  'r9://203.0.113.10:3010?name=bench-can&bitrate=250000',
  'r9://203.0.113.20:3010?name=rig-2&bitrate=500000&listen=1',
  // A code that is no R9 URI: the maker's product page.
  'https://www.tevolark.example/products/quillcan-studio',
];

/** Index of the chosen entry, or null; cleared whenever the picker opens. */
let qrSelected = null;
/** Where the focus was before the picker opened; it goes back there on close. */
let qrReturnFocus = null;

function openQrPicker() {
  const modal = $('#qr-modal');
  if (!modal.contains(document.activeElement)) qrReturnFocus = document.activeElement;
  qrSelected = null;
  renderQrChoices();
  modal.hidden = false;
  $('#qr-choices').firstElementChild?.focus();
}

function closeQrPicker() {
  const modal = $('#qr-modal');
  const active = document.activeElement;
  // Hiding the dialog drops the focus of whatever inside it had it (a click on
  // the backdrop has already dropped it to the body): hand it back.
  const lost = !active || active === document.body || modal.contains(active);
  modal.hidden = true;
  if (lost && qrReturnFocus?.isConnected) qrReturnFocus.focus();
  qrReturnFocus = null;
}

function selectQrChoice(index) {
  qrSelected = index;
  renderQrChoices();
}

/**
 * Rebuilds the choices as a radio group; a choice that had the focus keeps it.
 * The group is one Tab stop: the checked choice, or the first while none is.
 */
function renderQrChoices() {
  const list = $('#qr-choices');
  const focused = [...list.children].indexOf(document.activeElement);
  list.replaceChildren(...QR_CHOICES.map((uri, index) => el('li', {
    role: 'radio',
    'aria-checked': String(index === qrSelected),
    tabindex: index === (qrSelected ?? 0) ? 0 : -1,
    onclick: () => selectQrChoice(index),
    onkeydown: (event) => {
      if (event.key !== ' ' && event.key !== 'Enter') return;
      event.preventDefault();
      selectQrChoice(index);
    },
  },
  el('span', { class: 'ring' }),
  el('span', { class: 'idx', text: String(index + 1) }),
  el('span', { class: 'uri', text: uri, title: uri }))));
  if (focused >= 0) list.children[focused]?.focus();
  $('#qr-use').disabled = qrSelected === null;
}

/**
 * Tab and Shift+Tab go round the open picker's controls and never reach the
 * page behind it: from the last control to the first and back, and from
 * anywhere outside the controls (a click on the card's text drops the focus)
 * into them.
 */
function keepTabInQrPicker(event) {
  const modal = $('#qr-modal');
  const stops = [...modal.querySelectorAll('button, [tabindex]')]
    .filter((node) => node.tabIndex >= 0 && !node.disabled && node.getClientRects().length > 0);
  if (!stops.length) return;
  const at = stops.indexOf(document.activeElement);
  const next = event.shiftKey ? (at <= 0 ? stops.length - 1 : null) : (at < 0 || at === stops.length - 1 ? 0 : null);
  if (next === null) return;
  event.preventDefault();
  stops[next].focus();
}

function wireNotices() {
  $('#qr-cancel').addEventListener('click', () => closeQrPicker());
  $('#qr-use').addEventListener('click', () => qrSelected !== null && closeQrPicker());
  $('#qr-modal').addEventListener('click', (event) => event.target === event.currentTarget && closeQrPicker());
  wireRovingFocus($('#qr-choices'), {
    items: () => [...$('#qr-choices').children],
    keys: RADIO_KEYS,
    wrap: true,
    moved: (_, index) => selectQrChoice(index),
  });
  document.addEventListener('keydown', (event) => {
    if ($('#qr-modal').hidden) return;
    // WebKitGTK names the Tab key of Shift+Tab "Unidentified": its key code still says Tab.
    const tab = event.key === 'Tab' || event.code === 'Tab';
    if (event.key === 'Escape') closeQrPicker();
    else if (tab && !event.altKey && !event.ctrlKey && !event.metaKey) keepTabInQrPicker(event);
  });
}

// ── Sample files and loaded files ──

// The catalogue of sample EDS, DBC and A2L files and the files the user has
// loaded. Every view of workspace content renders from `loaded`, whose lists
// hold the very records of `catalog`: a value written in the object tree or a
// PDO mapping edited in the transmit panel changes the catalogue record, and
// every view that reads it later sees the change.

/** An EDS object (sub-index as two digits). */
function edsObject(name, idx, sub, type, access, value) {
  return { name, idx, sub, type, access, value };
}

/** A DBC signal: its message's identifier as index, no sub-index. */
function dbcSignal(name, idx, type, access, value, unit) {
  const leaf = { name, idx, sub: '—', type, access, value };
  if (unit !== undefined) leaf.unit = unit;
  return leaf;
}

/** An A2L measurement ("DAQ") or characteristic ("CAL"). */
function a2lObject(name, idx, access, value, unit, addr, amp) {
  const leaf = { name, idx, sub: '—', type: 'F32', access, value };
  if (unit !== undefined) leaf.unit = unit;
  leaf.addr = addr;
  if (amp !== undefined) leaf.amp = amp;
  return leaf;
}

/** The "Communication" group shared by the EDS files (motor.eds adds its mapping groups). */
const EDS_COMMUNICATION = 'Communication · 0x1000–0x1FFF';
const EDS_PROFILE = 'Profile · 0x6000–0x9FFF';

/** Every sample file, per type; A2L files are filed under `xcp`. */
const catalog = {
  eds: [
    {
      type: 'eds',
      file: 'motor.eds',
      label: 'CANopen · motor.eds (Node 1 · 0x01)',
      node: 'Node 1',
      nodeId: '0x01',
      rpdos: [{ name: 'RPDO1', cob: '0x200', mapIndex: '0x1600' }],
      children: [
        {
          label: EDS_COMMUNICATION,
          children: [
            edsObject('Device type', '0x1000', '00', 'U32', 'ro', '0x00020192'),
            edsObject('Error register', '0x1001', '00', 'U8', 'ro', '0x00'),
            edsObject('Manufacturer device name', '0x1008', '00', 'STR', 'ro', 'JCAN Motor Drive'),
            edsObject('Manufacturer software version', '0x100A', '00', 'STR', 'ro', '1.4.2'),
            {
              label: 'RPDO1 mapping · 0x1600',
              children: [
                edsObject('Number of entries', '0x1600', '00', 'U8', 'rw', '2'),
                edsObject('Mapped object 1', '0x1600', '01', 'U32', 'rw', '0x60400010'),
                edsObject('Mapped object 2', '0x1600', '02', 'U32', 'rw', '0x60710010'),
              ],
            },
            {
              label: 'TPDO1 mapping · 0x1A00',
              children: [
                edsObject('Number of entries', '0x1A00', '00', 'U8', 'rw', '2'),
                edsObject('Mapped object 1', '0x1A00', '01', 'U32', 'rw', '0x60440010'),
                edsObject('Mapped object 2', '0x1A00', '02', 'U32', 'rw', '0x60710010'),
              ],
            },
          ],
        },
        {
          label: 'Manufacturer · 0x2000–0x5FFF',
          children: [
            edsObject('Motor current', '0x2100', '00', 'I16', 'rw', '0x0000'),
            edsObject('Drive label', '0x2200', '00', 'STR', 'rw', 'axis-front'),
          ],
        },
        {
          label: EDS_PROFILE,
          children: [
            edsObject('Controlword', '0x6040', '00', 'U16', 'rw', '0x000F'),
            edsObject('Statusword', '0x6041', '00', 'U16', 'ro', '0x0237'),
            edsObject('Velocity actual value', '0x6044', '00', 'I16', 'ro', '0x04A1'),
            edsObject('Target torque', '0x6071', '00', 'I16', 'rw', '0x0000'),
          ],
        },
      ],
    },
    {
      type: 'eds',
      file: 'io.eds',
      label: 'CANopen · io.eds (Node 2 · 0x02)',
      node: 'Node 2',
      nodeId: '0x02',
      rpdos: [{ name: 'RPDO1', cob: '0x300', mapIndex: '0x1600' }],
      children: [
        {
          label: EDS_COMMUNICATION,
          children: [
            edsObject('Device type', '0x1000', '00', 'U32', 'ro', '0x00040191'),
            edsObject('Manufacturer device name', '0x1008', '00', 'STR', 'ro', 'JCAN I/O 16'),
            {
              label: 'RPDO1 mapping · 0x1600',
              children: [
                edsObject('Number of entries', '0x1600', '00', 'U8', 'rw', '1'),
                edsObject('Mapped object 1', '0x1600', '01', 'U32', 'rw', '0x62000108'),
              ],
            },
          ],
        },
        {
          label: EDS_PROFILE,
          children: [
            edsObject('Digital inputs', '0x6000', '01', 'U8', 'ro', '0xA3'),
            edsObject('Digital outputs', '0x6200', '01', 'U8', 'rw', '0x00'),
          ],
        },
      ],
    },
    {
      type: 'eds',
      file: 'sensor.eds',
      label: 'CANopen · sensor.eds (Node 3 · 0x03)',
      node: 'Node 3',
      nodeId: '0x03',
      rpdos: [],
      children: [
        {
          label: EDS_COMMUNICATION,
          children: [
            edsObject('Device type', '0x1000', '00', 'U32', 'ro', '0x00010193'),
            edsObject('Manufacturer device name', '0x1008', '00', 'STR', 'ro', 'JCAN Sensor'),
          ],
        },
        {
          label: EDS_PROFILE,
          children: [edsObject('Analog input 1', '0x6401', '01', 'I16', 'ro', '0x0138')],
        },
      ],
    },
  ],
  dbc: [
    {
      type: 'dbc',
      file: 'powertrain.dbc',
      label: 'DBC · powertrain.dbc',
      messages: ['EngineStatus (0x180)', 'BrakeCommand (0x200)'],
      children: [
        {
          label: 'EngineStatus · 0x180',
          children: [
            dbcSignal('EngineRPM', '0x180', 'u16', 'ro', '2480', 'rpm'),
            dbcSignal('CoolantTemp', '0x180', 'u8', 'ro', '82', '°C'),
          ],
        },
        {
          label: 'BrakeCommand · 0x200',
          children: [
            dbcSignal('BrakePressure', '0x200', 'u16', 'rw', '0', 'kPa'),
            dbcSignal('BrakeActive', '0x200', 'bool', 'rw', '0'),
          ],
        },
      ],
    },
    {
      type: 'dbc',
      file: 'chassis.dbc',
      label: 'DBC · chassis.dbc',
      messages: ['WheelSpeed (0x1A0)'],
      children: [
        {
          label: 'WheelSpeed · 0x1A0',
          children: [
            dbcSignal('WheelSpeedFL', '0x1A0', 'u16', 'ro', '0', 'km/h'),
            dbcSignal('WheelSpeedFR', '0x1A0', 'u16', 'ro', '0', 'km/h'),
          ],
        },
      ],
    },
    {
      type: 'dbc',
      file: 'body.dbc',
      label: 'DBC · body.dbc',
      messages: ['DoorStatus (0x2C0)'],
      children: [
        {
          label: 'DoorStatus · 0x2C0',
          children: [
            dbcSignal('DoorFrontLeft', '0x2C0', 'bool', 'ro', '1'),
            dbcSignal('DoorFrontRight', '0x2C0', 'bool', 'ro', '0'),
          ],
        },
      ],
    },
  ],
  xcp: [
    {
      type: 'xcp',
      file: 'ecu.a2l',
      label: 'XCP · ecu.a2l',
      cro: '0x600',
      dto: '0x601',
      events: [
        { name: '1ms_task', cycle: 1 },
        { name: '10ms_task', cycle: 10 },
        { name: '100ms_task', cycle: 100 },
      ],
      children: [
        {
          label: 'Measurements (DAQ)',
          children: [
            a2lObject('engine.rpm', 'DAQ', 'ro', '2480.0', 'rpm', '0x20001000', 60),
            a2lObject('engine.load', 'DAQ', 'ro', '37.2', '%', '0x20001004', 2.5),
          ],
        },
        {
          label: 'Characteristics (CAL)',
          children: [a2lObject('ignition.advance', 'CAL', 'rw', '12.5', '°', '0x20004000')],
        },
      ],
    },
    {
      type: 'xcp',
      file: 'gateway.a2l',
      label: 'XCP · gateway.a2l',
      cro: '0x610',
      dto: '0x611',
      events: [{ name: 'cyclic_50ms', cycle: 50 }],
      children: [
        {
          label: 'Measurements (DAQ)',
          children: [a2lObject('bus.load', 'DAQ', 'ro', '12.4', '%', '0x20002000', 1.8)],
        },
      ],
    },
  ],
};

/** The loaded files per type, in load order: references to `catalog` records. Only ever appended to. */
const loaded = {
  eds: [catalog.eds[0], catalog.eds[1]],
  dbc: [catalog.dbc[0], catalog.dbc[1]],
  xcp: [catalog.xcp[0]],
};

/**
 * Node id text of node n: "0x" and at least two upper-case hexadecimal digits
 * ("0x04", "0x0A", "0x10", "0x100"). Plain "0x0" + n would read "0x010" for
 * node 10, which is node 16 in hexadecimal.
 */
function nodeIdText(n) {
  return `0x${hexByte(n)}`;
}

/** Makes up file number n of a type once its catalogue is exhausted; each call gives a new record. */
function generatedFile(type, n) {
  if (type === 'eds') {
    const node = `Node ${n}`;
    const nodeId = nodeIdText(n);
    const file = `device${n}.eds`;
    return {
      type, file, label: `CANopen · ${file} (${node} · ${nodeId})`, node, nodeId, rpdos: [],
      children: [{ label: EDS_COMMUNICATION, children: [edsObject('Device type', '0x1000', '00', 'U32', 'ro', '0x00000000')] }],
    };
  }
  if (type === 'dbc') {
    const file = `database${n}.dbc`;
    return {
      type, file, label: `DBC · ${file}`, messages: ['Message1 (0x400)'],
      children: [{ label: 'Message1 · 0x400', children: [dbcSignal('Signal1', '0x400', 'u16', 'ro', '0')] }],
    };
  }
  const file = `module${n}.a2l`;
  return {
    type, file, label: `XCP · ${file}`, cro: '0x620', dto: '0x621', events: [{ name: '10ms_task', cycle: 10 }],
    children: [{ label: 'Measurements (DAQ)', children: [a2lObject('signal', 'DAQ', 'ro', '0.0', undefined, '0x20003000', 1)] }],
  };
}

/** The file the next load of a type adds: the first catalogue file not loaded yet, else a generated one. */
function nextCatalogItem(type) {
  if (!Object.hasOwn(catalog, type)) return null;
  const names = new Set(loaded[type].map((item) => item.file));
  return catalog[type].find((item) => !names.has(item.file)) ?? generatedFile(type, loaded[type].length + 1);
}

/**
 * Adds the next file of a type ("eds", "dbc" or "xcp") and re-renders every
 * view that shows loaded files. Files can be added only while no simulated
 * connection is open; the load buttons are disabled then as well.
 */
function loadFile(type) {
  if (state === 'connecting' || state === 'live') return;
  const item = nextCatalogItem(type);
  if (!item) return;
  loaded[type].push(item);
  refreshViews('fileLoaded');
}

/** One element per item made by `make`, or a single muted paragraph for an empty list. */
function fileRows(items, make, emptyText) {
  return items.length ? items.map(make) : [el('p', { class: 'muted', text: emptyText })];
}

/** Rebuilds the three sidebar file lists from `loaded`. */
function renderFileLists() {
  const badge = (text) => el('span', { class: 'file-badge', text });
  const name = (item) => el('span', { class: 'file-name', text: item.file });
  $('#eds-list').replaceChildren(...fileRows(loaded.eds, (item) => el('div', { class: 'file-row' },
    el('span', { class: 'file-node', text: item.node }), name(item), badge(item.nodeId)), 'No EDS node loaded.'));
  $('#dbc-list').replaceChildren(...fileRows(loaded.dbc, (item) => el('div', { class: 'file-row' },
    name(item), badge('DBC')), 'No database loaded.'));
  $('#a2l-list').replaceChildren(...fileRows(loaded.xcp, (item) => el('div', { class: 'file-row' },
    name(item), badge('A2L')), 'No A2L file loaded.'));
}

/** A tree node is a group exactly when it has a `children` list. */
function isGroup(node) {
  return Array.isArray(node?.children);
}

/** Lower-cased `idx:sub` of a leaf ("0x1a00:01", "0x180:—"). */
function leafKey(leaf) {
  return `${leaf.idx}:${leaf.sub}`.toLowerCase();
}

/**
 * Map from leaf key to leaf over the whole tree, depth-first in document
 * order. A later leaf with a known key replaces the value but the key keeps
 * its first place (Map.set keeps an existing key's position): in a DBC file
 * the signals of one message share a key and the last one is found.
 */
function buildLeafIndex(root) {
  const index = new Map();
  const walk = (nodes) => {
    for (const node of nodes) {
      if (isGroup(node)) walk(node.children);
      else index.set(leafKey(node), node);
    }
  };
  walk(root?.children ?? []);
  return index;
}

/**
 * The first group that passes `test`, by a depth-first search with an explicit
 * stack: the last sibling is examined first, a group before its descendants,
 * the root itself never. Null when none passes.
 */
function findGroup(root, test) {
  const stack = [...(root?.children ?? [])];
  while (stack.length) {
    const node = stack.pop();
    if (!isGroup(node)) continue;
    if (test(node)) return node;
    stack.push(...node.children);
  }
  return null;
}

// ── Object dictionary ──

// The Objects tab: the trees of the loaded files as one flat list of rows
// (file headers, group headers, leaf rows; nesting shows only as indentation),
// rebuilt whole on every keystroke of the filter, change of source, collapse
// and file load. Reading copies a leaf's stored value into its field; writing
// stores the field's text in the catalogue leaf itself. Collapse state and
// periodic markers are kept in sets of keys made of labels and names, so they
// outlive every rebuild; text typed and not written does not.
//
// A rebuild makes the row list anew from the loaded files and puts every row
// into the state a newly built row has: the stored value in the field, no
// dirty, invalid or flash mark, a valid-looking write button, the interval
// back at 500, periodic marker, caret and listen-only state from the page
// state. The row elements themselves are kept per leaf and per header key and
// only moved when the list of rows changes, because creating and laying out
// thousands of elements on every keystroke takes several frames in a large
// workspace.

/** Collapse keys of collapsed file and group headers ("root:" + file label, then "/" + group label per level). */
const objCollapsed = new Set();
/** Cyclic keys (idx:sub:name) of leaves whose periodic marker is on. */
const cyclicKeys = new Set();
/** Header row of each collapse key, kept for reuse. */
const objHeads = new Map();
/** The collapse key of each header row; the leaf and the working parts of each leaf row (read by the tree's handlers). */
const objHeadKeys = new WeakMap();
const objRowLeaves = new WeakMap();
/** Leaf row of each catalogue leaf, kept for reuse. */
const objLeafRows = new WeakMap();
/** Rows placed by the rebuild in progress: a kept row is never placed twice (two groups may share a label). */
const treeRowsPlaced = new Set();
/**
 * The tree's one Tab stop: the row that last had the focus, else the first
 * row shown. A leaf row's own controls (value, read, write, interval,
 * periodic) follow their row: Tab goes from the row into them, and they are
 * Tab stops only while their row is.
 */
let treeTabStop = null;

const OBJ_SOURCE_GROUPS = [['eds', 'CANopen (EDS)'], ['dbc', 'DBC'], ['xcp', 'XCP (A2L)']];
const GROUP_SEPARATOR = ' · ';
/** Each glyph is followed by U+FE0E so that it is drawn as text, not as a coloured emoji. */
const OBJ_GLYPHS = { read: '⬇\uFE0E', write: '✎\uFE0E', cyclic: '⟳\uFE0E' };
const CYCLIC_DEFAULT_MS = '500';

/** A type containing "str" in any case holds free text. */
function isStringType(type) {
  return /str/i.test(type);
}

/** Rebuilds the source select from `loaded`, keeping the choice while it is still offered. */
function renderObjectSource() {
  const options = [option('All sources (EDS · DBC · XCP)', 'all')];
  for (const [type, label] of OBJ_SOURCE_GROUPS) {
    if (!loaded[type].length) continue;
    options.push(el('optgroup', { label },
      option(`All ${label}`, type),
      ...loaded[type].map((item) => option(item.node ? `${item.file}${GROUP_SEPARATOR}${item.node}` : item.file,
        `${type}:${item.file}`))));
  }
  fillSelect($('#obj-source'), options, 'all');
}

/** The files a source value stands for: "all", a type key, or "type:file name". */
function treeRoots(value) {
  if (value === 'all') return [...loaded.eds, ...loaded.dbc, ...loaded.xcp];
  const colon = value.indexOf(':');
  const type = colon >= 0 ? value.slice(0, colon) : value;
  const files = Object.hasOwn(loaded, type) ? loaded[type] : [];
  return colon >= 0 ? files.filter((item) => item.file === value.slice(colon + 1)) : [...files];
}

/** While the filter holds text, every header shows expanded whatever its stored state. */
function filterForcesOpen() {
  return $('#obj-filter').value.trim() !== '';
}

/**
 * Rebuilds the whole tree for the selected source and the current filter.
 * The Tab stop stays on its row while the row is shown, and the focus of a
 * row or control moved by the rebuild goes back to it (to the Tab stop when
 * its row is gone).
 */
function renderTree() {
  const tree = $('#obj-tree');
  const focused = tree.contains(document.activeElement) ? document.activeElement : null;
  const forceExpand = filterForcesOpen();
  const rows = [];
  treeRowsPlaced.clear();
  for (const root of treeRoots($('#obj-source').value || 'all')) appendRoot(rows, root, forceExpand);
  treeRowsPlaced.clear();
  const current = tree.children;
  if (rows.length !== current.length || rows.some((row, i) => row !== current[i])) tree.replaceChildren(...rows);
  filterTree();
  if (treeTabStop?.parentElement !== tree || treeTabStop.hidden) setTreeTabStop(shownTreeRows()[0] ?? null);
  if (focused && document.activeElement !== focused) {
    (focused.isConnected && !focused.closest('[hidden]') ? focused : treeTabStop)?.focus();
  }
}

/** The rows the arrow keys walk: every row the filter leaves shown, in order. */
function shownTreeRows() {
  return [...$('#obj-tree').children].filter((row) => !row.hidden);
}

/** Makes `row` (or none) the tree's one Tab stop, with its controls. */
function setTreeTabStop(row) {
  if (row === treeTabStop) return;
  for (const [node, tabIndex] of [[treeTabStop, -1], [row, 0]]) {
    if (!node) continue;
    node.tabIndex = tabIndex;
    for (const control of node.querySelectorAll('input, button')) control.tabIndex = tabIndex;
  }
  treeTabStop = row;
}

/** A header row (file or group) in the given collapse state; a click, Enter or Space flips it (see wireObjects). */
function objHead(className, key, collapsed, indent, level, makeLabel) {
  let head = objHeads.get(key);
  if (!head || treeRowsPlaced.has(head)) {
    head = el('div', { class: className, role: 'treeitem', tabindex: -1, 'aria-level': level }, objCaret(collapsed), ...makeLabel());
    if (indent !== null) head.style.paddingLeft = `${indent}px`;
    if (!objHeads.has(key)) objHeads.set(key, head);
    objHeadKeys.set(head, key);
  }
  treeRowsPlaced.add(head);
  // Only what changed is touched: an unchanged header costs no restyle or layout.
  const expanded = String(!collapsed);
  if (head.getAttribute('aria-expanded') !== expanded) {
    head.setAttribute('aria-expanded', expanded);
    head.firstElementChild.textContent = collapsed ? '▸' : '▾';
  }
  return head;
}

/**
 * Adds one child of a file or group: a group with its rows, or a leaf row.
 * `level` is the child's level in the tree (a file header is at level 1),
 * which the arrow keys and assistive technology go by, since the rows
 * themselves are not nested.
 */
function appendChild(container, node, depth, parentKey, forceExpand, level) {
  if (isGroup(node)) {
    appendGroup(container, node, depth, parentKey, forceExpand);
    return;
  }
  const row = makeLeafRow(node, depth);
  if (row.getAttribute('aria-level') !== String(level)) row.setAttribute('aria-level', level);
  container.push(row);
}

/** Adds a file's header row to the row list and, unless it is collapsed, the rows of its children at depth 1. */
function appendRoot(container, root, forceExpand) {
  const key = `root:${root.label}`;
  const collapsed = !forceExpand && objCollapsed.has(key);
  container.push(objHead('obj-root-label', key, collapsed, null, 1, () => [el('span', { text: root.label })]));
  if (collapsed) return;
  for (const child of root.children ?? []) appendChild(container, child, 1, key, forceExpand, 2);
}

/**
 * A group header indented depth × 16 + 4 px; a label "name · range" shows the
 * range first (bold, monospace) and the name after it. Nested groups go one
 * level deeper; leaves stay at the group's depth (indented 8 px more).
 */
function appendGroup(container, node, depth, parentKey, forceExpand) {
  const key = `${parentKey}/${node.label}`;
  const collapsed = !forceExpand && objCollapsed.has(key);
  container.push(objHead('obj-group-head', key, collapsed, depth * 16 + 4, depth + 1, () => {
    const at = node.label.indexOf(GROUP_SEPARATOR);
    if (at < 0) return [el('span', { class: 'obj-group-name', text: node.label })];
    return [el('span', { class: 'obj-group-range', text: node.label.slice(at + GROUP_SEPARATOR.length) }),
      el('span', { class: 'obj-group-name', text: node.label.slice(0, at) })];
  }));
  if (collapsed) return;
  for (const child of node.children) {
    appendChild(container, child, isGroup(child) ? depth + 1 : depth, key, forceExpand, depth + 2);
  }
}

function objCaret(collapsed) {
  return el('span', { class: 'obj-caret', 'aria-hidden': 'true', text: collapsed ? '▸' : '▾' });
}

/** Flips a header's collapse state and rebuilds; a header that had the focus keeps it (see renderTree). */
function toggleObj(key) {
  if (objCollapsed.has(key)) objCollapsed.delete(key);
  else objCollapsed.add(key);
  renderTree();
}

/** The decimal text of a sub-index ("01" gives "1"), empty for "—". */
function subToNum(sub) {
  if (sub === '—') return '';
  const value = parseInt(sub, 10);
  return Number.isNaN(value) ? '' : String(value);
}

/** The empty leaf row that new rows copy: one deep copy is cheaper than building each element. */
let leafRowModel = null;

function emptyLeafRow() {
  // A new row and its controls are not Tab stops (see treeTabStop).
  leafRowModel ??= el('div', { class: 'obj-leaf', role: 'treeitem', tabindex: -1 },
    el('span', { class: 'obj-main' }, el('span', { class: 'obj-idx' }), el('span', { class: 'obj-name' })),
    el('span', { class: 'access' }),
    el('span', { class: 'obj-value-cell' },
      el('input', { class: 'obj-value-input', autocomplete: 'off', spellcheck: 'false', tabindex: -1 }),
      el('span', { class: 'obj-unit' })),
    el('span', { class: 'obj-actions' },
      el('button', { type: 'button', class: 'icon-btn read-btn', title: 'Read value into the field',
        'aria-label': 'Read value into the field', text: OBJ_GLYPHS.read, tabindex: -1 }),
      el('button', { type: 'button', class: 'icon-btn write-btn', text: OBJ_GLYPHS.write, tabindex: -1 }),
      el('span', { class: 'cyc-field' },
        el('input', { type: 'number', class: 'cyc-ms', min: 1, value: CYCLIC_DEFAULT_MS, tabindex: -1 }),
        el('span', { class: 'cyc-unit', text: 'ms' }),
        el('button', { type: 'button', class: 'icon-btn cyc-btn', text: OBJ_GLYPHS.cyclic, tabindex: -1 }))));
  return leafRowModel.cloneNode(true);
}

/**
 * The row of one leaf, as a newly built row shows it: index and name, access
 * chip, value field with the stored value and unit, read / write / periodic.
 * The buttons and the field are handled by the tree's listeners (wireObjects),
 * which find the leaf through the row.
 */
function makeLeafRow(leaf, depth) {
  const writable = leaf.access !== 'ro';
  let row = objLeafRows.get(leaf);
  if (!row || treeRowsPlaced.has(row)) {
    row = emptyLeafRow();
    const [main, access, cell, actions] = row.children;
    const [readBtn, writeBtn, cycField] = actions.children;
    const [cycMs, , cycBtn] = cycField.children;
    const input = cell.firstElementChild;

    row.dataset.name = leaf.name.toLowerCase();
    row.dataset.idxnum = idxToNum(leaf.idx);
    row.dataset.subnum = subToNum(leaf.sub);
    main.firstElementChild.textContent = leaf.sub === '—' ? leaf.idx : `${leaf.idx}:${leaf.sub}`;
    main.lastElementChild.textContent = `${leaf.name}${GROUP_SEPARATOR}${leaf.type}`;
    access.className = `access access-${leaf.access}`;
    access.textContent = leaf.access;

    if (isStringType(leaf.type)) input.classList.add('text');
    input.readOnly = !writable;
    input.setAttribute('aria-label', `Value of ${leaf.name}`);
    if (leaf.unit) cell.lastElementChild.textContent = leaf.unit;
    else cell.lastElementChild.remove();

    readBtn.disabled = leaf.access === 'wo';
    const writeTitle = writable ? 'Write the field value' : 'Read-only object';
    writeBtn.title = writeTitle;
    writeBtn.setAttribute('aria-label', writeTitle);
    Object.assign(writeBtn.dataset, { writeBtn: '', writable: String(writable), invalid: 'false' });

    const cyclicTitle = `Toggle periodic ${leaf.access === 'wo' ? 'write' : 'read'}`;
    cycMs.setAttribute('aria-label', `Periodic interval ms for ${leaf.name}`);
    cycBtn.title = cyclicTitle;
    cycBtn.setAttribute('aria-label', cyclicTitle);

    if (!objLeafRows.has(leaf)) objLeafRows.set(leaf, row);
    objRowLeaves.set(row, { leaf, input, writeBtn, cycMs, cycBtn });
  }
  treeRowsPlaced.add(row);
  const indent = `${depth * 16 + 12}px`;
  if (row.style.paddingLeft !== indent) row.style.paddingLeft = indent;
  resetLeafRow(row, leaf, writable);
  return row;
}

/** Puts a leaf row into its freshly built state; touches only what differs, so an unchanged row costs no restyle. */
function resetLeafRow(row, leaf, writable) {
  const { input, writeBtn, cycMs, cycBtn } = leafRowParts(row);
  if (input.value !== leaf.value) input.value = leaf.value;
  if (input.classList.length > (input.classList.contains('text') ? 2 : 1)) input.classList.remove('dirty', 'invalid', 'flash');
  if (writeBtn.dataset.invalid !== 'false') writeBtn.dataset.invalid = 'false';
  const writeDisabled = !writable || listenOnly();
  if (writeBtn.disabled !== writeDisabled) writeBtn.disabled = writeDisabled;
  if (cycMs.value !== CYCLIC_DEFAULT_MS) cycMs.value = CYCLIC_DEFAULT_MS;
  const cyclic = cyclicKeys.has(cyclicKeyOf(leaf));
  if (row.classList.contains('cyclic-active') !== cyclic) row.classList.toggle('cyclic-active', cyclic);
  if (cycBtn.getAttribute('aria-pressed') !== String(cyclic)) cycBtn.setAttribute('aria-pressed', String(cyclic));
}

/** Cyclic key of a leaf: idx, sub-index and name, not lower-cased ("0x6040:00:Controlword"). */
function cyclicKeyOf(leaf) {
  return `${leaf.idx}:${leaf.sub}:${leaf.name}`;
}

/** The parts of a leaf row that the actions and the reset use (leaf, input, writeBtn, cycMs, cycBtn). */
function leafRowParts(row) {
  return objRowLeaves.get(row);
}

/** Read: the stored value back into the field. */
function readLeaf(row) {
  const { leaf, input, writeBtn } = leafRowParts(row);
  if (leaf.access === 'wo') return;
  input.value = leaf.value;
  flash(input);
  validateField(leaf, input, writeBtn);
}

/** Write: the field's text, exactly as typed (valid values are neither converted nor trimmed), into the leaf. */
function writeLeaf(row) {
  const { leaf, input, writeBtn } = leafRowParts(row);
  if (leaf.access === 'ro' || listenOnly() || writeBtn.dataset.invalid === 'true') return;
  leaf.value = input.value;
  flash(input);
  validateField(leaf, input, writeBtn);
}

/** Periodic marker: only the row's look changes; nothing is read or written periodically. */
function toggleCyclic(row) {
  const { leaf, cycBtn } = leafRowParts(row);
  const key = cyclicKeyOf(leaf);
  const on = !cyclicKeys.has(key);
  if (on) cyclicKeys.add(key);
  else cyclicKeys.delete(key);
  cycBtn.setAttribute('aria-pressed', String(on));
  row.classList.toggle('cyclic-active', on);
}

/**
 * True when `raw` is an acceptable value: any text for a string type;
 * otherwise, trimmed, "0x" with hexadecimal digits or a decimal number with an
 * optional minus sign and fraction. Width and range of the type are not checked.
 */
function isValidValue(leaf, raw) {
  if (isStringType(leaf.type)) return true;
  const text = String(raw).trim();
  return /^0x[0-9a-f]+$/i.test(text) || /^-?[0-9]+(\.[0-9]+)?$/.test(text);
}

/** Marks a field invalid, or dirty when valid and different from the stored value; updates its write button. */
function validateField(leaf, input, writeBtn) {
  const valid = isValidValue(leaf, input.value);
  input.classList.toggle('invalid', !valid);
  input.classList.toggle('dirty', valid && input.value !== leaf.value);
  writeBtn.dataset.invalid = String(!valid);
  syncListenState();
}

/** Restarts the highlight animation, also while it is still running. */
function flash(element) {
  element.classList.remove('flash');
  void element.offsetWidth;
  element.classList.add('flash');
}

/** Enables exactly the write buttons of writable objects with a valid field, none in listen-only mode. */
function syncListenState() {
  const listen = listenOnly();
  for (const button of document.querySelectorAll('[data-write-btn]')) {
    button.disabled = listen || button.dataset.writable !== 'true' || button.dataset.invalid === 'true';
  }
}

/**
 * A filter number: "0x" (either case) and the leading hexadecimal digits of
 * the rest, or a token made only of decimal digits. Null for anything else.
 */
function parseNum(tok) {
  const text = String(tok).trim();
  if (text === '') return null;
  if (/^0x/i.test(text)) {
    const digits = /^[0-9a-f]+/i.exec(text.slice(2));
    return digits ? parseInt(digits[0], 16) : null;
  }
  return /^[0-9]+$/.test(text) ? Number(text) : null;
}

/** Decimal text of an index ("0x1000" gives "4096"), empty for "DAQ" and "CAL". */
function idxToNum(idx) {
  const value = parseNum(idx);
  return value === null ? '' : String(value);
}

/**
 * Whether a leaf row matches the trimmed filter q. "index:sub" matches by
 * numbers (an empty sub-index part matches every sub-index); a plain number
 * matches the index only; otherwise, and when "index:sub" finds nothing, the
 * name is searched for q.
 */
function odFilterMatch(row, q) {
  if (q === '') return true;
  const rowIdx = row.dataset.idxnum === '' ? null : Number(row.dataset.idxnum);
  const rowSub = row.dataset.subnum === '' ? null : Number(row.dataset.subnum);
  const colon = q.indexOf(':');
  if (colon >= 0) {
    const idx = parseNum(q.slice(0, colon));
    if (idx !== null) {
      const subText = q.slice(colon + 1).trim();
      if (idx === rowIdx && (subText === '' || parseNum(subText) === rowSub)) return true;
    }
  } else {
    const idx = parseNum(q);
    if (idx !== null) return idx === rowIdx;
  }
  return row.dataset.name.includes(q.toLowerCase());
}

/** Hides the leaf rows that do not match the filter; headers always stay. */
function filterTree() {
  const q = $('#obj-filter').value.trim();
  for (const row of $('#obj-tree').children) {
    if (!row.classList.contains('obj-leaf')) continue;
    const hide = !odFilterMatch(row, q);
    if (row.hidden !== hide) row.hidden = hide;
  }
}

/**
 * Right opens a closed header, or moves from an open one to its first child;
 * Left closes an open header, or moves to the row's parent. A header that
 * the filter holds open does not close: Left moves on to its parent.
 */
function stepTreeSideways(row, key, right) {
  const level = (node) => Number(node.getAttribute('aria-level'));
  const open = row.getAttribute('aria-expanded') === 'true';
  if (key !== undefined && (right ? !open : open && !filterForcesOpen())) {
    toggleObj(key);
    return;
  }
  const rows = shownTreeRows();
  const at = rows.indexOf(row);
  if (right) {
    if (key !== undefined && level(rows[at + 1] ?? row) > level(row)) rows[at + 1].focus();
    return;
  }
  rows.slice(0, at).findLast((node) => level(node) < level(row))?.focus();
}

/**
 * The tree's rows are rebuilt on every keystroke of the filter, so their
 * clicks, keys and field input are handled once, on the tree container.
 */
function wireObjects() {
  $('#obj-source').addEventListener('change', () => renderTree());
  $('#obj-filter').addEventListener('input', () => renderTree());
  const tree = $('#obj-tree');
  // The rows are the tree's Tab stop: the scrolling container itself is none
  // (Firefox would make it one of its own).
  tree.tabIndex = -1;
  tree.addEventListener('click', (event) => {
    const head = event.target.closest('.obj-root-label, .obj-group-head');
    if (head) {
      toggleObj(objHeadKeys.get(head));
      return;
    }
    const button = event.target.closest('.obj-leaf button');
    if (!button || button.disabled) return;
    const row = button.closest('.obj-leaf');
    if (button.classList.contains('read-btn')) readLeaf(row);
    else if (button.classList.contains('write-btn')) writeLeaf(row);
    else if (button.classList.contains('cyc-btn')) toggleCyclic(row);
  });
  tree.addEventListener('focusin', (event) => {
    const row = event.target.closest('[role="treeitem"]');
    if (row) setTreeTabStop(row);
  });
  wireRovingFocus(tree, { items: shownTreeRows, keys: TREE_KEYS });
  tree.addEventListener('keydown', (event) => {
    const row = event.target;
    if (row.getAttribute?.('role') !== 'treeitem' || event.altKey || event.ctrlKey || event.metaKey || event.shiftKey) return;
    const key = objHeadKeys.get(row);
    if (event.key === 'Enter' || event.key === ' ') {
      if (key === undefined) return;
      event.preventDefault();
      toggleObj(key);
    } else if (event.key === 'ArrowRight' || event.key === 'ArrowLeft') {
      event.preventDefault();
      stepTreeSideways(row, key, event.key === 'ArrowRight');
    }
  });
  tree.addEventListener('input', (event) => {
    if (!event.target.classList.contains('obj-value-input') || event.target.readOnly) return;
    const row = event.target.closest('.obj-leaf');
    const { leaf, input, writeBtn } = leafRowParts(row);
    validateField(leaf, input, writeBtn);
  });
}

// The browser tests check these on the page's own code: importing this module
// again from the page returns this very instance, so no second copy exists.
export { catalog, loaded, nextCatalogItem, buildLeafIndex, findGroup, isValidValue, parseNum, idxToNum, odFilterMatch };

// ── Transmit view ──

// The Transmit tab composes one CAN frame from one of four message sources
// (a raw frame, an RPDO of a loaded CANopen node, a CANopen command, a DBC
// message) and simulates sending it; nothing reaches a bus. A single shot
// adds a time-stamped line to the transmit log, which fades out and goes
// after TX_LOG_TTL_MS; a periodic send lists a job until its Stop button is
// pressed. The fields are not validated: their texts enter the transmit
// summary as typed, and every text reaches the log and the job list as text.
//
// The PDO source reads the loaded EDS files. The mapping of an RPDO is
// resolved once from its mapping group's "Mapped object" leaves and then kept
// as the list `entries` on the catalogue's RPDO record, where the mapping
// editor changes it in place; the mapping leaves themselves are never changed.

/** Life of a transmit-log line in ms; the line fades out during the last TX_LOG_FADE_MS. */
const TX_LOG_TTL_MS = 8000;
/** Length of the fade-out; the 2 s opacity transition of `#tx-log > li.fading` matches it. */
const TX_LOG_FADE_MS = 2000;

/** The message sources in the order of `#tx-mode`, with the verb of the Send button. */
const TX_VERBS = { raw: 'frame', pdo: 'PDO', canopen: 'command', dbc: 'message' };

/** Single shots since page load; lines leaving the log never lower it. */
let txCount = 0;
/** Periodic jobs currently listed. */
let periodicCount = 0;

/** The selected message source; an unknown value counts as the raw frame. */
function txMode() {
  const mode = $('#tx-mode').value;
  return Object.hasOwn(TX_VERBS, mode) ? mode : 'raw';
}

/** True when the "Periodic" timing is selected. */
function periodic() {
  return document.querySelector('input[name="tx-timing"]:checked')?.value === 'periodic';
}

/** Shows the form of one source and hides the other three. */
function showTxForm(mode) {
  for (const name of Object.keys(TX_VERBS)) $(`#tx-${name}`).hidden = name !== mode;
}

function setTxMode(mode) {
  showTxForm(mode);
  updateSendLabel();
  if (mode === 'raw') $('#tx-id').focus();
}

function updateSendLabel() {
  const verb = TX_VERBS[txMode()];
  $('#tx-send').textContent = periodic() ? `Start periodic ${verb}` : `Send ${verb}`;
}

/** After a change of timing: the interval is usable, and drawn at full strength, only for periodic sends. */
function syncTxTiming() {
  const on = periodic();
  $('#tx-interval').disabled = !on;
  $('.tx-layout').classList.toggle('period-off', !on);
  updateSendLabel();
}

/** A field's text, or its placeholder while it is empty. */
function textOrPlaceholder(input) {
  return input.value || input.placeholder;
}

/** The transmit summary of the visible form; no field is validated. */
function txSummary() {
  const mode = txMode();
  if (mode === 'pdo') return `${$('#pdo-sel').value} → ${$('#pdo-node').value} · ${$('#pdo-signals').value}`;
  if (mode === 'canopen') {
    const command = $('#tx-cmd').value;
    const node = $('#tx-node').value;
    if (!command.startsWith('SDO')) return `${command} → ${node}`;
    return `${command} ${node} · ${$('#tx-index').value}:${$('#tx-sub').value} = ${$('#tx-value').value}`;
  }
  if (mode === 'dbc') return `${$('#tx-db').value} · ${$('#tx-msg').value}`;
  const id = textOrPlaceholder($('#tx-id')).replace(/^0x/i, '').toUpperCase();
  return `0x${id} · [${textOrPlaceholder($('#tx-dlc'))}] ${textOrPlaceholder($('#tx-data')).toUpperCase()}`;
}

/** The data field's placeholder shows as many "00" bytes as the DLC asks for, 0 to 8. */
function updateDataPlaceholder() {
  const dlc = $('#tx-dlc');
  const count = parseInt(dlc.value || dlc.placeholder || '0', 10);
  const bytes = Number.isNaN(count) ? 0 : Math.min(8, Math.max(0, count));
  $('#tx-data').placeholder = Array.from({ length: bytes }, () => '00').join(' ');
}

const HEX_DIGIT = /[0-9a-f]/i;

/**
 * Keeps a hex-bytes field as pairs of digits separated by single blanks,
 * in the case typed. The caret stays after the same number of digits, so
 * deleting the blank between two bytes only moves the caret before it. An
 * unchanged text is left alone, caret and selection included.
 */
function formatHexBytesField(input) {
  const text = input.value;
  const caret = input.selectionStart ?? text.length;
  let digitsBefore = 0;
  for (const char of text.slice(0, caret)) if (HEX_DIGIT.test(char)) digitsBefore += 1;
  const formatted = text.replace(/[^0-9a-f]/gi, '').replace(/(..)/g, '$1 ').trimEnd();
  if (formatted === text) return;
  input.value = formatted;
  // Digit k sits at k + floor(k / 2): one blank after every pair.
  const at = digitsBefore === 0 ? 0 : digitsBefore + Math.floor((digitsBefore - 1) / 2);
  input.setSelectionRange(at, at);
}

/** In listen-only mode the banner shows and nothing can be sent. */
function syncTxListen() {
  const listen = listenOnly();
  $('#listen-banner').hidden = !listen;
  $('#tx-send').disabled = listen;
}

/** Simulates sending the composed frame: a job row when periodic, else a log line. Nothing in listen-only mode. */
function sendTx() {
  if (listenOnly()) return;
  const summary = txSummary();
  if (periodic()) addPeriodicJob($('#tx-interval').value, summary);
  else logTx(summary);
}

/** Lists a periodic job unless one with the same interval and summary is listed already. */
function addPeriodicJob(interval, summary) {
  const list = $('#periodic-list');
  const key = `${interval}|${summary}`;
  // Compared as data, never put into a selector: the key holds typed text.
  if ([...list.querySelectorAll('.job-row')].some((row) => row.dataset.key === key)) return;
  $('#periodic-empty')?.remove();
  const row = el('li', { class: 'job-row', dataset: { key } },
    el('span', { class: 'job-text', text: `every ${interval} ms · TX · ${summary}` }),
    el('button', { type: 'button', class: 'secondary stop-btn', text: 'Stop', onclick: () => stopPeriodicJob(row) }));
  list.prepend(row);
  periodicCount += 1;
  $('#periodic-count').textContent = `${periodicCount} active`;
}

/** Removes a job row; the last one brings the placeholder back. A keyboard user keeps a focus in the list. */
function stopPeriodicJob(row) {
  if (!row.isConnected) return;
  const list = $('#periodic-list');
  const hadFocus = row.contains(document.activeElement);
  const next = row.nextElementSibling ?? row.previousElementSibling;
  row.remove();
  periodicCount -= 1;
  $('#periodic-count').textContent = `${periodicCount} active`;
  if (periodicCount === 0) {
    list.replaceChildren(el('li', { id: 'periodic-empty', class: 'muted', text: 'No periodic jobs running.' }));
  }
  if (hadFocus) (next?.querySelector('.stop-btn') ?? $('#tx-send')).focus();
}

/** Adds a single shot to the top of the log; its line fades at 6 s and goes at 8 s. */
function logTx(summary) {
  const log = $('#tx-log');
  $('#tx-empty')?.remove();
  const line = el('li', {}, el('span', { class: 'tx-time', text: txTimestamp() }), ` · TX · ${summary}`);
  log.prepend(line);
  txCount += 1;
  $('#tx-count').textContent = `${txCount} sent`;
  setTimeout(() => line.classList.add('fading'), TX_LOG_TTL_MS - TX_LOG_FADE_MS);
  setTimeout(() => {
    line.remove();
    if (!log.children.length) log.replaceChildren(el('li', { id: 'tx-empty', class: 'muted', text: 'No frames sent yet.' }));
  }, TX_LOG_TTL_MS);
}

/** "Node 1 (0x01)": how the transmit forms name a loaded EDS file. */
function nodeLabel(device) {
  return `${device.node} (${device.nodeId})`;
}

/** "RPDO1 (0x200)": text and value of an RPDO's option. */
function rpdoLabel(rpdo) {
  return `${rpdo.name} (${rpdo.cob})`;
}

/** Rebuilds the node, database and message selects and the PDO form from the loaded files. */
function renderTxSources() {
  const labels = loaded.eds.map(nodeLabel);
  for (const select of [$('#pdo-node'), $('#tx-node')]) {
    fillSelect(select, labels.length ? labels.map((label) => option(label)) : [option('No EDS node loaded', '')]);
  }
  fillSelect($('#tx-db'), loaded.dbc.length ? loaded.dbc.map((item) => option(item.file)) : [option('No DBC loaded', '')]);
  updateDbcMessages();
  updatePdoForm();
}

/** The messages of the selected database, the first one selected after every rebuild. */
function updateDbcMessages() {
  const file = loaded.dbc.find((item) => item.file === $('#tx-db').value);
  const messages = file?.messages ?? [];
  $('#tx-msg').replaceChildren(...(messages.length
    ? messages.map((message) => option(message))
    : [option('Load a DBC file to select messages', '')]));
  $('#tx-msg').selectedIndex = 0;
}

/** The loaded EDS file chosen in the PDO form, or null. */
function pdoDevice() {
  const value = $('#pdo-node').value;
  return loaded.eds.find((item) => nodeLabel(item) === value) ?? null;
}

/** Rebuilds the RPDO select for the chosen node, keeping the choice while offered, then the mapping editor. */
function updatePdoForm() {
  const rpdos = pdoDevice()?.rpdos ?? [];
  fillSelect($('#pdo-sel'), rpdos.length ? rpdos.map((rpdo) => option(rpdoLabel(rpdo))) : [option('No RPDO mapping', '')]);
  renderPdoMapping();
}

/** The chosen EDS file and RPDO record; either may be null. */
function currentRpdo() {
  const device = pdoDevice();
  const value = $('#pdo-sel').value;
  const rpdo = device?.rpdos?.find((item) => rpdoLabel(item) === value) ?? null;
  return { device, rpdo };
}

/**
 * The RPDO's mapping entries. On first use they are read from the "Mapped
 * object" leaves of its mapping group (packed 0xIIIISSLL: index, sub-index,
 * length in bits; the length is dropped) and kept on the record; from then on
 * only the mapping editor changes them.
 */
function rpdoEntries(device, rpdo) {
  if (!Array.isArray(rpdo.entries)) {
    const group = findGroup(device, (node) => String(node.label).includes(rpdo.mapIndex));
    const entries = [];
    for (const child of group?.children ?? []) {
      if (Array.isArray(child.children) || !String(child.name).startsWith('Mapped object')) continue;
      const packed = String(child.value).replace(/^0x/i, '');
      entries.push({ idx: `0x${packed.slice(0, 4)}`, sub: packed.slice(4, 6) });
    }
    rpdo.entries = entries;
  }
  return rpdo.entries;
}

/** Leaf key of a mapping entry. */
function entryKey(entry) {
  return `${entry.idx}:${entry.sub}`.toLowerCase();
}

/** "Controlword=0x000F, Target torque=0x0000" from the leaves' current values; an unknown object by its index. */
function composeRpdoSignals(device, rpdo) {
  const index = buildLeafIndex(device);
  return rpdoEntries(device, rpdo).map((entry) => {
    const leaf = index.get(entryKey(entry));
    return leaf ? `${leaf.name}=${leaf.value}` : `${entry.idx}:${entry.sub}`;
  }).join(', ');
}

/**
 * The mapping editor of the chosen RPDO: one row per entry with a remove
 * button, and the objects that may still be mapped (writable, not text, not
 * mapped yet, index 0x2000 or above: the communication area never offers any).
 */
function renderPdoMapping() {
  const list = $('#pdo-mapping');
  const add = $('#pdo-add');
  const addButton = $('#pdo-add-btn');
  const { device, rpdo } = currentRpdo();
  if (!device || !rpdo) {
    list.replaceChildren(el('li', { class: 'muted', text: 'No RPDO mapping for this node.' }));
    add.replaceChildren(option('—', ''));
    add.disabled = true;
    addButton.disabled = true;
    $('#pdo-signals').value = '';
    return;
  }

  const index = buildLeafIndex(device);
  const entries = rpdoEntries(device, rpdo);
  const rows = entries.map((entry, at) => {
    const key = `${entry.idx}:${entry.sub}`;
    const leaf = index.get(entryKey(entry));
    return el('li', { class: 'pdo-map-row' },
      el('span', { class: 'pdo-map-obj', text: leaf ? `${key} · ${leaf.name} = ${leaf.value}` : key }),
      el('button', {
        type: 'button',
        class: 'icon-btn pdo-map-remove',
        title: 'Remove from mapping',
        'aria-label': `Remove ${key} from mapping`,
        text: '✕\uFE0E',
        onclick: (event) => removePdoEntry(entries, at, event.currentTarget),
      }));
  });
  list.replaceChildren(...(rows.length
    ? rows
    : [el('li', { class: 'muted', text: 'Mapping is empty — add an object below.' })]));

  const mapped = new Set(entries.map(entryKey));
  const candidates = [...index].filter(([key, leaf]) => leaf.access !== 'ro'
    && !/str/i.test(leaf.type)
    && !mapped.has(key)
    && parseInt(leaf.idx, 16) >= 0x2000);
  add.replaceChildren(...(candidates.length
    ? candidates.map(([key, leaf]) => option(`${leaf.idx}:${leaf.sub} · ${leaf.name}`, key))
    : [option('All writable objects mapped', '')]));
  add.selectedIndex = 0;
  add.disabled = !candidates.length;
  addButton.disabled = !candidates.length;
  $('#pdo-signals').value = composeRpdoSignals(device, rpdo);
}

/** Deletes one mapping entry; a focused remove button hands the focus to its neighbour. */
function removePdoEntry(entries, at, button) {
  const hadFocus = button === document.activeElement;
  entries.splice(at, 1);
  renderPdoMapping();
  if (!hadFocus) return;
  const buttons = document.querySelectorAll('#pdo-mapping .pdo-map-remove');
  (buttons[Math.min(at, buttons.length - 1)] ?? $('#pdo-add')).focus();
}

/** Appends the object chosen in `#pdo-add` to the chosen RPDO's mapping. */
function mapPdoObject() {
  const { device, rpdo } = currentRpdo();
  const key = $('#pdo-add').value;
  if (!device || !rpdo || !key) return;
  const colon = key.indexOf(':');
  rpdoEntries(device, rpdo).push({ idx: key.slice(0, colon), sub: key.slice(colon + 1) });
  renderPdoMapping();
}

function wireTransmit() {
  $('#tx-mode').addEventListener('change', () => setTxMode(txMode()));
  for (const radio of document.querySelectorAll('input[name="tx-timing"]')) {
    radio.addEventListener('change', () => syncTxTiming());
  }
  $('#tx-dlc').addEventListener('input', () => updateDataPlaceholder());
  // Rewriting the text in the middle of an input-method composition would
  // break it; the composed text is formatted once the composition ends.
  $('#tx-data').addEventListener('input', (event) => event.isComposing || formatHexBytesField(event.target));
  $('#tx-data').addEventListener('compositionend', (event) => formatHexBytesField(event.target));
  $('#tx-send').addEventListener('click', () => sendTx());
  $('#tx-db').addEventListener('change', () => updateDbcMessages());
  $('#pdo-node').addEventListener('change', () => updatePdoForm());
  $('#pdo-sel').addEventListener('change', () => renderPdoMapping());
  $('#pdo-add-btn').addEventListener('click', () => mapPdoObject());
  // A browser that restores form controls on reload may bring back another
  // source or timing: the forms, the interval and the label follow the controls.
  showTxForm(txMode());
  syncTxTiming();
}

// ── DAQ view ──
// A simulated XCP-on-CAN master working against the loaded A2L files: the
// user binds measurements to an ECU event channel (DAQ) or to polling with
// SHORT_UPLOAD, connects, starts and stops acquisition, exports the samples
// as CSV and uses the manual memory access and seed & key unlock. Values are
// a fixed function of the measurement's name and a shared tick counter, so
// the view is repeatable; they move only while acquisition runs. Nothing is
// sent anywhere.

/** Samples kept per row: the trend length and the number of CSV data lines. */
const DAQ_TREND_POINTS = 48;
/** Period of the acquisition timer. */
const DAQ_TICK_MS = 250;
/** Simulated bus budget; a configured rate above it makes the ECU report overrun. */
const DAQ_MAX_DTO_PER_S = 2000;
/** Event value of a polled (SHORT_UPLOAD) row. */
const POLL_EVENT = 'poll';
/** Entries kept in the XCP log. */
const XCP_LOG_LIMIT = 300;
/** Address shown for a measurement that has none. */
const XCP_DEFAULT_ADDR = '0x20000000';
const DAQ_CSV_NAME = 'quillcan-daq.csv';
/** The sample seed every GET_SEED answers with. */
const XCP_SAMPLE_SEED = '6D 2F B8 14';

/** The DAQ rows in the order added. */
const daqList = [];

/** Connection, acquisition timer, shared sample counter, overrun count and the log (newest first). */
const xcpState = { connected: false, running: false, timer: null, tick: 0, overrun: 0, log: [], showPolls: true };

function measurementKey(file, name) {
  return `${file}:${name}`;
}

const daqRowKey = (item) => measurementKey(item.file, item.name);
const daqAddr = (item) => item.addr ?? XCP_DEFAULT_ADDR;

/** A decimal number text ("2480.0", "-3.5", "1e3") as a number; anything else is 0. */
function daqParseDecimal(text) {
  const trimmed = String(text ?? '').trim();
  return /^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i.test(trimmed) ? Number(trimmed) : 0;
}

/**
 * Whether a Sample (ms) text is a usable polling period: a positive number
 * whose share of the DTO rate (1000 / period) is finite. Anything else would
 * put an unbounded, negative or non-numeric rate into the status strip.
 */
function daqPeriodValid(text) {
  if (String(text).trim() === '') return false;
  const period = Number(text);
  return Number.isFinite(period) && period > 0 && Number.isFinite(1000 / period);
}

/** Every measurement ("DAQ" leaf, at any depth) of every loaded A2L file, in file and tree order. */
function xcpMeasurements() {
  const found = [];
  for (const device of loaded.xcp) {
    const walk = (nodes) => {
      for (const node of nodes) {
        if (isGroup(node)) walk(node.children);
        else if (node.idx === 'DAQ') {
          found.push({ file: device.file, name: node.name, value: node.value, unit: node.unit, addr: node.addr,
            type: node.type, amp: node.amp ?? 1 });
        }
      }
    };
    walk(device.children ?? []);
  }
  return found;
}

/**
 * Unsigned 32-bit hash of a text: h = h × 31 + c over its characters, c being
 * the character's first UTF-16 code unit (the leading surrogate of a
 * character outside the Basic Multilingual Plane).
 */
function daqSeed(name) {
  let h = 0;
  for (const character of String(name)) h = (Math.imul(h, 31) + character.charCodeAt(0)) >>> 0;
  return h;
}

/** A row's value at a tick: two sines around its base, phased by the name's hash. */
function daqSampleAt(item, tick) {
  const s = daqSeed(item.name);
  const t = tick + (s % 97);
  return item.base + item.amp * (0.7 * Math.sin(t / 6) + 0.3 * Math.sin(t / 2.3 + s));
}

/** Fills a new row with the samples of ticks −48 … −1 and their least and greatest. */
function daqSeedSamples(item) {
  item.samples = [];
  for (let tick = -DAQ_TREND_POINTS; tick < 0; tick++) item.samples.push(daqSampleAt(item, tick));
  item.min = Math.min(...item.samples);
  item.max = Math.max(...item.samples);
  return item;
}

/** One decimal from a magnitude of 100 on, else two. */
function daqFormat(value) {
  return value.toFixed(Math.abs(value) >= 100 ? 1 : 2);
}

/** The four little-endian bytes of the value as an IEEE-754 single ("00 00 1B 45" for 2480). */
function daqRawHex(value) {
  const view = new DataView(new ArrayBuffer(4));
  view.setFloat32(0, value, true);
  return [0, 1, 2, 3].map((i) => hexByte(view.getUint8(i))).join(' ');
}

const DAQ_SPARK_W = 96;
const DAQ_SPARK_H = 18;

/** The polyline points of the trend: "x,y" pairs with one decimal, scaled to the samples given. */
function daqSparkPoints(samples) {
  let lo = Math.min(...samples);
  let hi = Math.max(...samples);
  if (hi - lo < 1e-9) {
    lo -= 1;
    hi += 1;
  }
  const n = samples.length;
  return samples.map((v, i) => {
    const x = n > 1 ? (i / (n - 1)) * DAQ_SPARK_W : 0;
    const y = 1.5 + (1 - (v - lo) / (hi - lo)) * (DAQ_SPARK_H - 3);
    return `${x.toFixed(1)},${y.toFixed(1)}`;
  }).join(' ');
}

/** The trend line: an svg of 96 × 18 holding one polyline scaled to the samples on show. */
function daqSparkline(samples) {
  return svg('svg', { viewBox: `0 0 ${DAQ_SPARK_W} ${DAQ_SPARK_H}`, preserveAspectRatio: 'none', 'aria-hidden': 'true' },
    svg('polyline', { points: daqSparkPoints(samples) }));
}

/** The loaded A2L file of that name, or null. */
function daqDevice(file) {
  return loaded.xcp.find((device) => device.file === file) ?? null;
}

/** Puts an entry on top of the log without rendering it; the oldest go beyond the limit. */
function pushXcpEntry(dir, summary, detail, poll) {
  const entry = { at: txTimestamp(), dir, summary, poll: Boolean(poll) };
  if (detail !== undefined && detail !== null && detail !== '') entry.detail = detail;
  xcpState.log.unshift(entry);
  if (xcpState.log.length > XCP_LOG_LIMIT) xcpState.log.length = XCP_LOG_LIMIT;
}

function xcpLog(dir, summary, detail, poll = false) {
  pushXcpEntry(dir, summary, detail, poll);
  renderXcpLog();
}

function renderXcpLog() {
  const log = xcpState.log;
  const shown = xcpState.showPolls ? log : log.filter((entry) => !entry.poll);
  const hidden = log.length - shown.length;
  setText($('#daq-log-count'), plural(shown.length, 'entry', 'entries')
    + (hidden > 0 ? ` · ${plural(hidden, 'poll')} hidden` : ''));
  $('#daq-log-clear').disabled = log.length === 0;
  const polls = $('#daq-log-polls');
  polls.setAttribute('aria-pressed', String(xcpState.showPolls));
  polls.title = xcpState.showPolls
    ? 'Hide the live sample lines and show commands only'
    : 'Show the live sample lines merged into the log';
  if (!shown.length) {
    $('#daq-log').replaceChildren(el('li', { id: 'daq-log-empty', class: 'muted', text: 'No XCP activity yet.' }));
    return;
  }
  syncChildren($('#daq-log'), shown.map(xcpLogLine));
}

/**
 * The line of a log entry. Entries never change, so each entry's line is made
 * once and reused: a tick then only makes the lines of its new samples.
 */
const xcpLogLines = new WeakMap();

function xcpLogLine(entry) {
  let line = xcpLogLines.get(entry);
  if (!line) {
    line = el('li', { class: 'daq-log-line' },
      el('span', { class: 'tx-time', text: entry.at }),
      el('span', { class: `daq-dir ${entry.dir.toLowerCase()}`, text: entry.dir }),
      el('span', { class: 'daq-summary', text: entry.summary }),
      entry.detail !== undefined && el('span', { class: 'daq-detail', text: entry.detail }));
    xcpLogLines.set(entry, line);
  }
  return line;
}

function daqMode() {
  return daqList.some((item) => item.event !== POLL_EVENT) ? 'DAQ' : 'POLLING';
}

/**
 * The configured DTO rate per second: 1000 / period summed over the rows. A
 * period that is not a usable number counts nothing; adding such a row is
 * refused anyway, so this only keeps the figure finite and non-negative.
 */
function daqDtoRate() {
  let rate = 0;
  for (const item of daqList) if (daqPeriodValid(item.rate)) rate += 1000 / Number(item.rate);
  return Math.round(rate);
}

function renderDaqStatus() {
  const { connected, running } = xcpState;
  const first = loaded.xcp[0];
  const listen = listenOnly();

  $('#daq-xcp-dot').className = running ? 'dot live' : connected ? 'dot ready' : 'dot';
  setText($('#daq-xcp-state'), running ? 'XCP acquiring' : connected ? 'XCP connected' : 'XCP disconnected');
  $('#daq-panel .daq-conn').classList.toggle('on', connected);

  setText($('#daq-ids'), first ? `CRO ${first.cro} → DTO ${first.dto}` : 'CRO — → DTO —');

  if (!first) setText($('#daq-a2l'), 'No A2L');
  else {
    const files = loaded.xcp.length === 1 ? first.file : `${loaded.xcp.length} A2L`;
    setText($('#daq-a2l'), `${files} · ${plural(xcpMeasurements().length, 'measurement')}`);
  }

  const mode = daqMode();
  const tag = $('#daq-mode');
  setText(tag, mode);
  tag.className = `tag daq-mode ${mode.toLowerCase()}`;

  const stats = $('#daq-stats');
  setText(stats, `${running ? daqDtoRate() : 0} DTO/s · ${xcpState.overrun} overrun`);
  stats.classList.toggle('overrun', xcpState.overrun > 0);

  const connect = $('#daq-connect');
  setText(connect, connected ? 'Disconnect XCP' : 'Connect XCP');
  connect.disabled = !first || listen || running;

  const run = $('#daq-run');
  setText(run, running ? '■ Stop acquisition' : '▶ Start acquisition');
  run.classList.toggle('running', running);
  run.disabled = listen || !connected || !daqList.length;

  $('#daq-export').disabled = !daqList.length;

  for (const id of ['xcp-up-read', 'xcp-dn-write', 'xcp-seed-get', 'xcp-unlock']) {
    $(`#${id}`).disabled = listen || !connected;
  }
}

function renderDaqSources() {
  const select = $('#daq-measure');
  const taken = new Set(daqList.map(daqRowKey));
  const available = xcpMeasurements().filter((m) => !taken.has(daqRowKey(m)));
  fillSelect(select, available.length
    ? available.map((m) => option(`${m.name} · ${m.file} · ${m.addr} ${m.type}`, daqRowKey(m)))
    : [option('All measurements acquired', '')]);
  const anyA2l = loaded.xcp.length > 0;
  $('#daq-empty-xcp').hidden = anyA2l;
  select.disabled = !anyA2l || !available.length;
  renderDaqEvents();
  renderDaqStatus();
}

/** The A2L file the event selector is built for: the selected measurement's, else the first loaded. */
function daqEventDevice() {
  const key = $('#daq-measure').value;
  return key ? daqDevice(key.slice(0, key.indexOf(':'))) : (loaded.xcp[0] ?? null);
}

function renderDaqEvents() {
  const select = $('#daq-event');
  const device = daqEventDevice();
  const events = device?.events ?? [];
  const options = events.map((event) => option(`${event.name} · ${event.cycle} ms`, event.name));
  options.push(option('Polling (SHORT_UPLOAD)', POLL_EVENT));
  // A fresh selector starts on the usual 10 ms raster when the file has one.
  const usual = events.find((event) => event.cycle === 10)?.name;
  fillSelect(select, options, usual);
  select.disabled = !device;
  syncDaqRate();
}

/** An event channel fixes the sample period: the field mirrors its cycle and locks; polling unlocks it. */
function syncDaqRate() {
  const rate = $('#daq-rate');
  const event = daqEventDevice()?.events.find((e) => e.name === $('#daq-event').value);
  if (event) {
    rate.value = String(event.cycle);
    rate.disabled = true;
  } else {
    rate.disabled = !loaded.xcp.length;
  }
  syncDaqAdd();
}

/** Whether the add form, as filled in, describes a polled row with an unusable period. */
function daqPeriodRefused() {
  return $('#daq-event').value === POLL_EVENT && !$('#daq-rate').disabled && !daqPeriodValid($('#daq-rate').value);
}

/**
 * Marks an unusable polling period on its field and disables "＋ Add to DAQ"
 * for it, as well as without an A2L file, without a measurement to add and in
 * listen-only mode.
 */
function syncDaqAdd() {
  const refused = daqPeriodRefused();
  $('#daq-rate').classList.toggle('invalid', refused);
  $('#daq-add').disabled = !loaded.xcp.length || !$('#daq-measure').value || listenOnly() || refused;
}

function daqCountLabel() {
  if (!daqList.length) return '0 signals';
  const eventRows = daqList.filter((item) => item.event !== POLL_EVENT);
  const lists = new Set(eventRows.map((item) => JSON.stringify([item.file, item.event]))).size;
  const polled = daqList.length - eventRows.length;
  return plural(daqList.length, 'signal')
    + (lists > 0 ? ` · ${plural(lists, 'DAQ list')}` : '')
    + (polled > 0 ? ` · ${polled} polled` : '');
}

/**
 * The elements of each DAQ row: the row, its cells and its two buttons, made
 * when the row is first rendered and kept while it is listed. Every render
 * writes all cells anew from the row's state. The list re-renders four times
 * a second while acquiring: buttons rebuilt between the press and the release
 * of a click would swallow the click (and drop the keyboard focus), and
 * rebuilding every cell element each tick costs far more layout time than
 * writing their texts.
 */
const daqRowElements = new WeakMap();

function daqRowElement(item) {
  let parts = daqRowElements.get(item);
  if (parts) return parts;
  const name = item.name;
  const cell = (cls) => el('div', { class: cls });
  parts = {
    event: cell('daq-event-cell'), raw: cell('daq-raw'), phys: cell('daq-phys'), unit: cell('daq-unit'),
    min: cell('daq-min'), max: cell('daq-max'), trend: cell('daq-trend'),
  };
  parts.trend.append(daqSparkline(item.samples));
  parts.line = parts.trend.querySelector('polyline');
  const reset = el('button', { class: 'secondary', type: 'button', title: 'Reset min / max',
    'aria-label': `Reset min/max for ${name}`, text: '⟲', onclick: () => resetDaqRow(item) });
  const remove = el('button', { class: 'secondary stop-btn', type: 'button', title: 'Remove from DAQ list',
    'aria-label': `Remove ${name}`, text: '✕', onclick: () => removeDaqRow(item) });
  parts.row = el('li', { dataset: { key: daqRowKey(item) } },
    el('div', { class: 'daq-name-cell' }, el('span', { class: 'daq-name', text: name }), el('span', { class: 'daq-file', text: item.file })),
    parts.event, parts.raw, parts.phys, parts.unit, parts.min, parts.max, parts.trend,
    el('div', { class: 'daq-tools' }, reset, remove));
  daqRowElements.set(item, parts);
  return parts;
}

function resetDaqRow(item) {
  if (!daqList.includes(item)) return;
  const value = item.samples[item.samples.length - 1];
  item.min = value;
  item.max = value;
  renderDaqList();
}

function removeDaqRow(item) {
  const index = daqList.indexOf(item);
  if (index < 0) return;
  daqList.splice(index, 1);
  if (xcpState.running) {
    xcpLog('CRO', 'WRITE_DAQ', `drop ${item.name}`);
    if (!daqList.length) stopDaq();
  }
  renderDaqList();
  renderDaqSources();
}

function renderDaqList() {
  setText($('#daq-count'), daqCountLabel());
  $('#daq-panel .daq-cols').hidden = !daqList.length;
  const list = $('#daq-list');
  if (!daqList.length) {
    list.replaceChildren(el('li', { id: 'daq-empty', class: 'muted', text: 'No measurements in the DAQ list.' }));
    renderDaqStatus();
    return;
  }
  const rows = daqList.map((item) => {
    const parts = daqRowElement(item);
    const value = item.samples[item.samples.length - 1];
    parts.row.className = xcpState.running ? 'daq-row' : 'daq-row stale';
    setText(parts.event, `${item.event === POLL_EVENT ? 'poll' : item.event} · ${item.rate} ms`);
    setText(parts.raw, daqRawHex(value));
    setText(parts.phys, daqFormat(value));
    setText(parts.unit, item.unit ?? '');
    setText(parts.min, daqFormat(item.min));
    setText(parts.max, daqFormat(item.max));
    const points = daqSparkPoints(item.samples);
    if (parts.line.getAttribute('points') !== points) parts.line.setAttribute('points', points);
    return parts.row;
  });
  syncChildren(list, rows);
  renderDaqStatus();
}

const daqPtr = (index) => ['CRO', 'SET_DAQ_PTR', `daq ${index} · odt 0 · entry 0`];
const daqWrite = (item) => ['CRO', 'WRITE_DAQ', `${item.name} @ ${daqAddr(item)} · ${item.type}`];

function addDaq() {
  if (listenOnly()) return;
  const key = $('#daq-measure').value;
  if (!key || daqList.some((item) => daqRowKey(item) === key)) return;
  const measurement = xcpMeasurements().find((m) => daqRowKey(m) === key);
  if (!measurement || daqPeriodRefused()) return;
  const item = daqSeedSamples({ ...measurement, base: daqParseDecimal(measurement.value),
    event: $('#daq-event').value, rate: $('#daq-rate').value });
  daqList.push(item);
  if (xcpState.running) {
    for (const entry of [daqPtr(daqList.length - 1), daqWrite(item), ['RES', 'OK']]) pushXcpEntry(...entry);
    renderXcpLog();
  }
  renderDaqList();
  renderDaqSources();
}

function connectXcp() {
  if (listenOnly() || !loaded.xcp.length) {
    renderDaqStatus();
    return;
  }
  if (!xcpState.connected) {
    const events = loaded.xcp.reduce((sum, device) => sum + (device.events?.length ?? 0), 0);
    pushXcpEntry('CRO', 'CONNECT', 'mode 0');
    pushXcpEntry('RES', 'OK', 'resource CAL/PAG DAQ · MAX_CTO 8 · MAX_DTO 8 · XCP 1.4');
    pushXcpEntry('CRO', 'GET_DAQ_PROCESSOR_INFO');
    pushXcpEntry('RES', 'OK', `dynamic DAQ · ${events} events · timestamp 4 B`);
    xcpState.connected = true;
  } else {
    if (xcpState.running) stopDaq();
    pushXcpEntry('CRO', 'DISCONNECT');
    pushXcpEntry('RES', 'OK');
    xcpState.connected = false;
  }
  renderXcpLog();
  renderDaqStatus();
}

function startDaq() {
  if (!xcpState.connected || !daqList.length || xcpState.running) return;
  xcpState.running = true;
  xcpState.overrun = 0;
  const eventRows = daqList.filter((item) => item.event !== POLL_EVENT);
  const events = [...new Set(eventRows.map((item) => item.event))];
  pushXcpEntry('CRO', 'FREE_DAQ');
  if (eventRows.length) pushXcpEntry('CRO', 'ALLOC_DAQ', plural(events.length, 'list'));
  daqList.forEach((item, index) => {
    if (item.event === POLL_EVENT) return;
    pushXcpEntry(...daqPtr(index));
    pushXcpEntry(...daqWrite(item));
  });
  events.forEach((event, j) => pushXcpEntry('CRO', 'SET_DAQ_LIST_MODE', `daq ${j} → ${event} · timestamp`));
  pushXcpEntry('CRO', 'START_STOP_SYNCH', 'start selected');
  pushXcpEntry('RES', 'OK', eventRows.length ? 'first PID 0x10' : undefined);
  renderXcpLog();
  xcpState.timer = setInterval(tickDaq, DAQ_TICK_MS);
  renderDaqList();
}

function stopDaq() {
  if (!xcpState.running) return;
  clearInterval(xcpState.timer);
  xcpState.timer = null;
  xcpState.running = false;
  pushXcpEntry('CRO', 'START_STOP_SYNCH', 'stop all');
  pushXcpEntry('RES', 'OK');
  renderXcpLog();
  renderDaqList();
}

/** One acquisition step: one sample per row, one log line per sample, the overrun check. */
function tickDaq() {
  if (!xcpState.running) return;
  xcpState.tick += 1;
  for (const item of daqList) {
    const value = daqSampleAt(item, xcpState.tick);
    item.samples.push(value);
    if (item.samples.length > DAQ_TREND_POINTS) item.samples.shift();
    if (value < item.min) item.min = value;
    if (value > item.max) item.max = value;
    const polled = item.event === POLL_EVENT;
    pushXcpEntry(polled ? 'RES' : 'DAQ', `${item.name} = ${daqFormat(value)}${item.unit ? ` ${item.unit}` : ''}`,
      `${polled ? 'SHORT_UPLOAD' : 'DAQ'} ${daqAddr(item)} · ${daqRawHex(value)}`, true);
  }
  renderXcpLog();
  const rate = daqDtoRate();
  if (rate > DAQ_MAX_DTO_PER_S) {
    xcpState.overrun += 1;
    if (xcpState.overrun === 1) xcpLog('EV', 'EV_DAQ_OVERLOAD', `${rate} DTO/s exceeds the bus budget`);
  }
  renderDaqList();
}

function exportDaqCsv() {
  if (!daqList.length) return;
  const header = ['sample', ...daqList.map((item) => (item.unit ? `${item.name} [${item.unit}]` : item.name))];
  const lines = [header.join(',')];
  for (let i = 0; i < DAQ_TREND_POINTS; i++) {
    lines.push([i, ...daqList.map((item) => daqFormat(item.samples[i] ?? item.samples[item.samples.length - 1]))].join(','));
  }
  const url = URL.createObjectURL(new Blob([lines.join('\n')], { type: 'text/csv' }));
  el('a', { href: url, download: DAQ_CSV_NAME }).click();
  URL.revokeObjectURL(url);
  xcpLog('EV', 'EXPORT', `${DAQ_TREND_POINTS} samples × ${plural(daqList.length, 'signal')} → ${DAQ_CSV_NAME}`);
}

/** A field's text, or its placeholder when it is empty. */
const xcpField = (id) => $(`#${id}`).value || $(`#${id}`).placeholder;

/** The memory commands and the unlock need a connection and are refused in listen-only mode. */
const xcpReady = () => xcpState.connected && !listenOnly();

function xcpUpload() {
  if (!xcpReady()) return;
  const addr = xcpField('xcp-up-addr');
  const lenText = xcpField('xcp-up-len').trim();
  const len = /^\d+$/.test(lenText) ? Number(lenText) : 0;
  if (!(len > 0)) return;
  const hash = daqSeed(addr);
  const bytes = [];
  for (let i = 0; i < Math.min(len, 8); i++) {
    bytes.push(hexByte((hash >>> (3 * i)) & 0xff));
  }
  pushXcpEntry('CRO', 'SET_MTA', `${addr} · ext 0`);
  pushXcpEntry('CRO', 'UPLOAD', `${len} B`);
  xcpLog('RES', 'OK', bytes.join(' '));
}

function xcpDownload() {
  if (!xcpReady()) return;
  const addr = xcpField('xcp-dn-addr');
  const data = xcpField('xcp-dn-data').trim().toUpperCase();
  if (!data) return;
  pushXcpEntry('CRO', 'SET_MTA', `${addr} · ext 0`);
  pushXcpEntry('CRO', 'DOWNLOAD', data);
  xcpLog('RES', 'OK');
}

function xcpGetSeed() {
  if (!xcpReady()) return;
  pushXcpEntry('CRO', 'GET_SEED', `resource ${xcpField('xcp-seed-res')}`);
  xcpLog('RES', 'OK', `seed ${XCP_SAMPLE_SEED}`);
}

function xcpUnlock() {
  if (!xcpReady()) return;
  const key = $('#xcp-key').value.trim().toUpperCase();
  if (!key) {
    xcpLog('ERR', 'ERR_SEQUENCE', 'compute the key from the seed first');
    return;
  }
  pushXcpEntry('CRO', 'UNLOCK', key);
  xcpLog('RES', 'OK', 'DAQ unlocked');
}

function wireDaq() {
  $('#daq-add').addEventListener('click', () => addDaq());
  $('#daq-measure').addEventListener('change', () => renderDaqEvents());
  $('#daq-event').addEventListener('change', () => syncDaqRate());
  $('#daq-rate').addEventListener('input', () => syncDaqAdd());
  $('#daq-connect').addEventListener('click', () => connectXcp());
  $('#daq-run').addEventListener('click', () => (xcpState.running ? stopDaq() : startDaq()));
  $('#daq-export').addEventListener('click', () => exportDaqCsv());
  $('#daq-log-clear').addEventListener('click', () => {
    xcpState.log.length = 0;
    renderXcpLog();
  });
  $('#daq-log-polls').addEventListener('click', () => {
    xcpState.showPolls = !xcpState.showPolls;
    renderXcpLog();
  });
  $('#xcp-up-read').addEventListener('click', () => xcpUpload());
  $('#xcp-dn-write').addEventListener('click', () => xcpDownload());
  $('#xcp-seed-get').addEventListener('click', () => xcpGetSeed());
  $('#xcp-unlock').addEventListener('click', () => xcpUnlock());
}

// The browser tests and the tick benchmark reach these on the page's own module.
export { daqSeed, daqSampleAt, daqSparkline, daqList, xcpState, connectXcp, tickDaq };

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
  renderSnifferRows();
  renderSnifferInspector();
}

/**
 * The receive row of each identifier, kept while the page lives: the filter
 * only takes rows out and puts them back. Every render writes its cells from
 * the aggregate, so a row always shows what a new one would.
 */
const snifferRowElements = new Map();

function snifferRow(row) {
  let tr = snifferRowElements.get(row.id);
  if (!tr) {
    tr = el('tr', { onclick: () => selectSnifferRow(row.id) },
      el('td', { class: 'time' }),
      el('td', { class: 'id' }),
      el('td', { class: 'event' }, el('span')),
      el('td', { class: 'dlc num' }),
      el('td', { class: 'payload' }),
      el('td', { class: 'num count-cell' }),
      el('td', { class: 'num' }));
    snifferRowElements.set(row.id, tr);
  }
  const [time, id, event, dlc, payload, count, period] = tr.children;
  if (tr.dataset.type !== row.type) tr.dataset.type = row.type;
  tr.classList.toggle('selected', row.id === snifferSelected);
  setText(time, row.t);
  setText(id, row.id);
  const chip = event.firstElementChild;
  const chipClass = `chip type-${row.type}`;
  if (chip.className !== chipClass) chip.className = chipClass;
  setText(chip, row.event);
  setText(dlc, String(row.dlc));
  setText(payload, row.data);
  setText(count, String(row.count));
  setText(period, snifferPeriod(row.id));
  return tr;
}

/** The receive table and its count, from the aggregate and the filter; a filter keystroke changes nothing else. */
function renderSnifferRows() {
  const query = $('#sniffer-filter').value.trim().toLowerCase();
  const shown = snifferAggregate().filter((row) =>
    [row.id, row.event, row.type, row.data].join(' ').toLowerCase().includes(query));
  setText($('#sniffer-count'), shown.length === 1 ? '1 ID' : `${shown.length} IDs`);
  syncChildren($('#sniffer-rows'), shown.map(snifferRow));
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
    el('dt', { text: 'Hex' }), el('dd', { text: `0x${hexByte(byte)}` }),
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

/** In listen-only mode no transmit row can be added. */
function syncSnifferTxListen() {
  $('#sniffer-tx-add').disabled = listenOnly();
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
  // The inspector shows the selected identifier whether the filter shows it or not.
  $('#sniffer-filter').addEventListener('input', () => renderSnifferRows());
  $('#sniffer-endian').addEventListener('change', () => renderSnifferInspector());
  snifferMult.addEventListener('input', () => renderSnifferInspector());
  $('#sniffer-tx-add').addEventListener('click', () => addSnifferTxRow());
}

// ── Plots view ──

// Eight chart pages of numeric signals taken from the loaded files. Every
// signal is a synthetic sine wave around its leaf's value, so a chart is a
// still, repeatable picture: it changes only with its settings, its signals
// and the size of the view. Charts are SVG, redrawn whole on every change;
// the canvas box itself is never rebuilt, so a drag's pointer capture
// survives the redraw that each pointer move triggers.

/** Series colours, handed out by catalogue position: the concept's --series-1 to --series-8. */
function plotPalette() {
  const tokens = getComputedStyle($('.app'));
  return Array.from({ length: 8 }, (_, i) => tokens.getPropertyValue(`--series-${i + 1}`).trim());
}
const PLOT_SAMPLES = 120;
/** Plot area margins inside the svg, in pixels. */
const PLOT_LEFT = 48;
const PLOT_RIGHT = 10;
const PLOT_TOP = 10;
const PLOT_BOTTOM = 26;
/** Drawing size while the panel is hidden and the svg has no size. */
const PLOT_FALLBACK_W = 600;
const PLOT_FALLBACK_H = 260;
const PLOT_ZOOM_MIN = 0.25;
const PLOT_ZOOM_MAX = 8;
const PLOT_ZOOM_BUTTON = 1.3;
const PLOT_ZOOM_WHEEL = 1.12;
/** Leaves with these names (compared in lower case) are bookkeeping, not measurements. */
const PLOT_SKIPPED_NAMES = new Set(['number of entries', 'device type', 'error register', 'controlword', 'statusword']);

/** The signal catalogue, in catalogue order; rebuilt by refreshPlotSignals. */
let plotSignals = derivePlotSignals();

/** The eight chart pages; each keeps its own settings while another is shown. */
const charts = Array.from({ length: 8 }, (_, i) => ({
  title: `Chart ${i + 1}`,
  assigned: [],
  window: 30,
  yrange: 'auto',
  thresholds: [],
  zoom: 1,
  panX: 0,
  panY: 0,
  tpp: 0,
  vpp: 0,
}));
charts[0].assigned.push('EngineStatus/EngineRPM', 'WheelSpeed/WheelSpeedFL');
charts[0].thresholds.push(2600);

let activeChart = 0;
/** The last pointer position of a grab-pan in progress, else null. */
let plotPan = null;
/** The svg size of the last drawing, so that a box resize redraws only when the size really changed. */
let plotDrawnSize = { width: 0, height: 0 };

/** The number a raw value text stands for ("0x"-prefixed hexadecimal or a leading decimal), or null. */
function plotValue(raw) {
  if (typeof raw !== 'string') return null;
  const text = raw.trim();
  let number;
  if (/^0x/i.test(text)) {
    const digits = /^0x([0-9a-f]+)/i.exec(text);
    number = digits ? parseInt(digits[1], 16) : NaN;
  } else {
    number = parseFloat(text);
  }
  return Number.isFinite(number) ? number : null;
}

/** Whether a leaf is worth trending: a numeric measurement outside any PDO mapping. */
function isPlottable(leaf, groupLabel) {
  if (/mapping/i.test(String(groupLabel ?? ''))) return false;
  if (PLOT_SKIPPED_NAMES.has(String(leaf.name ?? '').toLowerCase())) return false;
  if (!/^([uif]\d+|bool)$/i.test(String(leaf.type ?? ''))) return false;
  return plotValue(leaf.value) !== null;
}

/**
 * The signal catalogue of the loaded files: EDS nodes, then DBC messages,
 * then A2L groups, each list in load order and each tree depth-first. Colour,
 * frequency and phase follow a signal's position in the whole catalogue.
 */
function derivePlotSignals() {
  const palette = plotPalette();
  const signals = [];
  const add = (prefix, leaf) => {
    const i = signals.length;
    const base = plotValue(leaf.value);
    const key = `${prefix}/${leaf.name}`;
    signals.push({
      key,
      label: key,
      unit: leaf.unit ?? '',
      color: palette[i % palette.length],
      base,
      amp: Math.abs(base) > 1 ? Math.abs(base) * 0.12 : 1,
      freq: 0.04 + (i % 5) * 0.03,
      phase: (i % 7) * 0.5,
    });
  };
  // A leaf is judged with the label of the group that directly holds it.
  const walk = (nodes, groupLabel, prefix) => {
    for (const node of nodes ?? []) {
      if (isGroup(node)) walk(node.children, node.label, prefix);
      else if (isPlottable(node, groupLabel)) add(prefix, node);
    }
  };
  // DBC and A2L files: only leaves inside a top-level group count.
  const eachGroup = (file, prefixOf) => {
    for (const group of file.children ?? []) {
      if (isGroup(group)) walk(group.children, group.label, prefixOf(group));
    }
  };
  for (const file of loaded.eds) walk(file.children, file.label, file.node);
  for (const file of loaded.dbc) {
    eachGroup(file, (group) => {
      const cut = group.label.indexOf(' · ');
      return cut >= 0 ? group.label.slice(0, cut) : group.label;
    });
  }
  for (const file of loaded.xcp) {
    const prefix = file.file.replace(/\.a2l$/i, '');
    eachGroup(file, () => prefix);
  }
  return signals;
}

/** True while the Plots panel is on screen. */
function plotsVisible() {
  const panel = $('#plots-panel');
  return !panel.hidden && panel.getClientRects().length > 0;
}

/** Rebuilds the catalogue after a file load; assignments of keys that left it are dropped. */
function refreshPlotSignals() {
  plotSignals = derivePlotSignals();
  const keys = new Set(plotSignals.map((signal) => signal.key));
  for (const chart of charts) chart.assigned = chart.assigned.filter((key) => keys.has(key));
  if (plotsVisible()) renderPlot();
}

/** Takes up the series colours of the concept on show, when they differ from the catalogue's. */
function followPlotColours() {
  const palette = plotPalette();
  if (plotSignals.some((signal, i) => signal.color !== palette[i % palette.length])) refreshPlotSignals();
}

/** The signal a key names; with duplicate keys the first one in the catalogue. */
function plotSignal(key) {
  return plotSignals.find((signal) => signal.key === key) ?? null;
}

/** 120 (time, value) points of a signal over a window of `seconds`. */
function sampleSignal(sig, seconds) {
  const points = [];
  for (let i = 0; i < PLOT_SAMPLES; i += 1) {
    const t = (i / (PLOT_SAMPLES - 1)) * seconds;
    points.push({ t, v: sig.base + sig.amp * Math.sin(2 * Math.PI * sig.freq * t + sig.phase) });
  }
  return points;
}

/** Text of a value-axis label: "3.1k", "555", "0.6". */
function plotTickLabel(v) {
  const size = Math.abs(v);
  if (size >= 1000) return `${(v / 1000).toFixed(1)}k`;
  if (size >= 10) return v.toFixed(0);
  return v.toFixed(1);
}

/** Integral coordinates as they are, any other with one decimal. */
function plotCoord(n) {
  return Number.isInteger(n) ? String(n) : n.toFixed(1);
}

/** The svg's rendered size in whole pixels, or the fallback size while it has none. */
function plotSize(chartSvg) {
  // A hidden chart has no size; asking for it would lay out the whole page
  // (at start-up, before the rest of the page is rendered).
  if (chartSvg.closest('[hidden]')) return { width: PLOT_FALLBACK_W, height: PLOT_FALLBACK_H };
  const box = chartSvg.getBoundingClientRect();
  return { width: Math.round(box.width) || PLOT_FALLBACK_W, height: Math.round(box.height) || PLOT_FALLBACK_H };
}

/**
 * The visible part [lo, hi] of a base range at a zoom, centred on the base
 * range's middle moved by `pan`, and the pan after clamping. At zoom 1 the
 * view is the base range and the pan 0. Zoomed in, the pan keeps the view
 * inside the base range; zoomed out, it keeps the whole base range inside the
 * view, so the smaller picture can be moved around but never out of sight.
 */
function plotViewRange(lo, hi, zoom, pan) {
  if (zoom === 1) return { lo, hi, pan: 0 };
  const half = (hi - lo) / 2;
  const limit = half * Math.abs(1 - 1 / zoom);
  const clamped = Math.min(limit, Math.max(-limit, Number.isFinite(pan) ? pan : 0));
  const mid = (lo + hi) / 2 + clamped;
  return { lo: mid - half / zoom, hi: mid + half / zoom, pan: clamped };
}

/** Draws a chart into #plot-svg at the svg's current size. */
function drawPlotCanvas(chart) {
  const chartSvg = $('#plot-svg');
  const { width: W, height: H } = plotSize(chartSvg);
  const plotW = W - PLOT_LEFT - PLOT_RIGHT;
  const plotH = H - PLOT_TOP - PLOT_BOTTOM;
  chartSvg.setAttribute('viewBox', `0 0 ${W} ${H}`);
  plotDrawnSize = { width: W, height: H };

  const series = [];
  for (const key of chart.assigned) {
    const sig = plotSignal(key);
    if (sig) series.push({ sig, points: sampleSignal(sig, chart.window) });
  }

  // Base range: every sample and every threshold, widened by a tenth of the span at each end.
  let ymin = Infinity;
  let ymax = -Infinity;
  const include = (v) => {
    if (v < ymin) ymin = v;
    if (v > ymax) ymax = v;
  };
  for (const { points } of series) for (const point of points) include(point.v);
  for (const value of chart.thresholds) include(value);
  if (ymin > ymax) {
    ymin = 0;
    ymax = 1;
  }
  if (chart.yrange === 'fixed') ymin = Math.min(0, ymin);
  if (ymin === ymax) {
    ymin -= 1;
    ymax += 1;
  }
  const span = ymax - ymin;
  ymin -= span / 10;
  ymax += span / 10;

  const values = plotViewRange(ymin, ymax, chart.zoom, chart.panY);
  const times = plotViewRange(0, chart.window, chart.zoom, chart.panX);
  chart.panY = values.pan;
  chart.panX = times.pan;
  chart.vpp = (values.hi - values.lo) / plotH;
  chart.tpp = (times.hi - times.lo) / plotW;

  const x = (t) => PLOT_LEFT + ((t - times.lo) / (times.hi - times.lo)) * plotW;
  const y = (v) => PLOT_TOP + (1 - (v - values.lo) / (values.hi - values.lo)) * plotH;
  const right = plotCoord(W - PLOT_RIGHT);

  const nodes = [svg('clipPath', { id: 'plotClip' },
    svg('rect', { x: PLOT_LEFT, y: PLOT_TOP, width: plotW, height: plotH }))];
  for (let i = 0; i <= 4; i += 1) {
    const lineY = PLOT_TOP + (i / 4) * plotH;
    nodes.push(svg('line', { class: 'grid', x1: PLOT_LEFT, y1: plotCoord(lineY), x2: right, y2: plotCoord(lineY) }));
    nodes.push(svg('text', { class: 'axis', x: 42, y: plotCoord(lineY + 3), 'text-anchor': 'end' },
      plotTickLabel(values.hi - (i / 4) * (values.hi - values.lo))));
  }
  for (let i = 0; i <= 3; i += 1) {
    const t = times.lo + (i / 3) * (times.hi - times.lo);
    nodes.push(svg('text', { class: 'axis', x: plotCoord(x(t)), y: H - 8, 'text-anchor': 'middle' },
      `${Math.round(chart.window - t)}s`));
  }
  for (const value of chart.thresholds) {
    const lineY = plotCoord(y(value));
    nodes.push(svg('line', { class: 'threshold', x1: PLOT_LEFT, y1: lineY, x2: right, y2: lineY }));
  }
  for (const { sig, points } of series) {
    nodes.push(svg('polyline', {
      class: 'series',
      stroke: sig.color,
      'clip-path': 'url(#plotClip)',
      points: points.map((point) => `${plotCoord(x(point.t))},${plotCoord(y(point.v))}`).join(' '),
    }));
  }
  chartSvg.replaceChildren(...nodes);
  $('.plot-canvas').classList.toggle('zoomed', chart.zoom !== 1);
}

/** Index of the focused button among the buttons of a container, or -1. */
function plotFocusIndex(container) {
  const focused = document.activeElement;
  return container.contains(focused) ? [...container.querySelectorAll('button')].indexOf(focused) : -1;
}

/** Rebuilds a container's buttons; a button that had the focus hands it to its successor at the same place. */
function plotReplaceButtons(container, buttons) {
  const focused = plotFocusIndex(container);
  container.replaceChildren(...buttons);
  if (focused >= 0) buttons[Math.min(focused, buttons.length - 1)]?.focus();
}

/** A colour dot of a signal. */
function plotDot(color) {
  return el('span', { class: 'sig-dot', style: `background: ${color}` });
}

/** A picker label that may wrap after its prefix's slash rather than inside a name. */
function plotLabel(label) {
  const cut = label.indexOf('/') + 1;
  return el('span', { class: 'sig-label' }, label.slice(0, cut), cut > 0 ? el('wbr') : null, label.slice(cut));
}

/** Rebuilds the chart tabs, settings, picker, canvas, legend and empty hint. */
function renderPlot() {
  const chart = charts[activeChart];

  plotReplaceButtons($('#plot-tabs'), charts.map((item, i) => el('button', {
    class: 'plot-tab',
    type: 'button',
    role: 'tab',
    'aria-selected': String(i === activeChart),
    tabindex: i === activeChart ? 0 : -1,
    onclick: () => showChart(i),
  }, item.title)));

  $('#plot-window').value = `${chart.window} s`;
  $('#plot-yrange').value = chart.yrange;

  const filter = $('#plot-filter').value.trim().toLowerCase();
  const assigned = new Set(chart.assigned);
  plotReplaceButtons($('#plot-signals'), plotSignals
    .filter((sig) => sig.label.toLowerCase().includes(filter))
    .map((sig) => el('button', {
      class: 'plot-signal',
      type: 'button',
      'aria-pressed': String(assigned.has(sig.key)),
      onclick: () => togglePlotSignal(sig.key),
    }, plotDot(sig.color), plotLabel(sig.label), el('span', { class: 'sig-unit', text: sig.unit }))));

  drawPlotCanvas(chart);

  $('#plot-legend').replaceChildren(...chart.assigned.map(plotSignal).filter(Boolean).map((sig) =>
    el('span', { class: 'legend-chip' }, plotDot(sig.color), sig.label, ' ', el('small', { text: sig.unit }))));

  $('#plot-empty').hidden = chart.assigned.length > 0;
}

/** Makes a chart page the active one (its tab keeps the focus it had through the rebuild). */
function showChart(index) {
  activeChart = index;
  renderPlot();
}

/** Removes a signal from the active chart when it has it, else appends it. */
function togglePlotSignal(key) {
  const chart = charts[activeChart];
  const at = chart.assigned.indexOf(key);
  if (at >= 0) chart.assigned.splice(at, 1);
  else chart.assigned.push(key);
  renderPlot();
}

/** Adds a threshold at the rounded base of the chart's first signal, or at 0. */
function addPlotThreshold() {
  const chart = charts[activeChart];
  const first = chart.assigned.length ? plotSignal(chart.assigned[0]) : null;
  chart.thresholds.push(first ? Math.round(first.base) : 0);
  renderPlot();
}

/** Keeps a zoom within its limits; a zoom that came back to 1 through rounding is exactly 1 again. */
function clampZoom(zoom) {
  const clamped = Math.min(PLOT_ZOOM_MAX, Math.max(PLOT_ZOOM_MIN, zoom));
  return Math.abs(clamped - 1) < 1e-9 ? 1 : clamped;
}

/** Zooms the active chart in (multiplies) or out (divides) by a factor. */
function zoomPlot(factor, zoomIn) {
  const chart = charts[activeChart];
  chart.zoom = clampZoom(zoomIn ? chart.zoom * factor : chart.zoom / factor);
  renderPlot();
}

function fitPlot() {
  const chart = charts[activeChart];
  chart.zoom = 1;
  chart.panX = 0;
  chart.panY = 0;
  renderPlot();
}

/** Ends a grab-pan, if one is in progress. */
function endPlotPan() {
  plotPan = null;
  $('.plot-canvas').classList.remove('panning');
}

/**
 * Downloads the visible chart as a PNG at twice the svg's size. The copy of
 * the svg carries its own style rules with the current concept's colours, as
 * an image it is drawn without the page's style sheet. The file is named
 * after the chart the picture shows, even if another chart is chosen while
 * the image is being made.
 */
function exportPlotPng() {
  const chartSvg = $('#plot-svg');
  const { width: w, height: h } = plotSize(chartSvg);
  const tokens = getComputedStyle($('.app'));
  const [hair, muted, threshold] = ['--hair', '--muted', '--error'].map((name) => tokens.getPropertyValue(name).trim());
  const background = getComputedStyle($('.plot-canvas')).backgroundColor;
  const name = `${charts[activeChart].title.toLowerCase().replace(/\s+/g, '-')}.png`;

  const copy = chartSvg.cloneNode(true);
  copy.setAttribute('width', String(w));
  copy.setAttribute('height', String(h));
  copy.prepend(svg('style', {}, [
    `.grid { stroke: ${hair}; stroke-width: 1; }`,
    `.axis { fill: ${muted}; font-size: 9px; font-family: monospace; }`,
    '.series { fill: none; stroke-width: 1.6; }',
    `.threshold { stroke: ${threshold}; stroke-width: 1; stroke-dasharray: 4 3; }`,
  ].join('\n')));

  const source = URL.createObjectURL(new Blob([new XMLSerializer().serializeToString(copy)], { type: 'image/svg+xml' }));
  const image = new Image();
  image.addEventListener('load', () => {
    const canvas = document.createElement('canvas');
    canvas.width = 2 * w;
    canvas.height = 2 * h;
    const context = canvas.getContext('2d');
    context.fillStyle = background;
    context.fillRect(0, 0, canvas.width, canvas.height);
    context.drawImage(image, 0, 0, canvas.width, canvas.height);
    URL.revokeObjectURL(source);
    canvas.toBlob((blob) => {
      if (!blob) return;
      const url = URL.createObjectURL(blob);
      el('a', { href: url, download: name }).click();
      URL.revokeObjectURL(url);
    }, 'image/png');
  });
  // A picture that cannot be made offers no file and says nothing.
  image.addEventListener('error', () => URL.revokeObjectURL(source));
  image.src = source;
}

function wirePlots() {
  const box = $('.plot-canvas');
  $('#plot-filter').addEventListener('input', () => renderPlot());
  $('#plot-window').addEventListener('change', (event) => {
    const seconds = parseInt(event.target.value, 10);
    if (Number.isFinite(seconds) && seconds > 0) charts[activeChart].window = seconds;
    renderPlot();
  });
  $('#plot-yrange').addEventListener('change', (event) => {
    charts[activeChart].yrange = event.target.value === 'fixed' ? 'fixed' : 'auto';
    renderPlot();
  });
  wireRovingFocus($('#plot-tabs'), {
    items: () => [...$('#plot-tabs').children],
    keys: TAB_KEYS,
    wrap: true,
    moved: (_, index) => showChart(index),
  });
  $('#plot-threshold').addEventListener('click', () => addPlotThreshold());
  $('#plot-zoom-in').addEventListener('click', () => zoomPlot(PLOT_ZOOM_BUTTON, true));
  $('#plot-zoom-out').addEventListener('click', () => zoomPlot(PLOT_ZOOM_BUTTON, false));
  $('#plot-fit').addEventListener('click', () => fitPlot());
  $('#plot-export').addEventListener('click', () => exportPlotPng());

  // Not passive: the wheel zooms the chart instead of scrolling the page.
  box.addEventListener('wheel', (event) => {
    event.preventDefault();
    zoomPlot(PLOT_ZOOM_WHEEL, event.deltaY < 0);
  }, { passive: false });

  box.addEventListener('pointerdown', (event) => {
    if (charts[activeChart].zoom === 1) return;
    plotPan = { x: event.clientX, y: event.clientY, pointer: event.pointerId };
    box.setPointerCapture(event.pointerId);
    box.classList.add('panning');
  });
  box.addEventListener('pointermove', (event) => {
    if (!plotPan || event.pointerId !== plotPan.pointer) return;
    const chart = charts[activeChart];
    chart.panX -= (event.clientX - plotPan.x) * chart.tpp;
    chart.panY += (event.clientY - plotPan.y) * chart.vpp;
    plotPan.x = event.clientX;
    plotPan.y = event.clientY;
    // Only the drawing moves: tabs, picker and legend stay as they are.
    drawPlotCanvas(chart);
  });
  box.addEventListener('pointerup', () => endPlotPan());
  box.addEventListener('pointercancel', () => endPlotPan());
  box.addEventListener('lostpointercapture', () => endPlotPan());

  window.addEventListener('resize', () => {
    if (plotsVisible()) renderPlot();
  });
  // The chart also changes size without a window resize (sidebar collapse,
  // another concept's layout); the drawing follows so its text is never scaled.
  if (typeof ResizeObserver === 'function') {
    const chartSvg = $('#plot-svg');
    new ResizeObserver(() => {
      if (!plotsVisible()) return;
      const { width, height } = plotSize(chartSvg);
      if (width !== plotDrawnSize.width || height !== plotDrawnSize.height) drawPlotCanvas(charts[activeChart]);
    }).observe(chartSvg);
  }
}

// The browser tests read the chart state and the catalogue on the page's own
// module instance (importing this module again from the page returns it).
export { charts, plotValue, isPlottable, derivePlotSignals, sampleSignal, plotTickLabel, clampZoom };

// ── Side by side ──
//
// A comparison shows the lab several times below the lab bar, each pane a
// frame of this same entry document with an address of its own: the three
// concepts, the five scenarios of one concept, or one combination in windows
// 800, 1280 and 1920 px wide, scaled down to fit. The top document then starts
// no app of its own (its app frame stays hidden) and its lab bar drives every
// pane; a pane hides its own lab bar and otherwise runs the page as always.
//
// The comparison treats the panes as documents of its own origin: it sends
// them events, on elements found by id or else by their path below the
// nearest element with an id, and reads their addresses to caption them. It
// never touches their script state. While "Mirror interactions" is on, what
// the reviewer does in one pane (a click, a field's text, a select's choice,
// a key, a scroll) is replayed on the same element of every other pane.
//
// Address: `compare=` and the mode, then the lab keys the panes share (those
// the mode does not vary), read from the first pane. An unknown mode is
// ignored like any unknown key. One heartbeat per tab: the top document pings
// for the comparison and the panes send none, so the launcher runs while the
// tab shows either and ends after it is closed.

/** Window widths of the Widths mode, in px; their height is the stylesheet's --compare-window-height. */
const COMPARE_WIDTHS = [800, 1280, 1920];
/** The narrowest window the page is made for: a narrower pane shows the page this wide, scaled down. */
const COMPARE_MIN_LAYOUT_WIDTH = 600;

/** Per mode: its toolbar label, the lab key its panes vary, and its panes for a lab choice. */
const COMPARE_MODES = {
  concepts: {
    label: 'Concepts',
    varies: 'concept',
    panes: (choice) => CONCEPTS.map((value) => ({ choice: { ...choice, concept: value } })),
  },
  scenarios: {
    label: 'Scenarios',
    varies: 'scenario',
    panes: (choice) => SCENARIOS.map((value) => ({ choice: { ...choice, scenario: value } })),
  },
  widths: {
    label: 'Widths',
    varies: null,
    panes: (choice) => COMPARE_WIDTHS.map((width) => ({ choice, width })),
  },
};

/** The events of a pane that are replayed in the others (see REPLAYS). */
const MIRRORED_EVENTS = ['click', 'input', 'change', 'keydown', 'scroll'];

/** Within a label, a click on one of these is their own; a click anywhere else reaches the label's control as a second click. */
const OWN_CLICK = 'a[href], button, input, select, textarea, summary, [tabindex]';

/** Input types whose `input` and `change` events carry typed text (checkboxes and radios follow their clicks). */
const UNTYPED_INPUTS = new Set(['checkbox', 'radio', 'button', 'submit', 'reset', 'file', 'image']);

/** The comparison this document shows ({ mode, mirror, panes, container, sizes }), or null. */
let comparison = null;

/**
 * Above zero while a replay is being dispatched. Whatever happens in a pane
 * meanwhile (the replayed event, the click a label passes on to its control,
 * the change that click makes) is the replay's own doing, not the reviewer's,
 * and is not mirrored again.
 */
let replaying = 0;

/** Per scroll box, the position a replay scrolled it to: the scroll event that follows is an echo, not mirrored back. */
const scrollEchoes = new WeakMap();

/** Concept, scenario and notice of an address query, each falling back as at start-up. */
function labChoice(search) {
  const query = new URLSearchParams(search);
  const pick = (key, values, fallback) => (values.includes(query.get(key)) ? query.get(key) : fallback);
  return {
    concept: pick('concept', CONCEPTS, 'studio'),
    scenario: pick('scenario', SCENARIOS, 'missing'),
    notice: pick('notice', NOTICE_STATES, 'none'),
  };
}

/** "?compare=" + mode + the lab keys of `choice` that the mode does not vary. */
function comparisonAddress(mode, choice) {
  const query = labQuery(choice);
  const varies = COMPARE_MODES[mode].varies;
  if (varies) query.delete(varies);
  return `?${new URLSearchParams([['compare', mode], ...query])}`;
}

/** The frame element holding this document when it is a pane of a comparison, else null. */
function comparisonFrame() {
  // frameElement is null outside a frame and in a frame of another origin.
  const frame = window.frameElement;
  return frame?.classList.contains('compare-frame') ? frame : null;
}

/**
 * Start-up: true when this document shows a comparison instead of the app.
 * A pane hides its lab bar (the comparison's drives it) and starts as usual.
 */
function startSideBySide() {
  if (comparisonFrame()) {
    $('.lab').hidden = true;
    $('#concept-description').hidden = true;
    return false;
  }
  const mode = initial.get('compare');
  if (!Object.hasOwn(COMPARE_MODES, mode)) return false;
  openComparison(mode, labChoice(location.search));
  return true;
}

/** Builds the comparison below the lab bar, in place of the app frame. */
function openComparison(mode, choice) {
  document.body.dataset.compare = mode;
  $('.app').hidden = true;
  $('#concept-description').hidden = true;
  $('#compare-open').setAttribute('aria-pressed', 'true');
  // Capturing at the bar, before the controls' own single-page handlers.
  $('.lab').addEventListener('click', labBarClick, true);
  $('.lab').addEventListener('change', labBarChange, true);

  // The mode buttons look like the lab bar's concept group.
  const modes = el('div', { class: 'concepts', role: 'group', 'aria-label': 'Compare' },
    ...Object.entries(COMPARE_MODES).map(([key, { label }]) => el('button', {
      type: 'button',
      dataset: { compareMode: key },
      'aria-pressed': 'false',
      onclick: () => setComparisonMode(key, firstPaneChoice()),
    }, label)));
  const mirror = el('button', {
    id: 'compare-mirror', class: 'lab-button compare-switch', type: 'button', role: 'switch', 'aria-checked': 'true',
    onclick: () => {
      comparison.mirror = !comparison.mirror;
      mirror.setAttribute('aria-checked', String(comparison.mirror));
    },
  }, 'Mirror interactions');
  const close = el('button', { id: 'compare-close', class: 'lab-button', type: 'button', onclick: () => closeComparison() },
    'Close side by side');
  // Rows of panes beyond the window scroll here; focusable, so that keys scroll them too.
  const container = el('div', { class: 'compare-panes', role: 'region', 'aria-label': 'Panes', tabindex: '0' });
  $('.app').after(el('section', { class: 'compare', 'aria-label': 'Side by side' },
    el('div', { class: 'compare-bar' }, modes, mirror, close), container));

  comparison = {
    mode,
    mirror: true,
    panes: [],
    container,
    // The panes' widths follow the pane area's. (Watching the panes themselves would see them
    // change again under the captions that their sizes rewrite, a loop the browser reports.)
    sizes: new ResizeObserver(() => comparison.panes.forEach(sizePane)),
  };
  // The Widths mode shares the row in proportion to the widths: one scale for all.
  container.style.setProperty('--compare-columns', COMPARE_WIDTHS.map((width) => `minmax(0, ${width}fr)`).join(' '));
  setComparisonMode(mode, choice);
}

/** Shows the panes of `mode` for a lab choice. */
function setComparisonMode(mode, choice) {
  comparison.mode = mode;
  document.body.dataset.compare = mode;
  for (const button of document.querySelectorAll('button[data-compare-mode]')) {
    button.setAttribute('aria-pressed', String(button.dataset.compareMode === mode));
  }
  comparison.panes = COMPARE_MODES[mode].panes(choice).map(makePane);
  comparison.container.replaceChildren(...comparison.panes.map((pane) => pane.figure));
  // Observing anew reports the area's size once more, which sizes the new panes.
  comparison.sizes.disconnect();
  comparison.sizes.observe(comparison.container);
  showLabChoice(choice);
}

/** One pane: a caption over a frame of this document at the pane's own address. */
function makePane({ choice, width = null }) {
  const frame = el('iframe', { class: 'compare-frame', src: `?${labQuery(choice)}` });
  const view = el('div', { class: 'compare-view' }, frame);
  const caption = el('figcaption', { class: 'compare-caption' });
  // Busy until its page has loaded and what happens in it is mirrored.
  const figure = el('figure', { class: 'compare-pane', 'aria-busy': 'true' }, caption, view);
  if (width) figure.style.setProperty('--compare-layout-width', String(width));
  const pane = { choice, width, frame, view, caption, figure, doc: null, layoutWidth: 0, scale: 1 };
  frame.addEventListener('load', () => watchPane(pane));
  return pane;
}

/** Follows a pane's size: the width its page is laid out at, the scale that fits it into the pane, the caption. */
function sizePane(pane) {
  const shown = pane.view.clientWidth;
  if (!shown) return;
  pane.layoutWidth = pane.width ?? Math.max(shown, COMPARE_MIN_LAYOUT_WIDTH);
  pane.scale = shown / pane.layoutWidth;
  pane.view.style.setProperty('--compare-frame-width', `${pane.layoutWidth}px`);
  pane.view.style.setProperty('--compare-scale', String(pane.scale));
  captionPane(pane);
}

/** "A", "Dark studio · Live traffic · No notice" and the width ("610 px"; "800 px · 46 %" when scaled). */
function captionPane(pane) {
  const { concept: key, scenario, notice } = pane.choice;
  const button = $(`.lab button[data-concept="${key}"]`);
  const letter = button.firstChild.textContent.trim();
  const name = button.querySelector('span').textContent;
  const scenarioLabel = $(`#scenario option[value="${scenario}"]`).textContent;
  const noticeLabel = notice === 'none' ? 'No notice' : $(`#notices option[value="${notice}"]`).textContent;
  const scaled = pane.width !== null || pane.scale < 1;
  const size = `${pane.layoutWidth} px${scaled ? ` · ${Math.round(100 * pane.scale)} %` : ''}`;
  const text = `${name} · ${scenarioLabel} · ${noticeLabel}`;
  pane.caption.replaceChildren(el('strong', { class: 'compare-letter', text: letter }),
    el('span', { text }), el('span', { class: 'compare-size', text: size }));
  pane.frame.title = `${letter} ${text} · ${size}`;
}

/** Once a pane's page has loaded: mirrors what happens in it and follows its lab choice. */
function watchPane(pane) {
  const doc = pane.frame.contentDocument;
  // The empty document a frame holds before its page is not a pane's page.
  if (!doc?.querySelector('.app')) return;
  pane.doc = doc;
  for (const type of MIRRORED_EVENTS) {
    doc.addEventListener(type, (event) => mirrorEvent(pane, event), { capture: true, passive: true });
  }
  // The page shows every change of concept, scenario or notice in these.
  const changes = new MutationObserver(() => followPane(pane));
  changes.observe(doc.querySelector('.app'), { attributeFilter: ['data-concept'] });
  changes.observe(doc.querySelector('#connection-status'), { childList: true });
  changes.observe(doc.querySelector('#notices-strip'), { childList: true });
  pane.figure.removeAttribute('aria-busy');
  followPane(pane);
}

/** Reads a pane's lab choice from its address; the first pane's is the lab bar's and the comparison's address. */
function followPane(pane) {
  if (pane.doc) pane.choice = labChoice(pane.frame.contentWindow.location.search);
  captionPane(pane);
  if (pane === comparison.panes[0]) showLabChoice(pane.choice);
}

function firstPaneChoice() {
  const [first] = comparison.panes;
  followPane(first);
  return first.choice;
}

/** The lab bar shows a lab choice, with the control of what the mode varies disabled; the address follows. */
function showLabChoice(choice) {
  const varies = COMPARE_MODES[comparison.mode].varies;
  for (const button of document.querySelectorAll('.lab button[data-concept]')) {
    button.setAttribute('aria-pressed', String(button.dataset.concept === choice.concept));
    button.disabled = varies === 'concept';
  }
  $('#scenario').value = choice.scenario;
  $('#scenario').disabled = varies === 'scenario';
  $('#notices').value = choice.notice;
  const search = comparisonAddress(comparison.mode, choice);
  if (location.search !== search || location.hash !== '') history.replaceState(history.state, '', search);
}

/** Back to the single page, in the first pane's lab choice. */
function closeComparison() {
  location.replace(`?${labQuery(firstPaneChoice())}`);
}

/** While comparing, a click on a lab bar button acts on every pane instead of on this document. */
function labBarClick(event) {
  const button = event.target.closest('button');
  if (!button) return;
  event.stopPropagation();
  if (button.disabled) return;
  if (button.id === 'compare-open') closeComparison();
  else if (button.id === 'show-qr-picker') toEveryPane('#show-qr-picker', clickOn);
  else if (button.dataset.concept) toEveryPane(`button[data-concept="${button.dataset.concept}"]`, clickOn);
}

/** While comparing, the scenario and notices selects choose for every pane. */
function labBarChange(event) {
  const { id, value } = event.target;
  if (id !== 'scenario' && id !== 'notices') return;
  event.stopPropagation();
  toEveryPane(`#${id}`, (select) => setField(select, value, ['input', 'change']));
}

function toEveryPane(selector, act) {
  for (const pane of comparison.panes) {
    const target = pane.doc?.querySelector(selector);
    if (target) replay(() => act(target));
  }
}

function replay(action) {
  replaying += 1;
  try {
    action();
  } finally {
    replaying -= 1;
  }
}

/** Where an element sits: the nearest element with an id (itself or above) and the child indices from there; null for the document. */
function elementPath(node) {
  if (node.nodeType === Node.DOCUMENT_NODE) return null;
  const steps = [];
  let at = node;
  while (!at.id && at.parentElement) {
    steps.unshift(Array.prototype.indexOf.call(at.parentElement.children, at));
    at = at.parentElement;
  }
  return { id: at.id || null, steps };
}

/** The node at `path` (see elementPath) in another document, or null. */
function findByPath(doc, path) {
  if (path === null) return doc;
  let at = path.id ? doc.getElementById(path.id) : doc.documentElement;
  for (const step of path.steps) at = at?.children[step];
  return at ?? null;
}

const isTypedField = (node) => node.tagName === 'TEXTAREA' || (node.tagName === 'INPUT' && !UNTYPED_INPUTS.has(node.type));

/** A pane's scroll box of a scroll event's target: its element, or the document's scrolling element. */
const scrollBox = (node) => (node.nodeType === Node.DOCUMENT_NODE ? node.scrollingElement : node);

const scrollPosition = (box) => `${box.scrollLeft},${box.scrollTop}`;

/**
 * How each mirrored event is replayed: given the event in one pane, the path
 * of the element to find in each other pane and what to do to it there; null
 * when the event is not mirrored.
 */
const REPLAYS = {
  click(event) {
    const source = event.target;
    if (source.nodeType !== Node.ELEMENT_NODE) return null;
    const label = source.closest('label');
    const own = source.closest(OWN_CLICK);
    // The label passes the click on to its control, whose click is mirrored.
    if (label?.control && !(own && label.contains(own))) return null;
    const from = source.getBoundingClientRect();
    return { path: elementPath(source), run: (target) => clickOn(target, event, from) };
  },
  input(event) {
    const source = event.target;
    if (!isTypedField(source)) return null;
    const { value } = source;
    return { path: elementPath(source), run: (target) => setField(target, value, ['input'], event) };
  },
  change(event) {
    const source = event.target;
    const select = source.tagName === 'SELECT';
    if (!select && !isTypedField(source)) return null;
    const { value } = source;
    return { path: elementPath(source), run: (target) => setField(target, value, select ? ['input', 'change'] : ['change']) };
  },
  keydown(event) {
    const { key, code, location: keyLocation, repeat, ctrlKey, shiftKey, altKey, metaKey } = event;
    return {
      path: elementPath(event.target),
      run: (target) => target.dispatchEvent(new (viewOf(target).KeyboardEvent)('keydown', {
        key, code, location: keyLocation, repeat, ctrlKey, shiftKey, altKey, metaKey, bubbles: true, cancelable: true, composed: true,
      })),
    };
  },
  scroll(event) {
    const box = scrollBox(event.target);
    const range = (size, client) => Math.max(0, size - client);
    const share = (offset, size, client) => (range(size, client) ? offset / range(size, client) : 0);
    const x = share(box.scrollLeft, box.scrollWidth, box.clientWidth);
    const y = share(box.scrollTop, box.scrollHeight, box.clientHeight);
    return {
      path: elementPath(event.target),
      run: (target) => {
        // The same share of each pane's own scroll range: the panes' pages differ in length.
        const other = scrollBox(target);
        const before = scrollPosition(other);
        other.scrollLeft = x * range(other.scrollWidth, other.clientWidth);
        other.scrollTop = y * range(other.scrollHeight, other.clientHeight);
        const after = scrollPosition(other);
        if (after !== before) scrollEchoes.set(other, after);
      },
    };
  },
};

/** Replays an event of one pane in every other pane, unless it is itself a replay's doing or an echo. */
function mirrorEvent(source, event) {
  if (event.type === 'scroll') {
    const box = scrollBox(event.target);
    const echo = scrollEchoes.get(box);
    scrollEchoes.delete(box);
    if (echo === scrollPosition(box)) return;
  }
  // Only what the reviewer did: events made by a page's own script are made by the other pages too.
  if (!comparison.mirror || replaying || !event.isTrusted) return;
  const mirrored = REPLAYS[event.type](event);
  if (!mirrored) return;
  for (const pane of comparison.panes) {
    if (pane === source || !pane.doc) continue;
    const target = findByPath(pane.doc, mirrored.path);
    // What a pane does not show cannot be clicked, typed into or scrolled there either.
    if (target && (target.nodeType !== Node.ELEMENT_NODE || target.getClientRects().length)) replay(() => mirrored.run(target));
  }
}

const viewOf = (node) => (node.ownerDocument ?? node).defaultView;

/**
 * A click on an element of a pane, at the same relative spot as `event` on
 * the box `from` (or at its middle). Disabled controls are left alone:
 * dispatched clicks would still reach their listeners.
 */
function clickOn(target, event = null, from = null) {
  if (target.closest(':disabled')) return;
  const to = target.getBoundingClientRect();
  const along = (clientAt, fromStart, fromSize, toStart, toSize) => toStart
    + (fromSize ? ((clientAt - fromStart) / fromSize) * toSize : toSize / 2);
  const view = viewOf(target);
  target.dispatchEvent(new view.MouseEvent('click', {
    bubbles: true,
    cancelable: true,
    composed: true,
    view,
    detail: event?.detail ?? 1,
    clientX: event ? along(event.clientX, from.left, from.width, to.left, to.width) : to.left + to.width / 2,
    clientY: event ? along(event.clientY, from.top, from.height, to.top, to.height) : to.top + to.height / 2,
    ctrlKey: event?.ctrlKey ?? false,
    shiftKey: event?.shiftKey ?? false,
    altKey: event?.altKey ?? false,
    metaKey: event?.metaKey ?? false,
  }));
}

/** Gives a field of a pane a value and dispatches `types` on it, as typing or choosing there would. */
function setField(target, value, types, event = null) {
  if (target.disabled || target.readOnly || !('value' in target)) return;
  if (target.value !== value) target.value = value;
  const view = viewOf(target);
  for (const type of types) {
    target.dispatchEvent(type === 'input'
      ? new view.InputEvent('input', { bubbles: true, composed: true, inputType: event?.inputType ?? '', data: event?.data ?? null })
      : new view.Event(type, { bubbles: true }));
  }
}

/** The lab bar's "Side by side" button of the single page: opens the comparison of the concepts. */
function wireSideBySide() {
  $('#compare-open').addEventListener('click', () => location.replace(comparisonAddress('concepts', labChoice(location.search))));
}

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
wireRovingFocus($('#live-view [role="tablist"]'), {
  items: () => TABS.map((tab) => $(`#tab-${tab}`)),
  keys: TAB_KEYS,
  wrap: true,
  moved: (_, index) => setTab(TABS[index], { byArrowKey: true }),
});

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

$('#load-eds').addEventListener('click', () => loadFile('eds'));
$('#load-dbc').addEventListener('click', () => loadFile('dbc'));
$('#load-a2l').addEventListener('click', () => loadFile('xcp'));

$('#notices').addEventListener('change', (event) => setNotice(event.target.value));
$('#show-qr-picker').addEventListener('click', () => openQrPicker());

// Each view attaches its own controls' handlers in its wire function (the
// file lists have no controls of their own: the load buttons are above).
wireMonitor();
wireNotices();
wireObjects();
wireTransmit();
wireDaq();
wireSniffer();
wirePlots();
wireSideBySide();

// ── Start-up ──

// An address that asks for a comparison shows it instead of the app frame.
if (!startSideBySide()) {
  refreshViews('startUp');
  setConcept(concept);
  setState(SCENARIOS.includes(initial.get('scenario')) ? initial.get('scenario') : 'missing');
  // setNotice takes any unknown or missing value as 'none'.
  setNotice(initial.get('notice') ?? 'none');
}
startHeartbeat();
