// Benchmark: main-thread time of one keystroke in the object tree's filter
// with a large workspace (the sample catalogues plus 60 generated files of
// each type, about 600 tree rows), in the real launcher and headless Chromium.
//
//   node bench/object-tree-filter.mjs      (after building the launcher; STUDIO_PREVIEW_BIN as for the browser tests)
//
// Each keystroke is a real key press in #obj-filter, which rebuilds the whole
// tree, followed by a wait for the next frame. A Chromium trace records every
// task of the page's main thread; a keystroke's time is the sum of the tasks
// between two marks placed before the key press and after the frame: thread
// CPU time (what the page itself costs, hardly affected by other load on the
// machine) and wall time (what the user waits on this machine at this moment).
// The same cycle with a key that changes nothing (Shift) gives the harness's
// own share, which is subtracted. Prints the medians of 20 keystrokes; the
// target is one frame, 16 ms.

import { launchBrowser, startLauncher } from '../studio-preview/e2e/fixture.mjs';
import { median, taskTimes } from './page-trace.mjs';

const GENERATED_PER_TYPE = 60;
const SAMPLES = 20;
const TARGET_MS = 16;
/** 20 key presses: type a name, delete it, type an index, delete part of it. */
const KEYS = [...'device', ...Array(6).fill('Backspace'), ...'0x1000', 'Backspace', 'Backspace'];

const launcher = await startLauncher();
const browser = await launchBrowser();
try {
  const page = await browser.newPage({ viewport: { width: 1400, height: 1000 } });
  await page.goto(`${launcher.origin}/?concept=studio&scenario=ready`);

  // The rest of each catalogue, then 60 generated files of each type.
  const files = await page.evaluate((generated) => ['eds', 'dbc', 'a2l'].map((kind) => {
    const button = document.getElementById(`load-${kind}`);
    const catalogueLeft = 1;
    for (let i = 0; i < catalogueLeft + generated; i += 1) button.click();
    return document.getElementById(`${kind}-list`).children.length;
  }), GENERATED_PER_TYPE);

  await page.selectOption('#scenario', 'live');
  await page.click('#tab-objects');
  const rows = await page.$$eval('#obj-tree > *', (all) => all.length);

  const nextFrame = () => page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0))));
  const mark = (name) => page.evaluate((label) => performance.mark(label), name);
  const cycle = async (prefix, i, key) => {
    await mark(`${prefix}${i}-start`);
    await page.keyboard.press(key);
    await nextFrame();
    await mark(`${prefix}${i}-end`);
  };

  await page.focus('#obj-filter');
  for (const key of ['a', 'Backspace', 'a', 'Backspace']) await cycle('warm', 0, key);

  await browser.startTracing(page, { categories: ['toplevel', 'blink.user_timing'] });
  for (let i = 0; i < SAMPLES; i += 1) await cycle('idle', i, 'Shift');
  for (let i = 0; i < SAMPLES; i += 1) await cycle('key', i, KEYS[i]);
  const trace = JSON.parse((await browser.stopTracing()).toString());
  if ((await page.inputValue('#obj-filter')) !== '0x10') throw new Error('the key presses did not reach the filter');

  const idle = taskTimes(trace, 'idle', SAMPLES);
  const keys = taskTimes(trace, 'key', SAMPLES);
  const result = {};
  for (const kind of ['cpu', 'wall']) {
    const share = median(idle.map((sample) => sample[kind]));
    result[kind] = { share, median: median(keys.map((sample) => sample[kind] - share)) };
  }
  const fmt = (ms) => ms.toFixed(1);
  console.log(`object tree filter keystroke: ${files[0]} EDS, ${files[1]} DBC, ${files[2]} A2L files loaded, ${rows} tree rows`);
  console.log(`  main-thread CPU time, median of ${SAMPLES}: ${fmt(result.cpu.median)} ms (harness share ${fmt(result.cpu.share)} ms subtracted)`);
  console.log(`  main-thread wall time, median of ${SAMPLES}: ${fmt(result.wall.median)} ms (harness share ${fmt(result.wall.share)} ms subtracted)`);
  console.log(`  target: under ${TARGET_MS} ms of main-thread time — ${result.cpu.median < TARGET_MS ? 'met' : 'NOT met'}`);
} finally {
  await browser.close();
  await launcher.stop();
}
