// The DAQ view on the page served by the real launcher: measurement and event
// selectors, the DAQ list, connection and acquisition with their XCP log
// sequences (the 250 ms ticks driven by page.clock), the DTO budget, the log's
// Polls toggle and cap, the CSV download, the advanced memory and unlock
// actions, listen-only mode and the refusal of unusable polling periods.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';

const { withLab } = useLab();

const TICK = 250;

/** Opens the lab live (after loading `extraA2l` more A2L files while ready) on the DAQ tab, with the clock held. */
async function openDaq(page, extraA2l = 0) {
  if (extraA2l) {
    await page.click('details:has(#load-a2l) > summary');
    for (let i = 0; i < extraA2l; i++) await page.click('#load-a2l');
    await page.selectOption('#scenario', 'live');
  }
  await page.click('#tab-daq');
  await page.evaluate(async () => {
    window.app = await import(new URL('./app.js', location.href).href);
  });
}

const LIVE = { query: '?scenario=live', clock: true };
const READY = { query: '?scenario=ready', clock: true };

/** Adds a measurement (by key) bound to an event name or "poll" with a period. */
async function addRow(page, key, event, period) {
  await page.selectOption('#daq-measure', key);
  await page.selectOption('#daq-event', event);
  if (period !== undefined) await page.fill('#daq-rate', period);
  await page.click('#daq-add');
}

/** The status strip and the buttons' enabled states. */
function status(page) {
  return page.evaluate(() => {
    const q = (s) => document.querySelector(s);
    const on = (s) => !q(s).disabled;
    return {
      state: q('#daq-xcp-state').textContent, dot: q('#daq-xcp-dot').className, ids: q('#daq-ids').textContent,
      a2l: q('#daq-a2l').textContent, mode: q('#daq-mode').className + '|' + q('#daq-mode').textContent,
      stats: q('#daq-stats').textContent, overrun: q('#daq-stats').classList.contains('overrun'),
      count: q('#daq-count').textContent, connect: [q('#daq-connect').textContent, on('#daq-connect')],
      run: [q('#daq-run').textContent, on('#daq-run')], export: on('#daq-export'), add: on('#daq-add'),
      advanced: ['#xcp-up-read', '#xcp-dn-write', '#xcp-seed-get', '#xcp-unlock'].filter(on).length,
    };
  });
}

/** Shown log lines, oldest first, as "DIR summary | detail". */
async function log(page) {
  const lines = await page.$$eval('#daq-log > li.daq-log-line', (items) => items.map((li) =>
    `${li.querySelector('.daq-dir').textContent} ${li.querySelector('.daq-summary').textContent}`
    + (li.querySelector('.daq-detail') ? ` | ${li.querySelector('.daq-detail').textContent}` : '')));
  return lines.reverse();
}

/** Log lines added by `action`, oldest first. */
async function logged(page, action) {
  const before = await page.evaluate(() => window.app.xcpState.log.length);
  await action();
  const entries = await page.evaluate(() => window.app.xcpState.log.map((e) =>
    `${e.dir} ${e.summary}${e.detail !== undefined ? ` | ${e.detail}` : ''}`));
  return entries.slice(0, Math.max(0, entries.length - before)).reverse();
}

/** The rows of the DAQ list, cell texts by class. */
function rows(page) {
  return page.$$eval('#daq-list > li.daq-row', (items) => items.map((li) => ({
    key: li.dataset.key, stale: li.classList.contains('stale'),
    ...Object.fromEntries(['daq-name', 'daq-file', 'daq-event-cell', 'daq-raw', 'daq-phys', 'daq-unit', 'daq-min', 'daq-max']
      .map((c) => [c.slice(4), li.querySelector(`.${c}`).textContent])),
  })));
}

const options = (page, id) => page.$$eval(`#${id} option`, (list) => list.map((o) => o.textContent));

