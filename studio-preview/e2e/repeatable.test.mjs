// Screenshots of the lab are repeatable: with the page clock paused, every
// combination of concept, scenario and notice renders the same pixels on two
// separate loads.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';

const env = useLab();

const CONCEPTS = ['studio', 'bench', 'console'];
const SCENARIOS = ['missing', 'ready', 'connecting', 'live', 'error'];
const NOTICES = ['none', 'fw-available', 'fw-flashing', 'fw-done', 'fw-failed',
  'app-available', 'app-downloading', 'app-applying', 'app-failed', 'both'];

const START = Date.parse('2026-03-02T10:00:00Z');

/** Loads the lab at `query` in a fresh context with a paused clock and returns its screenshot. */
async function shoot(query) {
  const context = await env.browser.newContext({ viewport: { width: 1400, height: 1000 } });
  try {
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push(error.message));
    await page.clock.install({ time: START });
    await page.clock.pauseAt(START + 1000);
    await page.goto(`${env.launcher.origin}/${query}`);
    await page.waitForFunction(() => document.querySelector('#connection-status')?.childNodes.length > 0);
    await page.evaluate(() => document.fonts.ready);
    // A load is settled once two captures in a row agree (the compositor may
    // still be finishing the first frames under load); the two loads are then
    // compared with each other.
    // The app frame is what concept, scenario and notice change. (The lab bar's
    // native selects above it have shown a few pixels of anti-aliasing that
    // vary from load to load in headless Chromium, independent of the page.)
    const capture = () => page.locator('.app').screenshot({ animations: 'disabled', caret: 'hide' });
    let shot = await capture();
    for (let attempt = 0; attempt < 5; attempt += 1) {
      const again = await capture();
      if (again.equals(shot)) break;
      shot = again;
    }
    assert.deepEqual(errors, [], `page errors at ${query}`);
    return shot;
  } finally {
    await context.close();
  }
}

describe('repeatable screenshots', () => {
  for (const concept of CONCEPTS) {
    it(`${concept}: every scenario and notice renders the same pixels twice`, async () => {
      const differing = [];
      for (const scenario of SCENARIOS) {
        for (const notice of NOTICES) {
          const query = `?concept=${concept}&scenario=${scenario}&notice=${notice}`;
          const first = await shoot(query);
          const second = await shoot(query);
          if (!first.equals(second)) differing.push(query);
        }
      }
      assert.deepEqual(differing, []);
    });
  }
});
