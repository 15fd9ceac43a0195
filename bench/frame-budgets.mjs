// Benchmark: the page's frame budgets. Main-thread time per interaction in
// headless Chromium against the real launcher, measured the same way for
// every row (see page-trace.mjs), and the start-up of the page.
//
//   node bench/frame-budgets.mjs [row keys…]       rows: daq daqtext pan monitor sniffer tree startup
//   BENCH_BASELINE_BIN=path/to/other/launcher node bench/frame-budgets.mjs
//
// With BENCH_BASELINE_BIN a second launcher (for example a build of an
// earlier revision) runs side by side: every round measures both, one after
// the other, and the table shows both figures and their ratio. Each
// interaction takes ROUNDS rounds of SAMPLES input cycles, each cycle paired
// with a baseline cycle of the same input without effect; medians over all
// rounds, baseline subtracted. Start-up: a fresh tab per round, main-thread
// task time from navigation start to the first frame after the load event and
// the first heartbeat, against a trivial page (the launcher's icon) loaded
// the same way in the same round.

import { pathToFileURL } from 'node:url';
import { launchBrowser, startLauncher } from '../studio-preview/e2e/fixture.mjs';
import { loadTaskTime, measureInteraction, median, ms, printTable, summarize } from './page-trace.mjs';
import { INTERACTIONS, VIEWPORT, measureLoad } from './page-rows.mjs';

const ROUNDS = Number(process.env.BENCH_ROUNDS ?? 5);
const STARTUP_ROUNDS = Number(process.env.BENCH_STARTUP_ROUNDS ?? 7);

async function startLaunchers() {
  const launchers = [{ name: 'this build', launcher: await startLauncher() }];
  const baseline = process.env.BENCH_BASELINE_BIN;
  if (baseline) {
    const saved = process.env.STUDIO_PREVIEW_BIN;
    process.env.STUDIO_PREVIEW_BIN = baseline;
    try {
      launchers.push({ name: 'baseline', launcher: await startLauncher() });
    } finally {
      if (saved === undefined) delete process.env.STUDIO_PREVIEW_BIN;
      else process.env.STUDIO_PREVIEW_BIN = saved;
    }
  }
  return launchers;
}

async function openReady(browser, origin) {
  const context = await browser.newContext({ viewport: VIEWPORT });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(`${origin}/?concept=studio&scenario=ready`);
  return { context, page, errors };
}

/** Measures one interaction row on every launcher, alternating per round. */
async function measureRow(browser, launchers, row) {
  const labs = [];
  for (const { launcher } of launchers) {
    const lab = await openReady(browser, launcher.origin);
    await row.setup(lab.page);
    labs.push({ ...lab, rounds: [] });
  }
  try {
    for (let round = 0; round < ROUNDS; round += 1) {
      for (const lab of labs) lab.rounds.push(await measureInteraction(browser, lab.page, { ...row, warm: round ? 1 : 3 }));
    }
    for (const lab of labs) {
      await row.check?.(lab.page);
      if (lab.errors.length) throw new Error(`page errors: ${lab.errors.join('; ')}`);
    }
    return labs.map((lab) => summarize(lab.rounds));
  } finally {
    for (const lab of labs) await lab.context.close();
  }
}

/** Start-up of the lab on every launcher and of a trivial page, alternating per round. */
async function measureStartup(browser, launchers) {
  const lab = launchers.map(() => []);
  const trivial = [];
  for (let round = 0; round < STARTUP_ROUNDS; round += 1) {
    const plain = await measureLoad(browser, `${launchers[0].launcher.origin}/quillcan-icon.png`, false);
    trivial.push({ ...loadTaskTime(plain.trace, 'bench-load-end'), fcp: plain.fcp });
    for (const [i, { launcher }] of launchers.entries()) {
      const run = await measureLoad(browser, `${launcher.origin}/?concept=studio&scenario=ready`, true);
      lab[i].push({ ...loadTaskTime(run.trace, 'bench-load-end'), fcp: run.fcp });
    }
  }
  const med = (runs) => ({ cpu: median(runs.map((r) => r.cpu)), wall: median(runs.map((r) => r.wall)), fcp: median(runs.map((r) => r.fcp)) });
  return { lab: lab.map(med), trivial: med(trivial) };
}

/** Runs the rows (and the start-up when `startup`), then prints the table. */
export async function runFrameBudgets(rows, { startup = false } = {}) {
  const launchers = await startLaunchers();
  const browser = await launchBrowser();
  const table = [];
  const compare = launchers.length > 1;
  // One tab per launcher stays open throughout: its heartbeat keeps the
  // launcher running between rows and start-up rounds, when no other tab is.
  for (const entry of launchers) entry.keeper = await openReady(browser, entry.launcher.origin);
  try {
    for (const row of rows) {
      const [mine, base] = await measureRow(browser, launchers, row);
      const cells = [row.label, row.target === null ? '—' : `≤ ${row.target} ms`, `${ms(mine.cpu)} (${ms(mine.wall)} wall)`];
      if (compare) cells.push(`${ms(base.cpu)} (${ms(base.wall)} wall)`, (mine.cpu / base.cpu).toFixed(2));
      cells.push(row.target === null ? '' : mine.cpu <= row.target ? 'met' : 'NOT met');
      table.push(cells);
      console.error(`${row.key}: ${mine.samples} cycles, baseline share ${ms(mine.baseCpu, 2)} CPU subtracted; ${cells.slice(2).join(' | ')}`);
    }
    if (startup) {
      const { lab, trivial } = await measureStartup(browser, launchers);
      const fig = (r) => `${ms(r.cpu, 0)} CPU, ${ms(r.wall, 0)} tasks; FCP ${ms(r.fcp, 0)}`;
      const cells = ['start-up: navigation to the first frame after load and the first heartbeat', 'half of the baseline', fig(lab[0])];
      if (compare) cells.push(fig(lab[1]), (lab[0].wall / lab[1].wall).toFixed(2));
      cells.push(compare ? (lab[0].wall <= lab[1].wall / 2 ? 'met' : 'NOT met') : '—');
      table.push(cells);
      table.push(['for comparison, a trivial page (the icon) loaded the same way', '—', fig(trivial), ...(compare ? ['', ''] : []), '']);
    }
  } finally {
    await browser.close();
    for (const { launcher } of launchers) await launcher.stop();
  }
  console.log(`Main-thread time, headless Chromium, medians of ${ROUNDS} rounds (start-up: ${STARTUP_ROUNDS} rounds):`);
  printTable(['interaction', 'target', 'this build', ...(compare ? ['baseline', 'ratio'] : []), ''], table);
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const wanted = process.argv.slice(2);
  const pick = (key) => !wanted.length || wanted.includes(key);
  await runFrameBudgets(INTERACTIONS.filter((row) => pick(row.key)), { startup: pick('startup') });
}