describe('selectors and the DAQ list', () => {
  it('starts disconnected on ecu.a2l with the 10 ms raster and fills rows with the pre-acquired samples', async () => {
    await withLab(LIVE, async (page) => {
      await openDaq(page);
      assert.deepEqual(await status(page), {
        state: 'XCP disconnected', dot: 'dot', ids: 'CRO 0x600 → DTO 0x601', a2l: 'ecu.a2l · 2 measurements',
        mode: 'tag daq-mode polling|POLLING', stats: '0 DTO/s · 0 overrun', overrun: false, count: '0 signals',
        connect: ['Connect XCP', true], run: ['▶ Start acquisition', false], export: false, add: true, advanced: 0,
      });
      assert.deepEqual(await options(page, 'daq-measure'),
        ['engine.rpm · ecu.a2l · 0x20001000 F32', 'engine.load · ecu.a2l · 0x20001004 F32']);
      assert.deepEqual(await options(page, 'daq-event'),
        ['1ms_task · 1 ms', '10ms_task · 10 ms', '100ms_task · 100 ms', 'Polling (SHORT_UPLOAD)']);
      assert.equal(await page.inputValue('#daq-event'), '10ms_task');
      assert.deepEqual(await page.$eval('#daq-rate', (f) => [f.value, f.disabled]), ['10', true]);
      assert.equal(await page.isVisible('#daq-empty-xcp'), false);
      assert.equal(await page.isVisible('#daq-panel .daq-cols'), false);
      assert.equal(await page.textContent('#daq-list'), 'No measurements in the DAQ list.');

      await addRow(page, 'ecu.a2l:engine.rpm', '10ms_task');
      assert.deepEqual(await options(page, 'daq-measure'), ['engine.load · ecu.a2l · 0x20001004 F32']);
      await addRow(page, 'ecu.a2l:engine.load', '1ms_task');
      const [rpm, load] = await rows(page);
      assert.deepEqual(rpm, { key: 'ecu.a2l:engine.rpm', stale: true, name: 'engine.rpm', file: 'ecu.a2l',
        'event-cell': '10ms_task · 10 ms', raw: '3C 24 19 45', phys: '2450.3', unit: 'rpm', min: rpm.min, max: rpm.max });
      assert.deepEqual([load.phys, load.unit, load['event-cell']], ['35.77', '%', '1ms_task · 1 ms']);
      assert.ok(Number(rpm.min) <= 2450.3 && Number(rpm.max) >= 2450.3 && Number(rpm.max) - Number(rpm.min) > 60);
      assert.deepEqual(await options(page, 'daq-measure'), ['All measurements acquired']);
      const s = await status(page);
      assert.deepEqual([s.count, s.mode, s.add, s.export], ['2 signals · 2 DAQ lists', 'tag daq-mode daq|DAQ', false, true]);
      assert.equal(await page.isDisabled('#daq-measure'), true);
      assert.equal(await page.isVisible('#daq-panel .daq-cols'), true);

      // The trend is scaled to the samples on show: 48 points across 0…96, the extremes at 16.5 and 1.5.
      const points = await page.$eval('#daq-list .daq-trend polyline', (p) => p.getAttribute('points').split(' '));
      assert.equal(points.length, 48);
      assert.deepEqual([points[0].split(',')[0], points[47].split(',')[0]], ['0.0', '96.0']);
      const ys = points.map((p) => Number(p.split(',')[1]));
      assert.deepEqual([Math.min(...ys), Math.max(...ys)], [1.5, 16.5]);
      assert.equal(await page.evaluate(() => window.app.daqSparkline([5, 5, 5]).querySelector('polyline').getAttribute('points')),
        '0.0,9.0 48.0,9.0 96.0,9.0');

      // Reset on a stale row pins min and max to the shown value; remove gives the measurement back.
      await page.click('[aria-label="Reset min/max for engine.rpm"]');
      const [reset] = await rows(page);
      assert.deepEqual([reset.min, reset.max], ['2450.3', '2450.3']);
      await page.click('[aria-label="Remove engine.rpm"]');
      assert.deepEqual((await rows(page)).map((r) => r.key), ['ecu.a2l:engine.load']);
      assert.deepEqual(await options(page, 'daq-measure'), ['engine.rpm · ecu.a2l · 0x20001000 F32']);
      assert.equal((await status(page)).count, '1 signal · 1 DAQ list');
    });
  });

  it('follows loaded A2L files: events per file, the summary, generated files without unit', async () => {
    await withLab(READY, async (page) => {
      await openDaq(page, 2);
      const s = await status(page);
      assert.deepEqual([s.ids, s.a2l], ['CRO 0x600 → DTO 0x601', '3 A2L · 4 measurements']);
      await page.selectOption('#daq-measure', 'gateway.a2l:bus.load');
      assert.deepEqual(await options(page, 'daq-event'), ['cyclic_50ms · 50 ms', 'Polling (SHORT_UPLOAD)']);
      assert.deepEqual(await page.$eval('#daq-rate', (f) => [f.value, f.disabled]), ['50', true]);
      await page.selectOption('#daq-event', 'poll');
      assert.deepEqual(await page.$eval('#daq-rate', (f) => [f.value, f.disabled]), ['50', false]);

      // Two rows on 10ms_task of two files: two DAQ lists in the label, one list allocated on the ECU side.
      await addRow(page, 'ecu.a2l:engine.rpm', '10ms_task');
      await addRow(page, 'module3.a2l:signal', '10ms_task');
      await addRow(page, 'gateway.a2l:bus.load', 'poll', '20');
      assert.equal((await status(page)).count, '3 signals · 2 DAQ lists · 1 polled');
      const connect = await logged(page, () => page.click('#daq-connect'));
      assert.equal(connect[3], 'RES OK | dynamic DAQ · 5 events · timestamp 4 B');
      assert.deepEqual(await logged(page, () => page.click('#daq-run')), [
        'CRO FREE_DAQ', 'CRO ALLOC_DAQ | 1 list',
        'CRO SET_DAQ_PTR | daq 0 · odt 0 · entry 0', 'CRO WRITE_DAQ | engine.rpm @ 0x20001000 · F32',
        'CRO SET_DAQ_PTR | daq 1 · odt 0 · entry 0', 'CRO WRITE_DAQ | signal @ 0x20003000 · F32',
        'CRO SET_DAQ_LIST_MODE | daq 0 → 10ms_task · timestamp', 'CRO START_STOP_SYNCH | start selected',
        'RES OK | first PID 0x10',
      ]);
      assert.equal((await status(page)).stats, '250 DTO/s · 0 overrun');
      const tick = await logged(page, () => page.clock.runFor(TICK));
      assert.deepEqual(tick.map((line) => line.replace(/= \S+/, '= v').replace(/· [0-9A-F ]{11}$/, '· raw')), [
        'DAQ engine.rpm = v rpm | DAQ 0x20001000 · raw', 'DAQ signal = v | DAQ 0x20003000 · raw',
        'RES bus.load = v % | SHORT_UPLOAD 0x20002000 · raw']);

      // Export with the unit-less signal alone.
      await page.click('[aria-label="Remove engine.rpm"]');
      await page.click('[aria-label="Remove bus.load"]');
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#daq-export')]);
      const text = await (await download.createReadStream()).toArray().then((chunks) => Buffer.concat(chunks).toString());
      assert.equal(text.split('\n')[0], 'sample,signal');
      assert.match((await log(page)).at(-1), / × 1 signal → quillcan-daq\.csv$/);
    });
  });
});

