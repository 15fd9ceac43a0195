// Helpers shared by the page benchmarks: timing interactions of the page in
// headless Chromium from a trace of its main thread, and printing the table.
//
// An interaction is measured as a cycle: a mark, the input, a wait for the
// next frame (so that the style, layout and paint work the input causes is
// counted), a second mark. Its time is the sum of the page main thread's
// top-level tasks between the two marks: thread CPU time (what the page itself
// costs, hardly affected by other load on the machine) and wall time (what the
// user waits on this machine at this moment). Each input cycle is paired with
// a cycle of the same kind of input that has no effect (the baseline), run
// alternately in the same trace; the median of the baseline is subtracted from
// the median of the inputs.

export function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

/** The page main thread's top-level tasks, in time order (nested ones left out). */
function topLevelTasks(events, pid, tid) {
  const tasks = events
    .filter((e) => e.ph === 'X' && e.name === 'ThreadControllerImpl::RunTask' && e.pid === pid && e.tid === tid)
    .sort((a, b) => a.ts - b.ts);
  const topLevel = [];
  for (const task of tasks) {
    const last = topLevel.at(-1);
    if (!last || task.ts >= last.ts + last.dur) topLevel.push(task);
  }
  return topLevel;
}

/** Summed wall and CPU milliseconds of the tasks that start within [start, end] (microseconds). */
function sumTasks(tasks, start, end) {
  const inside = tasks.filter((task) => task.ts >= start && task.ts <= end);
  return {
    wall: inside.reduce((sum, task) => sum + task.dur, 0) / 1000,
    cpu: inside.reduce((sum, task) => sum + (task.tdur ?? task.dur), 0) / 1000,
  };
}

/** Per mark pair `${prefix}${i}-start` … `-end`: summed wall and CPU milliseconds of the main thread's tasks between them. */
export function taskTimes(trace, prefix, count) {
  const events = trace.traceEvents;
  const marks = new Map(events.filter((e) => e.cat === 'blink.user_timing' && e.name.startsWith(prefix)).map((e) => [e.name, e]));
  const first = marks.get(`${prefix}0-start`);
  if (!first) throw new Error(`no marks ${prefix}* in the trace`);
  const tasks = topLevelTasks(events, first.pid, first.tid);
  const result = [];
  for (let i = 0; i < count; i += 1) {
    result.push(sumTasks(tasks, marks.get(`${prefix}${i}-start`).ts, marks.get(`${prefix}${i}-end`).ts));
  }
  return result;
}

/**
 * The main-thread time of a page load: the tasks of the thread that placed
 * the mark `endMark`, from that document's navigation start to the mark.
 */
export function loadTaskTime(trace, endMark) {
  const events = trace.traceEvents;
  const end = events.find((e) => e.cat === 'blink.user_timing' && e.name === endMark);
  if (!end) throw new Error(`no mark ${endMark} in the trace`);
  // Images and other sub-documents (the SVG files) start navigations of their
  // own on that thread, and so do the frames of a page that holds some; the
  // page's own is the main frame's that names its address.
  const starts = events.filter((e) => e.name === 'navigationStart' && e.pid === end.pid && e.ts <= end.ts
    && e.args?.data?.documentLoaderURL?.startsWith('http') && e.args.data.isLoadingMainFrame !== false);
  if (!starts.length) throw new Error('no navigation start of the page in the trace');
  const start = Math.max(...starts.map((e) => e.ts));
  return sumTasks(topLevelTasks(events, end.pid, end.tid), start, end.ts);
}

/** Waits until the page has drawn its next frame and the task after it has run. */
export const nextFrame = (page) => page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0))));

/**
 * Measures one interaction on an open page. `row`:
 *   act(page, i)    the input (i counts from 0);
 *   idle(page, i)   the same kind of input without effect (the baseline);
 *   before(page, i) / after(page, i)  optional steps around each input, outside the marks;
 *   samples         number of input cycles (each paired with one baseline cycle);
 *   warm            cycles of input run before the trace starts (default 3).
 * Returns the per-cycle times { idle: [{ cpu, wall }], acts: [{ cpu, wall }] } in milliseconds.
 */
export async function measureInteraction(browser, page, row) {
  const mark = (name) => page.evaluate((label) => performance.mark(label), name);
  const cycle = async (prefix, i, step) => {
    await row.before?.(page, i, prefix);
    await nextFrame(page);
    await mark(`${prefix}${i}-start`);
    await step(page, i);
    await nextFrame(page);
    await mark(`${prefix}${i}-end`);
    await row.after?.(page, i, prefix);
  };
  const warm = row.warm ?? 3;
  for (let i = 0; i < warm; i += 1) await cycle(`warm${row.key}`, i, row.act);

  const tag = `${row.key}-${Date.now()}-`;
  await browser.startTracing(page, { categories: ['toplevel', 'blink.user_timing'] });
  for (let i = 0; i < row.samples; i += 1) {
    await cycle(`${tag}idle`, i, row.idle);
    await cycle(`${tag}act`, i, (p) => row.act(p, warm + i));
  }
  const trace = JSON.parse((await browser.stopTracing()).toString());
  const idle = taskTimes(trace, `${tag}idle`, row.samples);
  const acts = taskTimes(trace, `${tag}act`, row.samples);
  return { idle, acts };
}

/** Medians of pooled cycles { idle, acts } (several rounds' worth), the baseline's median subtracted. */
export function summarize(rounds) {
  const idle = rounds.flatMap((round) => round.idle);
  const acts = rounds.flatMap((round) => round.acts);
  const baseCpu = median(idle.map((s) => s.cpu));
  const baseWall = median(idle.map((s) => s.wall));
  return {
    cpu: median(acts.map((s) => s.cpu)) - baseCpu,
    wall: median(acts.map((s) => s.wall)) - baseWall,
    baseCpu,
    baseWall,
    samples: acts.length,
  };
}

/** Prints rows of cells as a Markdown table (so it can go into the README as it is). */
export function printTable(header, rows) {
  const line = (cells) => `| ${cells.join(' | ')} |`;
  console.log(line(header));
  console.log(line(header.map(() => '---')));
  for (const row of rows) console.log(line(row));
}

export const ms = (value, digits = 1) => `${value.toFixed(digits)} ms`;
