// Benchmark: the side-by-side comparison in headless Chromium against the
// real launcher, measured as the page's own figures are (bench/page-trace.mjs).
//
//   node bench/side-by-side.mjs      (STUDIO_PREVIEW_BIN as for the browser tests)
//
// Start-up: the comparison of the three concepts against the single page, a
// fresh tab per load, main-thread task time from the top document's
// navigation start to the first frame after its load event (which waits for
// the panes' pages) and the first heartbeat. Each round loads both, the order
// alternating from round to round; medians of STARTUP_ROUNDS rounds. The goal:
// no more than three single pages.
//
// Mirrored click: a click on the first pane's Sniffer tab with the other two
// panes following, every pane back on the Monitor tab before each cycle; the
// baseline cycle is the same click with mirroring switched off, so the
// difference is what the replay costs in the other two panes. ROUNDS rounds of
// 12 cycles (see frame-budgets.mjs).

import { launchBrowser, startLauncher } from '../studio-preview/e2e/fixture.mjs';
import { runFrameBudgets } from './frame-budgets.mjs';
import { measureLoad } from './page-rows.mjs';
import { loadTaskTime, median, ms, printTable } from './page-trace.mjs';

const STARTUP_ROUNDS = Number(process.env.BENCH_STARTUP_ROUNDS ?? 7);
const COMPARISON = '/?compare=concepts&scenario=ready';
const SINGLE = '/?concept=studio&scenario=ready';

/** The middle of an element of pane `n` (from 1) as drawn, in the top document's coordinates. */
function paneTarget(page, n, selector) {
  return page.evaluate(([index, inside]) => {
    const frame = document.querySelectorAll('.compare-frame')[index];
    const drawn = frame.getBoundingClientRect();
    const scale = drawn.width / frame.offsetWidth;
    const box = frame.contentDocument.querySelector(inside).getBoundingClientRect();
    return { x: drawn.left + (box.left + box.width / 2) * scale, y: drawn.top + (box.top + box.height / 2) * scale };
  }, [n - 1, selector]);
}

const mirroring = (page) => page.evaluate(() => document.querySelector('#compare-mirror').getAttribute('aria-checked') === 'true');

async function setMirroring(page, on) {
  if ((await mirroring(page)) !== on) await page.click('#compare-mirror');
}

function mirroredClick() {
  const at = {};
  const click = (page, { x, y }) => page.mouse.click(x, y);
  return {
    key: 'mirror',
    label: 'a click on a workspace tab in one of three panes, mirrored into the other two',
    target: null,
    samples: 12,
    async setup(page) {
      await page.goto(`${page.url().split('/?')[0]}${COMPARISON}`);
      await page.waitForFunction(() => [...document.querySelectorAll('.compare-pane')].every((pane) => !pane.hasAttribute('aria-busy')));
      await page.selectOption('#scenario', 'live');
      at.monitor = await paneTarget(page, 1, '#tab-monitor');
      at.sniffer = await paneTarget(page, 1, '#tab-sniffer');
    },
    // Every pane back on Monitor, then mirroring on for the measured click, off for the baseline's.
    async before(page, i, prefix) {
      await setMirroring(page, true);
      await click(page, at.monitor);
      await setMirroring(page, !prefix.endsWith('idle'));
    },
    act: (page) => click(page, at.sniffer),
    idle: (page) => click(page, at.sniffer),
    async check(page) {
      const tabs = await page.evaluate(() => [...document.querySelectorAll('.compare-frame')]
        .map((frame) => frame.contentDocument.querySelector('.tabs [aria-selected="true"]').id));
      if (tabs.join() !== 'tab-sniffer,tab-sniffer,tab-sniffer') throw new Error(`the click was not mirrored: ${tabs}`);
    },
  };
}

async function measureStartup() {
  const launcher = await startLauncher();
  const browser = await launchBrowser();
  const runs = { single: [], comparison: [] };
  try {
    for (let round = 0; round < STARTUP_ROUNDS; round += 1) {
      const order = round % 2 ? ['comparison', 'single'] : ['single', 'comparison'];
      for (const kind of order) {
        const { trace } = await measureLoad(browser, `${launcher.origin}${kind === 'single' ? SINGLE : COMPARISON}`, true);
        runs[kind].push(loadTaskTime(trace, 'bench-load-end'));
      }
    }
  } finally {
    await browser.close();
    await launcher.stop();
  }
  const med = (list) => ({ cpu: median(list.map((r) => r.cpu)), wall: median(list.map((r) => r.wall)) });
  return { single: med(runs.single), comparison: med(runs.comparison) };
}

const { single, comparison } = await measureStartup();
console.log(`Start-up, main-thread time, headless Chromium, medians of ${STARTUP_ROUNDS} alternating rounds:`);
const fig = (r) => `${ms(r.cpu, 0)} CPU, ${ms(r.wall, 0)} tasks`;
printTable(['start-up', 'measured', 'ratio to 3 single pages (CPU, tasks)'], [
  ['single page', fig(single), ''],
  ['comparison of the three concepts', fig(comparison),
    `${(comparison.cpu / (3 * single.cpu)).toFixed(2)}, ${(comparison.wall / (3 * single.wall)).toFixed(2)}`],
]);
await runFrameBudgets([mirroredClick()]);