describe('acquisition', () => {
  it('connects, acquires four samples a second per row, stops and continues the shared tick counter', async () => {
    await withLab(LIVE, async (page) => {
      await openDaq(page);
      await addRow(page, 'ecu.a2l:engine.rpm', '10ms_task');
      await addRow(page, 'ecu.a2l:engine.load', '1ms_task');
      assert.deepEqual(await logged(page, () => page.click('#daq-connect')), [
        'CRO CONNECT | mode 0', 'RES OK | resource CAL/PAG DAQ · MAX_CTO 8 · MAX_DTO 8 · XCP 1.4',
        'CRO GET_DAQ_PROCESSOR_INFO', 'RES OK | dynamic DAQ · 3 events · timestamp 4 B']);
      let s = await status(page);
      assert.deepEqual([s.state, s.dot, s.connect, s.run, s.advanced],
        ['XCP connected', 'dot ready', ['Disconnect XCP', true], ['▶ Start acquisition', true], 4]);
      assert.equal(await page.$eval('#daq-panel .daq-conn', (c) => c.classList.contains('on')), true);

      const start = await logged(page, () => page.click('#daq-run'));
      assert.equal(start.filter((line) => line.startsWith('CRO SET_DAQ_LIST_MODE')).length, 2);
      assert.equal(start[1], 'CRO ALLOC_DAQ | 2 lists');
      s = await status(page);
      assert.deepEqual([s.state, s.dot, s.stats, s.connect[1], s.run[0]],
        ['XCP acquiring', 'dot live', '1100 DTO/s · 0 overrun', false, '■ Stop acquisition']);
      assert.equal(await page.$eval('#daq-run', (b) => b.classList.contains('running')), true);

      const first = await logged(page, () => page.clock.runFor(TICK));
      const [rpm, load] = await rows(page);
      assert.deepEqual(first, ['DAQ engine.rpm = 2470.5 rpm | DAQ 0x20001000 · 3D 67 1A 45',
        `DAQ engine.load = ${load.phys} % | DAQ 0x20001004 · ${load.raw}`]);
      assert.deepEqual([rpm.stale, rpm.phys, rpm.raw, load.stale], [false, '2470.5', '3D 67 1A 45', false]);
      assert.notEqual(load.phys, '35.77');
      assert.equal((await logged(page, () => page.clock.runFor(1000))).length, 8);
      assert.equal(await page.evaluate(() => window.app.xcpState.tick), 5);

      assert.deepEqual(await logged(page, () => page.click('#daq-run')), ['CRO START_STOP_SYNCH | stop all', 'RES OK']);
      const frozen = await rows(page);
      assert.ok(frozen.every((r) => r.stale));
      assert.deepEqual(await logged(page, () => page.clock.runFor(2000)), []);
      assert.deepEqual(await rows(page), frozen);

      await page.click('#daq-run');
      await page.clock.runFor(TICK);
      const expected = await page.evaluate(() => window.app.daqSampleAt(window.app.daqList[0], 6).toFixed(1));
      assert.equal((await rows(page))[0].phys, expected);
      // Each row keeps exactly 48 samples.
      assert.deepEqual(await page.evaluate(() => window.app.daqList.map((r) => r.samples.length)), [48, 48]);

      // Leaving the tab or the live scenario neither stops nor disconnects.
      await page.click('#tab-monitor');
      await page.selectOption('#scenario', 'ready');
      assert.equal((await logged(page, () => page.clock.runFor(TICK))).length, 2);
      assert.equal((await status(page)).state, 'XCP acquiring');

      // Disconnect while acquiring stops first.
      assert.deepEqual(await logged(page, () => page.evaluate(() => window.app.connectXcp())), [
        'CRO START_STOP_SYNCH | stop all', 'RES OK', 'CRO DISCONNECT', 'RES OK']);
      s = await status(page);
      assert.deepEqual([s.state, s.run[1], s.advanced], ['XCP disconnected', false, 0]);
    });
  });

  it('reports an over-budget DTO rate once and counts overruns per tick; adding while acquiring writes the DAQ entry', async () => {
    await withLab(READY, async (page) => {
      await openDaq(page, 1);
      assert.equal((await status(page)).a2l, '2 A2L · 3 measurements');
      await addRow(page, 'ecu.a2l:engine.rpm', '1ms_task');
      await addRow(page, 'ecu.a2l:engine.load', '1ms_task');
      assert.equal((await logged(page, () => page.click('#daq-connect')))[3], 'RES OK | dynamic DAQ · 4 events · timestamp 4 B');
      await page.click('#daq-run');
      await page.clock.runFor(2 * TICK);
      assert.deepEqual([(await status(page)).stats, (await status(page)).overrun], ['2000 DTO/s · 0 overrun', false]);

      await page.selectOption('#daq-measure', 'gateway.a2l:bus.load');
      const added = await logged(page, () => addRow(page, 'gateway.a2l:bus.load', 'poll', '1'));
      assert.deepEqual(added, ['CRO SET_DAQ_PTR | daq 2 · odt 0 · entry 0', 'CRO WRITE_DAQ | bus.load @ 0x20002000 · F32', 'RES OK']);
      const counts = [];
      for (let i = 0; i < 3; i++) {
        await page.clock.runFor(TICK);
        counts.push((await status(page)).stats);
      }
      assert.deepEqual(counts, ['3000 DTO/s · 1 overrun', '3000 DTO/s · 2 overrun', '3000 DTO/s · 3 overrun']);
      assert.equal((await status(page)).overrun, true);
      const overloads = (await log(page)).filter((line) => line.startsWith('EV EV_DAQ_OVERLOAD'));
      assert.deepEqual(overloads, ['EV EV_DAQ_OVERLOAD | 3000 DTO/s exceeds the bus budget']);
      assert.equal(await page.$eval('#daq-log .daq-dir.ev', (tag) => getComputedStyle(tag).color), 'rgb(240, 199, 154)');

      // Stop keeps the count (the rate shows 0 while not acquiring); the next start resets it.
      await page.click('#daq-run');
      assert.deepEqual([(await status(page)).stats, (await status(page)).overrun], ['0 DTO/s · 3 overrun', true]);
      await page.click('#daq-run');
      assert.equal((await status(page)).stats, '3000 DTO/s · 0 overrun');

      // Removing rows while acquiring drops them; removing the last one stops.
      assert.deepEqual(await logged(page, () => page.click('[aria-label="Remove engine.rpm"]')), ['CRO WRITE_DAQ | drop engine.rpm']);
      await page.click('[aria-label="Remove bus.load"]');
      assert.deepEqual(await logged(page, () => page.click('[aria-label="Remove engine.load"]')),
        ['CRO WRITE_DAQ | drop engine.load', 'CRO START_STOP_SYNCH | stop all', 'RES OK']);
      const s = await status(page);
      assert.deepEqual([s.state, s.run, s.count], ['XCP connected', ['▶ Start acquisition', false], '0 signals']);
    });
  });

  it('starts polled rows without DAQ lists, and row buttons survive the re-render of every tick', async () => {
    await withLab(LIVE, async (page) => {
      await openDaq(page);
      await addRow(page, 'ecu.a2l:engine.rpm', 'poll', '100');
      await page.click('#daq-connect');
      assert.deepEqual(await logged(page, () => page.click('#daq-run')),
        ['CRO FREE_DAQ', 'CRO START_STOP_SYNCH | start selected', 'RES OK']);
      const s = await status(page);
      assert.deepEqual([s.mode, s.count, s.stats], ['tag daq-mode polling|POLLING', '1 signal · 1 polled', '10 DTO/s · 0 overrun']);
      assert.equal((await rows(page))[0]['event-cell'], 'poll · 100 ms');

      // A click whose press and release straddle a tick still resets; keyboard focus stays on the button.
      const reset = page.locator('[aria-label="Reset min/max for engine.rpm"]');
      await page.clock.runFor(TICK);
      const box = await reset.boundingBox();
      await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
      await page.mouse.down();
      await page.clock.runFor(TICK);
      await page.mouse.up();
      const [row] = await rows(page);
      assert.deepEqual([row.min, row.max], [row.phys, row.phys]);
      await reset.focus();
      await page.clock.runFor(3 * TICK);
      assert.equal(await page.evaluate(() => document.activeElement?.getAttribute('aria-label')), 'Reset min/max for engine.rpm');
      await page.keyboard.press('Enter');
      const [after] = await rows(page);
      assert.deepEqual([after.min, after.max], [after.phys, after.phys]);
    });
  });

  it('keeps acquiring under listen-only mode with Stop disabled; listen-only blocks adding, connecting and the advanced actions', async () => {
    await withLab(LIVE, async (page) => {
      await openDaq(page);
      await addRow(page, 'ecu.a2l:engine.rpm', '10ms_task');
      await page.click('#daq-connect');
      await page.click('#daq-run');
      await page.selectOption('#scenario', 'ready');
      await page.check('#listen');
      let s = await status(page);
      assert.deepEqual([s.state, s.run, s.connect[1], s.add, s.advanced],
        ['XCP acquiring', ['■ Stop acquisition', false], false, false, 0]);
      assert.equal((await logged(page, () => page.clock.runFor(TICK))).length, 1);
      await page.uncheck('#listen');
      s = await status(page);
      assert.deepEqual([s.run, s.add, s.advanced], [['■ Stop acquisition', true], true, 4]);
      await page.check('#listen');
      assert.deepEqual(await logged(page, () => page.evaluate(() => window.app.connectXcp())), []);
    });
  });
});

