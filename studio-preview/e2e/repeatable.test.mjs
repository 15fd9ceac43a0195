// Screenshots of the lab are repeatable: with the page clock paused, every
// concept renders the same pixels on two separate loads, in every scenario and
// with every notice, also when the two loads see different times of day.
//
// Two pages stay open side by side, each with its own paused clock (the second
// one nine and a half hours later, on another day); each combination is loaded
// once in each and the app frames compared. Every concept is shown in every
// scenario and with every notice (the scenarios rotate through a concept's ten
// notices twice), which covers what the pixels depend on without loading all
// 150 combinations twice.

import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { CONCEPTS, SCENARIOS } from './lab.mjs';

const env = useLab();

const NOTICES = ['none', 'fw-available', 'fw-flashing', 'fw-done', 'fw-failed',
  'app-available', 'app-downloading', 'app-applying', 'app-failed', 'both'];

const START = Date.parse('2026-03-02T10:00:00Z');
const LATER = Date.parse('2026-07-19T19:37:13.500Z');

/** The combinations of one concept: each notice once, the scenarios in turn, twice round. */
function combinations(concept) {
  const offset = CONCEPTS.indexOf(concept);
  return NOTICES.map((notice, i) => `?concept=${concept}&scenario=${SCENARIOS[(i + offset) % SCENARIOS.length]}&notice=${notice}`);
}

/** A page with its clock paused at `time`, kept open across loads, and the errors it raises. */
async function side(time) {
  const context = await env.browser.newContext({ viewport: { width: 1400, height: 1000 } });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.clock.install({ time });
  await page.clock.pauseAt(time + 1000);
  return { context, page, errors };
}

/** Loads `query` in `page` and returns the app frame's screenshot once the load has settled. */
async function shoot({ page, errors }, query) {
  await page.goto(`${env.launcher.origin}/${query}`);
  await page.waitForFunction(() => document.querySelector('#connection-status')?.childNodes.length > 0);
  await page.evaluate(() => document.fonts.ready.then(() => Promise.all(document.getAnimations().map((a) => a.finished))));
  // A load is settled once two captures in a row agree (the compositor may
  // still be finishing the first frames under load); the two sides are then
  // compared with each other.
  // The app frame is what concept, scenario and notice change. (The lab bar's
  // selects above it have shown a few pixels of anti-aliasing that vary from
  // load to load in headless Chromium, independent of the page.)
  const capture = () => page.locator('.app').screenshot({ animations: 'disabled', caret: 'hide' });
  let shot = await capture();
  for (let attempt = 0; attempt < 5; attempt += 1) {
    const again = await capture();
    if (again.equals(shot)) break;
    shot = again;
  }
  assert.deepEqual(errors.splice(0), [], `page errors at ${query}`);
  return shot;
}

describe('repeatable screenshots', () => {
  const sides = [];
  before(async () => {
    sides.push(await side(START), await side(LATER));
  });
  after(async () => {
    for (const { context } of sides) await context.close();
  });

  it('cover every scenario and every notice in each concept', () => {
    for (const concept of CONCEPTS) {
      const queries = combinations(concept);
      const seen = (key) => new Set(queries.map((query) => new URLSearchParams(query).get(key)));
      assert.deepEqual([seen('scenario').size, seen('notice').size], [SCENARIOS.length, NOTICES.length]);
    }
  });

  for (const concept of CONCEPTS) {
    it(`${concept}: every scenario and notice renders the same pixels on two loads at different times of day`, async () => {
      const differing = [];
      for (const query of combinations(concept)) {
        const [first, second] = [await shoot(sides[0], query), await shoot(sides[1], query)];
        if (!first.equals(second)) differing.push(query);
      }
      assert.deepEqual(differing, []);
    });
  }
});
