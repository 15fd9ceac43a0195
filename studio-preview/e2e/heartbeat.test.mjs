// The page's heartbeat to the launcher: a ping at once and every 5 s, only
// when the launcher marked the document.

import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';
import { describe, it } from 'node:test';
import { openLab, useLab } from './fixture.mjs';

const env = useLab();
const MARKER = 'meta[name="quillcan-studio-launcher"]';

async function until(condition, timeoutMs, what) {
  const end = performance.now() + timeoutMs;
  while (!condition()) {
    if (performance.now() > end) assert.fail(`timed out waiting for ${what}`);
    await sleep(20);
  }
}

/** Replaces fetch in the page with a recorder of the ping calls, and removes Worker. */
function mainThreadOnly() {
  delete window.Worker;
  const calls = (window.pingCalls = []);
  const original = window.fetch;
  window.fetch = function (input, options) {
    calls.push({ url: String(input), cache: options?.cache, keepalive: options?.keepalive });
    return original.call(this, input, options);
  };
}

describe('heartbeat', () => {
  it('pings at once and every 5 s from a worker; not at all without the launcher marker', async () => {
    const { browser, launcher } = env;
    const contexts = [await browser.newContext(), await browser.newContext()];
    const pings = contexts.map((context) => {
      const seen = [];
      context.on('request', (r) => r.url().includes('__studio') && seen.push({ at: performance.now(), url: r.url(), method: r.method() }));
      return seen;
    });
    try {
      const [page, plain] = await Promise.all(contexts.map((context) => context.newPage()));
      const start = performance.now();
      // /index%2Ehtml is served by the asset route: the file as it is, without the marker.
      await Promise.all([page.goto(launcher.url), plain.goto(`${launcher.origin}/index%2Ehtml?scenario=ready`)]);
      assert.deepEqual([await page.locator(MARKER).count(), await plain.locator(MARKER).count()], [1, 0]);
      assert.equal(await plain.textContent('#connection-status'), 'Adapter ready');

      await until(() => pings[0].length >= 3, 14000, 'three pings');
      await sleep(800);
      const [marked, unmarked] = pings;
      assert.ok(marked[0].at - start < 3000, 'first ping right at start-up');
      assert.equal(marked.length, 3, 'no extra pings');
      assert.ok(marked.every((p) => p.url === `${launcher.origin}/__studio/ping` && p.method === 'GET'));
      const periods = marked.slice(1).map((p, i) => Math.round(p.at - marked[i].at));
      // The first period also holds the worker's start-up.
      assert.ok(periods[0] >= 4900 && periods[0] < 6000 && periods[1] >= 4900 && periods[1] < 5500, `periods ${periods}`);
      assert.deepEqual([page.workers().length, plain.workers().length], [1, 0]);
      assert.deepEqual(unmarked, []);
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
      await page.clock.runFor(4999);
      assert.equal((await calls()).length, 1);
      await page.clock.runFor(1);
      await page.clock.runFor(20000);
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
      await lab.page.clock.runFor(10000);
      await until(() => refused >= 2, 3000, 'refused pings');
      await sleep(200);
      // The browser itself logs the refused request; the page must not raise anything.
      assert.deepEqual(lab.errors.filter((error) => error.startsWith('pageerror')), []);
      assert.equal(await lab.page.textContent('#connection-status'), 'Adapter ready');
    } finally {
      await lab.context.close();
    }
  });
});