describe('XCP log', () => {
  it('hides and shows the sample lines, clears, and keeps the newest 300 entries', async () => {
    await withLab(LIVE, async (page) => {
      await openDaq(page);
      assert.deepEqual(await page.$eval('#daq-log-polls', (b) => [b.getAttribute('aria-pressed'), b.title]),
        ['true', 'Hide the live sample lines and show commands only']);
      assert.equal(await page.isDisabled('#daq-log-clear'), true);
      await addRow(page, 'ecu.a2l:engine.rpm', '10ms_task');
      await addRow(page, 'ecu.a2l:engine.load', 'poll', '10');
      await page.click('#daq-connect');
      await page.click('#daq-run');
      await page.clock.runFor(TICK);
      const all = await log(page);
      assert.equal(await page.textContent('#daq-log-count'), `${all.length} entries`);

      await page.click('#daq-log-polls');
      assert.deepEqual(await page.$eval('#daq-log-polls', (b) => [b.getAttribute('aria-pressed'), b.title]),
        ['false', 'Show the live sample lines merged into the log']);
      assert.equal(await page.textContent('#daq-log-count'), `${all.length - 2} entries · 2 polls hidden`);
      assert.ok((await log(page)).every((line) => /^(CRO|RES OK)/.test(line)));

      await page.click('#daq-log-clear');
      await page.clock.runFor(TICK);
      assert.equal(await page.textContent('#daq-log-count'), '0 entries · 2 polls hidden');
      assert.equal(await page.textContent('#daq-log'), 'No XCP activity yet.');
      await page.click('#daq-log-polls');
      assert.equal(await page.textContent('#daq-log-count'), '2 entries');

      // Two rows add eight lines a second; beyond 300 the oldest go.
      await page.clock.runFor(40_000);
      assert.equal(await page.textContent('#daq-log-count'), '300 entries');
      assert.equal(await page.locator('#daq-log > li').count(), 300);
      // The oldest kept line is engine.rpm's sample of the 150th-last tick.
      const oldest = await page.evaluate(() => {
        const { daqList, daqSampleAt, xcpState } = window.app;
        return `DAQ engine.rpm = ${daqSampleAt(daqList[0], xcpState.tick - 149).toFixed(1)} rpm`;
      });
      assert.equal((await log(page))[0].split(' | ')[0], oldest);
    });
  });
});

