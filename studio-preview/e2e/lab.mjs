// What the browser tests share about the lab: the names of its concepts,
// scenarios and workspace tabs, and how a test waits for a condition (polling
// it, never sleeping a fixed time).

import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';

export const CONCEPTS = ['studio', 'bench', 'console'];
export const SCENARIOS = ['missing', 'ready', 'connecting', 'live', 'error'];
export const TABS = ['monitor', 'sniffer', 'objects', 'transmit', 'plots', 'daq'];

/**
 * Polls `probe` (sync or async) until it yields a truthy value, and returns
 * that value; fails after `timeoutMs` naming `what` (a text, or a function
 * that words the failure, for example with the last value seen).
 */
export async function eventually(probe, what, { timeoutMs = 15000 } = {}) {
  const end = performance.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (performance.now() > end) assert.fail(`timed out waiting for ${typeof what === 'function' ? what() : what}`);
    await sleep(25);
  }
}

/** Polls `fn(...args)` in the page (any engine adapter's page) until it returns a truthy value, and returns that value. */
export const until = (page, fn, what, args = [], timeoutMs = 15000) =>
  eventually(() => page.evaluate(fn, ...args), what, { timeoutMs });
