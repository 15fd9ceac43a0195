// The cross-engine checks: one list, run unchanged in every engine through its
// adapter. A check gets a page (see the adapters), the launcher's origin and
// `note`, which writes a line into the test's output; it drives the page with
// real clicks and drags and reads it back with scripts.

import assert from 'node:assert/strict';
import { CONCEPTS, SCENARIOS, TABS, eventually, until } from '../lab.mjs';

const WIDTHS = [1400, 1024, 800, 600];
const CONNECT_DELAY_MS = 650;
const PNG_SIGNATURE = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];

/** Loads the lab at `query` and waits for its start-up to finish. */
export async function openLab(page, origin, query) {
  await page.goto(`${origin}/${query}`);
  await until(page, () => document.querySelector('#connection-status')?.childNodes.length > 0, `start-up at ${query}`);
}

/** Waits two frames, so that a resize or a click has been laid out. */
const settle = (page) => page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));

/** How far the document reaches past the viewport's right edge, and the elements that do. */
function horizontalOverflow() {
  const root = document.documentElement;
  const limit = root.clientWidth;
  const spill = Math.max(root.scrollWidth, document.body.scrollWidth) - limit;
  if (spill <= 0) return { spill: 0, culprits: [] };
  const culprits = [...document.body.querySelectorAll('*')]
    .filter((node) => node.getClientRects().length && node.getBoundingClientRect().right > limit + 0.5)
    .slice(0, 4)
    .map((node) => `${node.tagName.toLowerCase()}${node.id ? `#${node.id}` : ''}${node.classList.length ? `.${[...node.classList].join('.')}` : ''}`);
  return { spill, culprits };
}

/** The boxes of the main regions (viewport pixels, rounded to tenths). */
export function regionBoxes() {
  const box = (node) => {
    const r = node.getBoundingClientRect();
    return [r.x, r.y, r.width, r.height].map((v) => Math.round(v * 10) / 10);
  };
  const one = (selector) => box(document.querySelector(selector));
  return {
    'lab bar': one('.lab'),
    sidebar: one('.setup'),
    workspace: one('.workspace'),
    'tab strip': one('.tabs'),
    table: one('.monitor table'),
    ...Object.fromEntries([...document.querySelector('.monitor table').tHead.rows[0].cells]
      .map((cell, i) => [`column ${i + 1} (${cell.textContent.trim()})`, box(cell)])),
  };
}

/** Records every object URL's blob and every download link clicked with one. */
function recordDownloads() {
  const blobs = new Map();
  const downloads = (window.engineDownloads = []);
  const create = URL.createObjectURL;
  URL.createObjectURL = (object) => {
    const url = create.call(URL, object);
    blobs.set(url, object);
    return url;
  };
  const click = HTMLAnchorElement.prototype.click;
  HTMLAnchorElement.prototype.click = function () {
    const blob = blobs.get(this.href);
    if (this.download && blob) {
      const entry = { name: this.download, type: blob.type, size: blob.size, head: null };
      downloads.push(entry);
      blob.arrayBuffer().then((bytes) => {
        entry.head = [...new Uint8Array(bytes.slice(0, 16))];
      });
    }
    return click.call(this);
  };
}

/** Clicks `selector` and returns the one download it offered, with its first bytes. */
async function downloadFrom(page, selector) {
  await page.evaluate(() => window.engineDownloads.splice(0));
  await page.click(selector);
  const [entry] = await until(page, () => (window.engineDownloads[0]?.head ? window.engineDownloads : null), `a download from ${selector}`);
  return entry;
}

/**
 * The saved file arrives, with the offered size and first bytes. An engine
 * that does not say where it saves downloads (`downloaded` is null) has only
 * the page-side record checked; the test's output says so.
 */
async function assertArrived(page, entry, note) {
  if (!page.downloaded) {
    note(`${entry.name}: this engine does not report its saved files; only the offered file was checked`);
    return;
  }
  const { readFile } = await import('node:fs/promises');
  const file = await eventually(() => page.downloaded(entry.name), `${entry.name} in the download folder`);
  let bytes;
  await eventually(async () => (bytes = await readFile(file)).length >= entry.size,
    () => `${entry.name} at its full size of ${entry.size} bytes (${bytes?.length} so far)`);
  assert.equal(bytes.length, entry.size, `${entry.name} size`);
  assert.deepEqual([...bytes.subarray(0, entry.head.length)], entry.head, `${entry.name} first bytes`);
}

const text = (selector) => document.querySelector(selector).textContent;

export const CHECKS = [
  {
    name: 'every concept and scenario loads without errors and without horizontal overflow at 1400, 1024, 800 and 600 px',
    async run(page, { origin }) {
      const overflowing = [];
      for (const concept of CONCEPTS) {
        for (const scenario of SCENARIOS) {
          await page.resize(WIDTHS[0], 1000);
          const query = `?concept=${concept}&scenario=${scenario}`;
          await openLab(page, origin, query);
          const shown = await page.evaluate(() => [document.querySelector('.app').dataset.concept,
            document.querySelector('#scenario').value, location.search]);
          assert.deepEqual(shown, [concept, scenario, query]);
          for (const width of WIDTHS) {
            if (width !== WIDTHS[0]) await page.resize(width, 1000);
            await settle(page);
            const { spill, culprits } = await page.evaluate(horizontalOverflow);
            if (spill > 0) overflowing.push(`${concept}/${scenario} at ${width}px: ${spill}px by ${culprits.join(', ')}`);
          }
        }
      }
      assert.deepEqual(overflowing, []);
    },
  },
  {
    name: 'every workspace tab shows its own panel',
    async run(page, { origin }) {
      await openLab(page, origin, '?scenario=live');
      for (const tab of TABS) {
        await page.click(`#tab-${tab}`);
        const state = await page.evaluate((tabs) => tabs.map((t) => {
          const panel = document.querySelector(`#${t}-panel`);
          return [t, document.querySelector(`#tab-${t}`).getAttribute('aria-selected'), !panel.hidden && panel.getBoundingClientRect().height > 0];
        }), TABS);
        assert.deepEqual(state, TABS.map((t) => [t, String(t === tab), t === tab]), `after clicking ${tab}`);
      }
    },
  },
  {
    name: 'Connect goes through "connecting" to "live" after the connect delay',
    async run(page, { origin }) {
      await openLab(page, origin, '?scenario=ready');
      await page.evaluate(() => {
        const seen = (window.statusSeen = []);
        const status = document.querySelector('#connection-status');
        new MutationObserver(() => seen.push([status.textContent, performance.now()])).observe(status, { childList: true, subtree: true, characterData: true });
      });
      const clickedAt = await page.evaluate(() => performance.now());
      await page.click('#connect');
      const seen = await until(page, () => (document.querySelector('#scenario').value === 'live' ? window.statusSeen : null), 'the live scenario');
      const texts = seen.map(([t]) => t).filter((t, i, all) => t !== all[i - 1]);
      assert.deepEqual(texts, ['Connecting', 'Connected']);
      const connectedAt = seen.find(([t]) => t === 'Connected')[1];
      const connectingAt = seen.find(([t]) => t === 'Connecting')[1];
      assert.ok(connectingAt >= clickedAt);
      assert.ok(connectedAt - connectingAt >= CONNECT_DELAY_MS - 5, `live ${Math.round(connectedAt - connectingAt)} ms after connecting`);
      assert.equal(await page.evaluate(text, '#connect'), 'Disconnect');
    },
  },
  {
    name: 'a file of each kind loads',
    async run(page, { origin }) {
      await openLab(page, origin, '?scenario=ready');
      const counts = () => page.evaluate(() => ['#eds-list', '#dbc-list', '#a2l-list'].map((list) => document.querySelector(list).children.length));
      const before = await counts();
      for (const [i, kind] of ['eds', 'dbc', 'a2l'].entries()) {
        await page.click(`details:has(#load-${kind}) > summary`);
        await page.click(`#load-${kind}`);
        const after = await counts();
        assert.deepEqual(after, before.map((n, j) => (j <= i ? n + 1 : n)), `after loading ${kind}`);
      }
    },
  },
  {
    name: 'a transmit single shot is logged and a periodic job is listed',
    async run(page, { origin }) {
      await openLab(page, origin, '?scenario=live');
      await page.click('#tab-transmit');
      await page.click('#tx-send');
      const sent = await until(page, () => document.querySelector('#tx-count').textContent === '1 sent'
        && document.querySelector('#tx-log > li').textContent, 'the logged frame');
      assert.match(sent, /^\d\d:\d\d:\d\d\.\d{3} · TX · 0x000 · \[8\] 00 00 00 00 00 00 00 00$/);
      await page.click('input[name="tx-timing"][value="periodic"]');
      await page.click('#tx-send');
      const jobs = await until(page, () => document.querySelector('#periodic-count').textContent === '1 active'
        && [...document.querySelectorAll('#periodic-list > li')].map((li) => li.firstChild.textContent), 'the periodic job');
      assert.deepEqual(jobs, ['every 100 ms · TX · 0x000 · [8] 00 00 00 00 00 00 00 00']);
    },
  },
  {
    name: 'a sniffer row selection fills the bit inspector',
    async run(page, { origin }) {
      await openLab(page, origin, '?scenario=live');
      await page.click('#tab-sniffer');
      // A row that is not selected yet and carries at least three bytes.
      const nth = await page.evaluate(() => 1 + [...document.querySelectorAll('#sniffer-rows tr')].findIndex((row) =>
        !row.classList.contains('selected') && row.querySelector('td.payload').textContent.trim().split(/\s+/).length >= 3));
      assert.ok(nth > 0, 'a row to select');
      await page.click(`#sniffer-rows tr:nth-child(${nth}) td.id`);
      const picked = await until(page, (k) => {
        const row = document.querySelector(`#sniffer-rows tr:nth-child(${k})`);
        return row.classList.contains('selected') && {
          id: row.querySelector('td.id').textContent,
          head: document.querySelector('#sniffer-inspect .inspect-head')?.textContent,
          bytes: document.querySelectorAll('.bit-byte').length,
        };
      }, 'the selected row', [nth]);
      assert.ok(picked.head.startsWith(`${picked.id} · `), `inspector head ${picked.head}`);
      assert.ok(picked.bytes > 2, `${picked.bytes} bytes`);
      await page.click('.bit-byte:nth-child(3)');
      const byte = await until(page, () => document.querySelector('.bit-byte.selected .bit-idx')?.textContent === 'B2'
        && document.querySelectorAll('.bit-byte.selected').length, 'byte B2 selected');
      assert.equal(byte, 1);
    },
  },
  {
    name: 'DAQ connects, adds a row, acquires with a growing log and exports the CSV',
    async run(page, { origin, note }) {
      await openLab(page, origin, '?scenario=live');
      await page.evaluate(recordDownloads);
      await page.click('#tab-daq');
      const rows = () => page.evaluate(() => document.querySelectorAll('#daq-list > li.daq-row').length);
      const before = await rows();
      await page.click('#daq-add');
      assert.equal(await rows(), before + 1);
      await page.click('#daq-connect');
      await until(page, () => document.querySelector('#daq-xcp-state').textContent === 'XCP connected', 'XCP connected');
      await page.click('#daq-run');
      await until(page, () => document.querySelector('#daq-xcp-state').textContent === 'XCP acquiring', 'XCP acquiring');
      const logLength = () => page.evaluate(() => document.querySelectorAll('#daq-log > li.daq-log-line').length);
      const started = await logLength();
      await until(page, (n) => document.querySelectorAll('#daq-log > li.daq-log-line').length > n, 'a DAQ tick in the log', [started]);
      const later = await logLength();
      await until(page, (n) => document.querySelectorAll('#daq-log > li.daq-log-line').length > n, 'a second DAQ tick', [later]);

      await until(page, () => !document.querySelector('#daq-export').disabled, 'the CSV export');
      const csv = await downloadFrom(page, '#daq-export');
      assert.deepEqual([csv.name, csv.type], ['quillcan-daq.csv', 'text/csv']);
      assert.equal(Buffer.from(csv.head).toString().slice(0, 7), 'sample,');
      await assertArrived(page, csv, note);
    },
  },
  {
    name: 'a refused polling period draws its field in the invalid colour, an accepted one in the field colours',
    async run(page, { origin }) {
      await openLab(page, origin, '?scenario=live');
      await page.click('#tab-daq');
      // Fills the form as typed and reads the field's colours beside the ones
      // its tokens resolve to where it stands.
      const look = (event, period) => page.evaluate((event, period) => {
        const select = document.querySelector('#daq-event');
        select.value = event;
        select.dispatchEvent(new Event('change', { bubbles: true }));
        const field = document.querySelector('#daq-rate');
        field.value = period;
        field.dispatchEvent(new Event('input', { bubbles: true }));
        const probe = document.createElement('span');
        field.after(probe);
        const token = (name) => {
          probe.style.color = `var(${name})`;
          return getComputedStyle(probe).color;
        };
        const tokens = { invalid: token('--invalid'), border: token('--border'), text: token('--text') };
        probe.remove();
        const style = getComputedStyle(field);
        return { marked: field.classList.contains('invalid'), border: style.borderTopColor, text: style.color, tokens };
      }, event, period);
      const refused = await look('poll', '0');
      assert.equal(refused.marked, true);
      assert.notEqual(refused.tokens.invalid, refused.tokens.border);
      assert.deepEqual([refused.border, refused.text], [refused.tokens.invalid, refused.tokens.invalid]);
      const accepted = await look('poll', '20');
      assert.equal(accepted.marked, false);
      assert.deepEqual([accepted.border, accepted.text], [accepted.tokens.border, accepted.tokens.text]);
    },
  },
  {
    name: 'plots zoom with the buttons, pan with a grab drag and export the PNG',
    async run(page, { origin, note }) {
      await openLab(page, origin, '?scenario=live');
      await page.evaluate(recordDownloads);
      await page.click('#tab-plots');
      const firstSeries = () => page.evaluate(() => document.querySelector('#plot-svg polyline.series').getAttribute('points')
        .split(' ').map((pair) => pair.split(',').map(Number)));
      const start = await firstSeries();
      await page.click('#plot-zoom-in');
      await until(page, () => document.querySelector('.plot-canvas').classList.contains('zoomed'), 'the zoomed chart');
      const zoomed = await firstSeries();
      assert.notDeepEqual(zoomed, start);
      // The chart may start below the fold (narrow windows stack the panels).
      await page.evaluate(() => document.querySelector('.plot-canvas').scrollIntoView({ block: 'center' }));
      await page.drag('.plot-canvas', 30, 16);
      const moved = await firstSeries();
      const shifts = moved.map(([x, y], i) => [x - zoomed[i][0], y - zoomed[i][1]]);
      assert.ok(shifts.every(([dx, dy]) => Math.abs(dx - 30) < 1.5 && Math.abs(dy - 16) < 1.5), `shifts ${JSON.stringify(shifts.slice(0, 3))}`);
      assert.equal(await page.evaluate(() => document.querySelector('.plot-canvas').classList.contains('panning')), false);

      const title = await page.evaluate(() => document.querySelector('#plot-tabs [aria-selected="true"]').textContent);
      const png = await downloadFrom(page, '#plot-export');
      assert.deepEqual([png.name, png.type], [`${title.toLowerCase().replace(/\s+/g, '-')}.png`, 'image/png']);
      assert.deepEqual(png.head.slice(0, 8), PNG_SIGNATURE);
      await assertArrived(page, png, note);
    },
  },
  ...sideBySideChecks(),
];

// ── Side by side ──

/** The comparison at `search` is shown and all its panes have loaded and are watched. */
function panesReady(search) {
  const panes = document.querySelectorAll('.compare-pane');
  return location.search === search && panes.length > 0 && [...panes].every((pane) => !pane.hasAttribute('aria-busy'));
}

/** Polls `fn(...args)` while the page may be between two documents (a click started a navigation). */
async function untilLoaded(page, fn, what, args = []) {
  // An evaluation that fails finds the old document gone and the new one not there yet.
  await eventually(() => page.evaluate(fn, ...args).catch(() => false), what);
}

/** Loads a comparison and waits for its panes; `search` is the address it rewrites the query to. */
async function openComparison(page, origin, query, search = query) {
  await page.goto(`${origin}/${query}`);
  await untilLoaded(page, panesReady, `the panes of ${query}`, [search]);
}

/** The frame of pane `n` (from 1), for the adapters' `click` and `type`. */
const pane = (n) => ({ frame: `.compare-pane:nth-child(${n}) .compare-frame` });

/** What each pane's page shows, read from the top document. */
function paneStates() {
  return [...document.querySelectorAll('.compare-frame')].map((frame) => {
    const doc = frame.contentDocument;
    const box = doc.scrollingElement;
    const range = box.scrollHeight - box.clientHeight;
    return {
      scenario: doc.querySelector('#scenario').value,
      listen: doc.querySelector('#listen').checked,
      tab: doc.querySelector('.tabs [aria-selected="true"]').id,
      filter: doc.querySelector('#sniffer-filter').value,
      rows: doc.querySelectorAll('#sniffer-rows tr').length,
      scrolled: range > 0 ? Math.round((100 * box.scrollTop) / range) : null,
    };
  });
}

/** Polls the panes' states until `test` holds for them, and returns them. */
async function untilPanes(page, test, what) {
  let states;
  return eventually(async () => {
    states = await page.evaluate(paneStates);
    return test(states) && states;
  }, () => `${what}: ${JSON.stringify(states)}`);
}

/**
 * The comparison's layout once every caption names the width its pane's page
 * is laid out at (and the scale when smaller); null until then.
 */
function paneLayout(scaled) {
  const root = document.documentElement;
  const panes = [...document.querySelectorAll('.compare-pane')].map((p) => {
    const view = p.querySelector('.compare-view');
    const frame = p.querySelector('.compare-frame');
    const box = frame.getBoundingClientRect();
    const laidOut = frame.contentWindow.innerWidth;
    const scale = view.clientWidth / laidOut;
    return {
      laidOut,
      named: p.querySelector('.compare-size').textContent === `${laidOut} px${scaled || scale < 1 ? ` · ${Math.round(100 * scale)} %` : ''}`,
      fits: Math.abs(view.clientWidth - box.width) <= 1 && Math.abs(view.clientHeight - box.height) <= 1,
      top: Math.round(p.getBoundingClientRect().top),
    };
  });
  if (!panes.every((p) => p.named)) return null;
  return {
    count: panes.length,
    rows: new Set(panes.map((p) => p.top)).size,
    spill: Math.max(root.scrollWidth, document.body.scrollWidth) - root.clientWidth,
    fits: panes.every((p) => p.fits),
    laidOut: panes.map((p) => p.laidOut),
  };
}

function sideBySideChecks() {
  return [
    {
      name: 'side by side: each mode\'s panes at 1280 and 1600 px, without horizontal overflow, each page as wide as its caption says',
      async run(page, { origin }) {
        // mode, panes, rows at 1280 and at 1600 px
        const modes = [['concepts', 3, 1, 1], ['scenarios', 5, 2, 2], ['widths', 3, 1, 1]];
        for (const width of [1600, 1280]) {
          await page.resize(width, 1000);
          for (const [mode, count, ...rows] of modes) {
            await openComparison(page, origin, `?compare=${mode}&concept=studio&scenario=live`,
              mode === 'concepts' ? '?compare=concepts&scenario=live' : mode === 'scenarios' ? '?compare=scenarios&concept=studio' : undefined);
            const found = await until(page, paneLayout, `${mode} captions at ${width} px`, [mode === 'widths']);
            assert.deepEqual([found.count, found.rows, found.spill, found.fits], [count, rows[width === 1280 ? 0 : 1], 0, true],
              `${mode} at ${width} px: ${JSON.stringify(found)}`);
            assert.deepEqual(found.laidOut, mode === 'widths' ? [800, 1280, 1920] : Array(count).fill(found.laidOut[0]));
            assert.ok(found.laidOut[0] >= 600, `${mode} at ${width} px laid out ${found.laidOut[0]} px wide`);
          }
        }
        await page.resize(WIDTHS[0], 1000);
      },
    },
    {
      name: 'side by side: a label\'s checkbox, Connect, a tab, keystrokes and a scroll in one pane happen once in every pane; not with mirroring off',
      async run(page, { origin }) {
        await page.resize(WIDTHS[0], 1000);
        await openComparison(page, origin, '?compare=concepts&scenario=ready');
        // The label passes the click on to its checkbox; mirrored twice, it would tick and untick.
        await page.click('label:has(#listen)', pane(1));
        await page.click('#connect', pane(2));
        await untilPanes(page, (states) => states.every((state) => state.scenario === 'live'), 'every pane live');
        await page.click('#tab-sniffer', pane(3));
        await page.type('#sniffer-filter', '0x18', pane(1));
        let states = await untilPanes(page, (all) => all.every((state) => state.filter === '0x18'), 'the mirrored filter');
        assert.ok(states[0].rows > 0 && states[0].rows < 6, `${states[0].rows} rows match 0x18`);
        assert.deepEqual(states.map(({ scrolled, ...state }) => state),
          Array(3).fill({ scenario: 'live', listen: true, tab: 'tab-sniffer', filter: '0x18', rows: states[0].rows }));

        await page.evaluate(() => {
          const box = document.querySelector('.compare-frame').contentDocument.scrollingElement;
          box.scrollTop = (box.scrollHeight - box.clientHeight) / 2;
        });
        states = await untilPanes(page, (all) => all.slice(1).some((state) => state.scrolled !== null)
          && all.every((state) => state.scrolled === null || Math.abs(state.scrolled - 50) <= 2), 'the mirrored scroll');
        assert.equal(states[0].scrolled, 50);

        await page.click('#compare-mirror');
        await page.click('#tab-daq', pane(1));
        await untilPanes(page, (all) => all[0].tab === 'tab-daq', 'the first pane on DAQ');
        assert.deepEqual((await page.evaluate(paneStates)).map((state) => state.tab), ['tab-daq', 'tab-sniffer', 'tab-sniffer']);
      },
    },
    {
      name: 'side by side opens from the lab bar with the current choice and closes to the first pane\'s',
      async run(page, { origin }) {
        await openLab(page, origin, '?concept=bench&scenario=error');
        await page.click('#compare-open');
        await untilLoaded(page, panesReady, 'the comparison', ['?compare=concepts&scenario=error']);
        const captions = await page.evaluate(() => [...document.querySelectorAll('.compare-caption')]
          .map((caption) => [...caption.children].slice(0, 2).map((part) => part.textContent).join(' ')));
        assert.deepEqual(captions, ['A Dark studio · Connection failure · No notice', 'B Light workbench · Connection failure · No notice',
          'C Wide console · Connection failure · No notice']);
        await page.click('#compare-close');
        await untilLoaded(page, () => location.search === '?concept=studio&scenario=error' && !document.querySelector('.compare')
          && document.querySelector('#connection-status').childNodes.length > 0, 'the single page');
      },
    },
  ];
}