describe('CSV export', () => {
  it('downloads the 48 samples per row with no final line end, releases the object URL and logs the export', async () => {
    // Records every object URL made (with its blob's type) and released.
    const initScript = () => {
      window.objectUrls = { made: [], revoked: [] };
      const { createObjectURL, revokeObjectURL } = URL;
      URL.createObjectURL = (blob) => {
        const url = createObjectURL(blob);
        window.objectUrls.made.push([url, blob.type]);
        return url;
      };
      URL.revokeObjectURL = (url) => {
        window.objectUrls.revoked.push(url);
        revokeObjectURL(url);
      };
    };
    await withLab({ ...LIVE, initScript }, async (page) => {
      await openDaq(page);
      await addRow(page, 'ecu.a2l:engine.rpm', '10ms_task');
      await addRow(page, 'ecu.a2l:engine.load', '100ms_task');
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#daq-export')]);
      assert.equal(download.suggestedFilename(), 'quillcan-daq.csv');
      const text = Buffer.concat(await (await download.createReadStream()).toArray()).toString();
      const lines = text.split('\n');
      assert.equal(lines.length, 49);
      assert.deepEqual([lines[0], lines[1], lines[48]],
        ['sample,engine.rpm [rpm],engine.load [%]', '0,2439.8,35.58', '47,2450.3,35.77']);
      assert.ok(!text.endsWith('\n'));
      const [row] = await rows(page);
      const column = lines.slice(1).map((line) => Number(line.split(',')[1]));
      assert.deepEqual([row.min, row.max], [Math.min(...column).toFixed(1), Math.max(...column).toFixed(1)]);
      const { made, revoked } = await page.evaluate(() => window.objectUrls);
      const csvUrls = made.filter(([, type]) => type === 'text/csv').map(([url]) => url);
      assert.equal(csvUrls.length, 1);
      assert.ok(revoked.includes(csvUrls[0]), 'the CSV object URL is released');
      assert.deepEqual(await log(page), ['EV EXPORT | 48 samples × 2 signals → quillcan-daq.csv']);
    });
  });
});

