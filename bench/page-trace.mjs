// Helpers shared by the page benchmarks: reading per-step main-thread times
// out of a Chromium trace recorded around marks the benchmark placed.

export function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

/** Per mark pair: summed wall and CPU milliseconds of the main thread's top-level tasks between the marks. */
export function taskTimes(trace, prefix, count) {
  const events = trace.traceEvents;
  const marks = new Map(events.filter((e) => e.cat === 'blink.user_timing' && e.name.startsWith(prefix)).map((e) => [e.name, e]));
  const first = marks.get(`${prefix}0-start`);
  if (!first) throw new Error(`no marks ${prefix}* in the trace`);
  // Top-level tasks of the page's main thread (the thread the marks were made on), nested ones left out.
  const tasks = events
    .filter((e) => e.ph === 'X' && e.name === 'ThreadControllerImpl::RunTask' && e.pid === first.pid && e.tid === first.tid)
    .sort((a, b) => a.ts - b.ts);
  const topLevel = [];
  for (const task of tasks) {
    const last = topLevel.at(-1);
    if (!last || task.ts >= last.ts + last.dur) topLevel.push(task);
  }
  const result = [];
  for (let i = 0; i < count; i += 1) {
    const [start, end] = [marks.get(`${prefix}${i}-start`).ts, marks.get(`${prefix}${i}-end`).ts];
    const inside = topLevel.filter((task) => task.ts >= start && task.ts <= end);
    result.push({
      wall: inside.reduce((sum, task) => sum + task.dur, 0) / 1000,
      cpu: inside.reduce((sum, task) => sum + (task.tdur ?? task.dur), 0) / 1000,
    });
  }
  return result;
}
