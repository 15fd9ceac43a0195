// Benchmark: main-thread time of one DAQ acquisition tick, with eight rows
// acquiring (four bound to ECU events, four polled) and the XCP log full (300
// entries), in the real launcher and headless Chromium.
//
//   node bench/daq-tick.mjs      (after building the launcher; STUDIO_PREVIEW_BIN as for the browser tests)
//
// The acquisition is started from the page's controls; the bench then takes
// over the 250 ms timer so that ticks happen only when it asks. Each sample is
// one tick (the page's own tick function, run in a task of its own) followed by
// a wait for the next frame, so that the style, layout and paint work the tick
// causes is counted. A Chromium trace records every task of the page's main
// thread; a tick's time is the sum of the tasks between two marks placed
// around it: thread CPU time (what the page itself costs, hardly affected by
// other load on the machine) and wall time (what the user waits on this machine
// at this moment). The same cycle without a tick gives the harness's own share,
// which is subtracted; the same cycle changing a single text in the panel shows
// what any frame of this page costs here. Besides, the tick function itself with the style and
// layout pass it forces is timed inside the page (wall time). Prints the
// medians of 40 ticks; the target is 4 ms.

import { launchBrowser, startLauncher } from '../studio-preview/e2e/fixture.mjs';
import { median, taskTimes } from './page-trace.mjs';

const ROWS = 8;
const SAMPLES = 40;
const TARGET_MS = 4;

const launcher = await startLauncher();
const browser = await launchBrowser();
try {
  const page = await browser.newPage({ viewport: { width: 1400, height: 1000 } });
  await page.goto(`${launcher.origin}/?concept=studio&scenario=ready`);
  // ecu.a2l holds two measurements; gateway.a2l and each generated A2L file one more.
  await page.evaluate((more) => {
    for (let i = 0; i < more; i += 1) document.getElementById('load-a2l').click();
  }, ROWS - 2);
  await page.selectOption('#scenario', 'live');
  await page.click('#tab-daq');
  for (let i = 0; i < ROWS; i += 1) {
    if (i % 2) {
      await page.selectOption('#daq-event', 'poll');
      await page.fill('#daq-rate', '20');
    }
    await page.click('#daq-add');
  }
  await page.click('#daq-connect');
  await page.click('#daq-run');

  // Take over the timer (acquisition stays on), then fill the log.
  const setup = await page.evaluate(async () => {
    window.daqBench = await import(new URL('./app.js', location.href).href);
    const { xcpState, tickDaq, daqList } = window.daqBench;
    clearInterval(xcpState.timer);
    while (xcpState.log.length < 300) tickDaq();
    return { rows: daqList.length, running: xcpState.running, log: xcpState.log.length };
  });
  if (setup.rows !== ROWS || !setup.running || setup.log !== 300) throw new Error(`unexpected set-up ${JSON.stringify(setup)}`);

  const nextFrame = () => page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0))));
  const mark = (name) => page.evaluate((label) => performance.mark(label), name);
  const cycle = async (prefix, i, tick) => {
    await mark(`${prefix}${i}-start`);
    await page.evaluate((run) => {
      if (run === 'tick') window.daqBench.tickDaq();
      // One text changed, as the least a frame of the panel can do.
      else if (run === 'text') document.getElementById('daq-count').textContent = `${performance.now()}`;
    }, tick);
    await nextFrame();
    await mark(`${prefix}${i}-end`);
  };
  // The tick function plus the style and layout it leaves to do, timed in the page.
  const ownTimes = () => page.evaluate(async (count) => {
    const times = [];
    for (let i = 0; i < count; i += 1) {
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
      const start = performance.now();
      window.daqBench.tickDaq();
      void document.body.offsetHeight;
      times.push(performance.now() - start);
    }
    return times;
  }, SAMPLES);

  for (let i = 0; i < 5; i += 1) await cycle('warm', i, 'tick');
  const tickBefore = await page.evaluate(() => window.daqBench.xcpState.tick);
  await browser.startTracing(page, { categories: ['toplevel', 'blink.user_timing'] });
  for (let i = 0; i < SAMPLES; i += 1) await cycle('idle', i, 'none');
  for (let i = 0; i < SAMPLES; i += 1) await cycle('text', i, 'text');
  for (let i = 0; i < SAMPLES; i += 1) await cycle('tick', i, 'tick');
  const trace = JSON.parse((await browser.stopTracing()).toString());
  const own = await ownTimes();
  const after = await page.evaluate(() => ({ tick: window.daqBench.xcpState.tick, lines: document.querySelectorAll('#daq-log > li').length }));
  if (after.tick - tickBefore !== 2 * SAMPLES || after.lines !== 300) throw new Error(`unexpected run ${JSON.stringify(after)}`);

  const idle = taskTimes(trace, 'idle', SAMPLES);
  const ticks = taskTimes(trace, 'tick', SAMPLES);
  const texts = taskTimes(trace, 'text', SAMPLES);
  const result = {};
  for (const kind of ['cpu', 'wall']) {
    const share = median(idle.map((sample) => sample[kind]));
    result[kind] = { share, median: median(ticks.map((sample) => sample[kind] - share)),
      text: median(texts.map((sample) => sample[kind] - share)) };
  }
  const fmt = (ms) => ms.toFixed(2);
  console.log(`DAQ acquisition tick: ${ROWS} rows acquiring, XCP log full (${after.lines} lines)`);
  console.log(`  main-thread CPU time, median of ${SAMPLES}: ${fmt(result.cpu.median)} ms (harness share ${fmt(result.cpu.share)} ms subtracted)`);
  console.log(`  main-thread wall time, median of ${SAMPLES}: ${fmt(result.wall.median)} ms (harness share ${fmt(result.wall.share)} ms subtracted)`);
  console.log(`  for comparison, a frame that changes one text of the panel: ${fmt(result.cpu.text)} ms CPU, ${fmt(result.wall.text)} ms wall`);
  console.log(`  tick function with its style and layout, wall time in the page, median of ${SAMPLES}: ${fmt(median(own))} ms`);
  console.log(`  target: under ${TARGET_MS} ms of main-thread time — ${result.cpu.median < TARGET_MS ? 'met' : 'NOT met'}`);
} finally {
  await browser.close();
  await launcher.stop();
}