describe('advanced memory access and unlock', () => {
  it('answers upload, download, seed and unlock from the fields or their placeholders', async () => {
    await withLab(LIVE, async (page) => {
      await openDaq(page);
      await page.click('#daq-advanced summary');
      assert.equal(await page.isDisabled('#xcp-up-read'), true);
      await page.click('#daq-connect');
      const run = (button) => logged(page, () => page.click(button));
      assert.deepEqual(await run('#xcp-up-read'), ['CRO SET_MTA | 0x20000000 · ext 0', 'CRO UPLOAD | 4 B', 'RES OK | 06 00 C0 58']);
      await page.fill('#xcp-up-len', '8');
      assert.equal((await run('#xcp-up-read'))[2], 'RES OK | 06 00 C0 58 2B 45 E8 BD');
      await page.fill('#xcp-up-len', '100');
      assert.deepEqual((await run('#xcp-up-read')).slice(1), ['CRO UPLOAD | 100 B', 'RES OK | 06 00 C0 58 2B 45 E8 BD']);
      for (const len of ['0', 'x', '-2', '2.5']) {
        await page.fill('#xcp-up-len', len);
        assert.deepEqual(await run('#xcp-up-read'), [], `length ${len}`);
      }
      // The address is hashed as typed.
      await page.fill('#xcp-up-len', '4');
      await page.fill('#xcp-up-addr', '0x20000000 ');
      const typed = await run('#xcp-up-read');
      assert.equal(typed[0], 'CRO SET_MTA | 0x20000000  · ext 0');
      assert.notEqual(typed[2], 'RES OK | 06 00 C0 58');

      assert.deepEqual(await run('#xcp-dn-write'), ['CRO SET_MTA | 0x20000000 · ext 0', 'CRO DOWNLOAD | DE AD BE EF', 'RES OK']);
      await page.fill('#xcp-dn-data', ' 12 ab <b>x</b> ');
      assert.equal((await run('#xcp-dn-write'))[1], 'CRO DOWNLOAD | 12 AB <B>X</B>');
      await page.fill('#xcp-dn-data', '   ');
      assert.deepEqual(await run('#xcp-dn-write'), []);

      assert.deepEqual(await run('#xcp-seed-get'), ['CRO GET_SEED | resource 0x01', 'RES OK | seed 6D 2F B8 14']);
      for (const key of ['', '   ']) {
        await page.fill('#xcp-key', key);
        assert.deepEqual(await run('#xcp-unlock'), ['ERR ERR_SEQUENCE | compute the key from the seed first']);
      }
      assert.equal(await page.$eval('#daq-log .daq-dir.err', (tag) => getComputedStyle(tag).backgroundColor), 'rgb(51, 32, 26)');
      await page.fill('#xcp-key', ' ab cd ');
      assert.deepEqual(await run('#xcp-unlock'), ['CRO UNLOCK | AB CD', 'RES OK | DAQ unlocked']);
      assert.equal(await page.locator('#daq-log b').count(), 0);
    });
  });
});

