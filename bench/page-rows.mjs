// The interactions of the page's frame budgets, each set up on a fresh page
// of a running launcher and measured by measureInteraction (page-trace.mjs).
// A row: key, label, target (ms of main-thread time), samples, setup(page)
// and the act / idle inputs of one cycle.

import { nextFrame } from './page-trace.mjs';

export const VIEWPORT = { width: 1400, height: 1000 };

/** Clicks a load button `times` times in one task. */
async function loadFiles(page, kind, times) {
  await page.evaluate(([id, count]) => {
    const button = document.getElementById(id);
    for (let i = 0; i < count; i += 1) button.click();
  }, [`load-${kind}`, times]);
}

const noop = (page) => page.evaluate(() => {});

/** One DAQ tick with eight rows acquiring (four on ECU events, four polled) and the XCP log full. */
export const daqTick = {
  key: 'daq',
  label: 'one DAQ tick, 8 rows acquiring, XCP log full (300 lines)',
  target: 4,
  samples: 12,
  async setup(page) {
    // ecu.a2l holds two measurements; gateway.a2l and each generated A2L file one more.
    await loadFiles(page, 'a2l', 6);
    await page.selectOption('#scenario', 'live');
    await page.click('#tab-daq');
    for (let i = 0; i < 8; i += 1) {
      if (i % 2) {
        await page.selectOption('#daq-event', 'poll');
        await page.fill('#daq-rate', '20');
      }
      await page.click('#daq-add');
    }
    await page.click('#daq-connect');
    await page.click('#daq-run');
    // Take over the 250 ms timer (acquisition stays on), then fill the log.
    const setup = await page.evaluate(async () => {
      window.benchPage = await import(new URL('./app.js', location.href).href);
      const { xcpState, tickDaq, daqList } = window.benchPage;
      clearInterval(xcpState.timer);
      while (xcpState.log.length < 300) tickDaq();
      return { rows: daqList.length, running: xcpState.running, log: xcpState.log.length };
    });
    if (setup.rows !== 8 || !setup.running || setup.log !== 300) throw new Error(`unexpected DAQ set-up ${JSON.stringify(setup)}`);
  },
  act: (page) => page.evaluate(() => window.benchPage.tickDaq()),
  idle: noop,
  async check(page) {
    const lines = await page.$$eval('#daq-log > li', (all) => all.length);
    if (lines !== 300) throw new Error(`the XCP log shows ${lines} lines, not 300`);
  },
};

/**
 * For comparison with the tick: the least a frame of the DAQ panel can do,
 * one text changed, on the same page (acquiring, log full).
 */
export const daqText = {
  ...daqTick,
  key: 'daqtext',
  label: 'for comparison: one text of the DAQ panel changed, same page',
  target: null,
  act: (page, i) => page.evaluate((n) => {
    document.getElementById('daq-count').textContent = `${n} signals`;
  }, i),
};

/** One pointer move of a grab-pan on a zoomed chart; the baseline is the same move with no button pressed. */
export function plotPan() {
  let centre = null;
  const offset = (i) => (i % 2 ? -12 : 12);
  return {
    key: 'pan',
    label: 'one pointer move of a plot grab-pan',
    target: 8,
    samples: 12,
    async setup(page) {
      await page.selectOption('#scenario', 'live');
      await page.click('#tab-plots');
      await page.click('#plot-zoom-in');
      await page.click('#plot-zoom-in');
      const box = await page.locator('.plot-canvas').boundingBox();
      centre = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    },
    async before(page, i, prefix) {
      await page.mouse.move(centre.x, centre.y);
      if (prefix.endsWith('act') || prefix.startsWith('warm')) await page.mouse.down();
    },
    act: (page, i) => page.mouse.move(centre.x + offset(i), centre.y + offset(i)),
    idle: (page, i) => page.mouse.move(centre.x + offset(i), centre.y - offset(i)),
    async after(page, i, prefix) {
      if (prefix.endsWith('act') || prefix.startsWith('warm')) await page.mouse.up();
    },
    async check(page) {
      const pan = await page.evaluate(async () => {
        const { charts } = await import(new URL('./app.js', location.href).href);
        return charts[0].panX;
      });
      if (!Number.isFinite(pan)) throw new Error('the chart was not panned');
    },
  };
}

/** A row of keystrokes in a filter field; the baseline is a Shift press, which changes nothing. */
function filterKeys({ key, label, target, field, tab, keys, setup }) {
  return {
    key,
    label,
    target,
    samples: 12,
    async setup(page) {
      await setup?.(page);
      await page.selectOption('#scenario', 'live');
      await page.click(`#tab-${tab}`);
      await page.focus(field);
    },
    act: (page, i) => page.keyboard.press(keys[i % keys.length]),
    idle: (page) => page.keyboard.press('Shift'),
    async check(page) {
      if (!(await page.evaluate((selector) => document.activeElement === document.querySelector(selector), field))) {
        throw new Error(`${field} lost the focus`);
      }
    },
  };
}

/** Typed and taken back again, so the filter returns to empty every six keys. */
const TRAFFIC_KEYS = ['0', 'x', '1', 'Backspace', 'Backspace', 'Backspace'];

export const monitorFilter = filterKeys({
  key: 'monitor', label: 'one filter keystroke in Monitor', target: 8, field: '#filter', tab: 'monitor', keys: TRAFFIC_KEYS,
});

export const snifferFilter = filterKeys({
  key: 'sniffer', label: 'one filter keystroke in Sniffer', target: 8, field: '#sniffer-filter', tab: 'sniffer', keys: TRAFFIC_KEYS,
});

/** A name typed and deleted, then an index typed and deleted. */
const TREE_KEYS = [...'device', ...Array(6).fill('Backspace'), ...'0x1000', ...Array(6).fill('Backspace')];

export const treeFilter = filterKeys({
  key: 'tree',
  label: 'one object-tree filter keystroke, 180 extra files loaded',
  target: 10,
  field: '#obj-filter',
  tab: 'objects',
  keys: TREE_KEYS,
  async setup(page) {
    // The rest of each catalogue, then 60 generated files of each type.
    for (const kind of ['eds', 'dbc', 'a2l']) await loadFiles(page, kind, 61);
  },
});

export const INTERACTIONS = [daqTick, daqText, plotPan(), monitorFilter, snifferFilter, treeFilter];

/**
 * Start-up: a fresh tab navigates to `url`; measured up to the first frame
 * after both the load event and the first heartbeat request (when `ping`).
 * Returns main-thread task time { cpu, wall } from navigation start, and the
 * first contentful paint (ms after navigation start).
 */
export async function measureLoad(browser, url, ping) {
  const context = await browser.newContext({ viewport: VIEWPORT });
  try {
    const page = await context.newPage();
    const pinged = ping ? page.waitForRequest((request) => request.url().includes('/__studio/ping')) : null;
    pinged?.catch(() => {});
    await browser.startTracing(page, { categories: ['toplevel', 'blink.user_timing', 'loading'] });
    await page.goto(url, { waitUntil: 'load' });
    await pinged;
    await nextFrame(page);
    const fcp = await page.evaluate(() => {
      performance.mark('bench-load-end');
      return performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? NaN;
    });
    const trace = JSON.parse((await browser.stopTracing()).toString());
    return { trace, fcp };
  } finally {
    await context.close();
  }
}
