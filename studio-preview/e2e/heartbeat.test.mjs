// The page's heartbeat to the launcher: one ping at once, then one every 5 s
// that is never cleared, only when the launcher marked the document.
//
// The repeating ping runs in a dedicated worker, which Playwright's clock does
// not reach: there the test reads the period the page hands the worker, and
// checks the real pings against their schedule only from below (a ping may
// arrive late on a loaded machine, never early). The main-thread fallback runs
// on the held page clock.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { openLab, useLab } from './fixture.mjs';
import { eventually } from './lab.mjs';

const env = useLab();
const MARKER = 'meta[name="quillcan-studio-launcher"]';
const PERIOD_MS = 5000;
/** Timers may fire this much before their time (the clocks' granularity). */
const EARLY_MS = 50;

/**
 * Page side, before the page's script: records the ping calls the page's own
 * fetch makes (and how many have settled), and every message the page posts
 * to a worker. `withoutWorker` removes Worker: the page falls back to a
 * main-thread interval.
 */
function recordPings(withoutWorker) {
  if (withoutWorker) delete window.Worker;
  const calls = (window.pingCalls = []);
  window.pingsSettled = 0;
  const original = window.fetch;
  window.fetch = function (input, options) {
    calls.push({ url: String(input), cache: options?.cache, keepalive: options?.keepalive });
    // The page gets the counting promise, so a failure it did not catch would still be reported.
    return original.call(this, input, options).finally(() => {
      window.pingsSettled += 1;
    });
  };
  window.workerMessages = [];
  if (typeof Worker === 'function') {
    const post = Worker.prototype.postMessage;
    Worker.prototype.postMessage = function (message, ...rest) {
      window.workerMessages.push(message);
      return post.call(this, message, ...rest);
    };
  }
}

const mainThreadOnly = { content: `(${recordPings})(true)` };

describe('heartbeat', () => {
  it('pings once at start-up, then from a worker every 5 s and on; not at all without the launcher marker', async () => {
    const { browser, launcher } = env;
    const contexts = [await browser.newContext(), await browser.newContext()];
    const pings = contexts.map((context) => {
      const seen = [];
      context.on('request', (r) => r.url().includes('__studio') && seen.push({ at: performance.now(), url: r.url(), method: r.method() }));
      return seen;
    });
    try {
      const [page, plain] = await Promise.all(contexts.map((context) => context.newPage()));
      await Promise.all([page, plain].map((each) => each.addInitScript(recordPings)));
      const ping = { url: `${launcher.origin}/__studio/ping`, cache: 'no-store', keepalive: true };
      // No ping of the page can be sent before this moment.
      const origin = performance.now();
      // /index%2Ehtml is served by the asset route: the file as it is, without the marker.
      await Promise.all([page.goto(launcher.url), plain.goto(`${launcher.origin}/index%2Ehtml?scenario=ready`)]);
      assert.deepEqual([await page.locator(MARKER).count(), await plain.locator(MARKER).count()], [1, 0]);
      assert.equal(await plain.textContent('#connection-status'), 'Adapter ready');

      // At once: the page itself pings once, and hands the repeating ping to its one worker.
      const started = () => page.evaluate(() => ({ calls: window.pingCalls, messages: window.workerMessages }));
      assert.deepEqual(await started(), { calls: [ping], messages: [{ url: ping.url, period: PERIOD_MS }] });
      assert.deepEqual([page.workers().length, plain.workers().length], [1, 0]);

      // The worker's pings: each on or after its place in the schedule, however late the machine delivers them.
      await eventually(() => pings[0].length >= 3, 'three pings', { timeoutMs: 60000 });
      const [marked, unmarked] = pings;
      assert.ok(marked.every((p) => p.url === ping.url && p.method === 'GET'));
      const early = marked.map((p, n) => Math.round(p.at - origin - n * PERIOD_MS)).filter((lead) => lead < -EARLY_MS);
      assert.deepEqual(early, [], `ping times ${marked.map((p) => Math.round(p.at - origin))} ms after the start`);
      // The page itself sent only the first; the rest came from the worker.
      assert.deepEqual(await started(), { calls: [ping], messages: [{ url: ping.url, period: PERIOD_MS }] });
      assert.deepEqual([plain.workers().length, unmarked], [0, []]);
      assert.deepEqual(await plain.evaluate(() => [window.pingCalls, window.workerMessages]), [[], []]);
      assert.equal(launcher.isRunning(), true);
    } finally {
      await Promise.all(contexts.map((context) => context.close()));
    }
  });

  it('falls back to a main-thread interval without workers, also when loaded as /index.html', async () => {
    await env.withLab({ path: '/index.html', query: '?scenario=live', clock: true, initScript: mainThreadOnly }, async (page) => {
      const calls = () => page.evaluate(() => window.pingCalls);
      const ping = { url: `${env.launcher.origin}/__studio/ping`, cache: 'no-store', keepalive: true };
      assert.deepEqual(await calls(), [ping]);
      await page.clock.runFor(PERIOD_MS - 1);
      assert.equal((await calls()).length, 1);
      await page.clock.runFor(1);
      await page.clock.runFor(4 * PERIOD_MS);
      assert.deepEqual(await calls(), Array(6).fill(ping));
    });
  });

  it('swallows failed pings', async () => {
    const lab = await openLab(env.browser, env.launcher, { query: '?scenario=ready', clock: true, initScript: mainThreadOnly });
    try {
      let refused = 0;
      await lab.context.route('**/__studio/ping', (route) => {
        refused += 1;
        return route.abort('connectionrefused');
      });
      await lab.page.clock.runFor(2 * PERIOD_MS);
      await eventually(() => refused >= 2, 'refused pings');
      // Every ping has failed in the page, and the page's task that saw it has ended.
      await eventually(() => lab.page.evaluate(() => window.pingsSettled >= window.pingCalls.length), 'the failed pings settled');
      // The browser itself logs the refused request; the page must not raise anything.
      assert.deepEqual(lab.errors.filter((error) => error.startsWith('pageerror')), []);
      assert.equal(await lab.page.textContent('#connection-status'), 'Adapter ready');
    } finally {
      await lab.context.close();
    }
  });
});