describe('polling period', () => {
  it('refuses a polled row whose period is empty, zero, negative or too small for a finite rate', async () => {
    await withLab(LIVE, async (page) => {
      await openDaq(page);
      await page.selectOption('#daq-event', 'poll');
      const form = () => page.evaluate(() => [document.querySelector('#daq-rate').classList.contains('invalid'),
        document.querySelector('#daq-add').disabled]);
      for (const period of ['', '0', '-5', '1e-320']) {
        await page.fill('#daq-rate', period);
        assert.deepEqual(await form(), [true, true], `period "${period}"`);
        await page.click('#daq-add', { force: true });
        assert.equal((await status(page)).count, '0 signals');
      }
      // An event channel fixes the period: the mark goes, the field shows the cycle.
      await page.selectOption('#daq-event', '100ms_task');
      assert.deepEqual([...await form(), await page.inputValue('#daq-rate')], [false, false, '100']);
      await page.selectOption('#daq-event', 'poll');
      await page.fill('#daq-rate', '0.5');
      assert.deepEqual(await form(), [false, false]);
      await page.click('#daq-add');
      await page.click('#daq-connect');
      await page.click('#daq-run');
      assert.equal((await status(page)).stats, '2000 DTO/s · 0 overrun');
    });
  });

  it('hashes each character by its first UTF-16 code unit into an unsigned 32-bit value', async () => {
    await withLab(LIVE, async (page) => {
      await openDaq(page);
      const seeds = await page.evaluate(() => ['engine.rpm', 'engine.load', 'a😀', 'a\uD83D', 'ÿÿÿÿÿÿÿÿ']
        .map((text) => window.app.daqSeed(text)));
      assert.deepEqual(seeds.slice(0, 2), [1438886979, 1655643410]);
      assert.equal(seeds[2], seeds[3]);
      assert.ok(seeds.every((h) => Number.isInteger(h) && h >= 0 && h < 2 ** 32));
    });
  });
});
