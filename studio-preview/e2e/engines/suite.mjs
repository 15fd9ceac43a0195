// Runs the cross-engine checks in one engine against a launcher of its own:
// each check on the same open tab, the main regions' boxes compared with
// Chromium's, and last the heartbeat: the launcher runs as long as the tab is
// open and ends by itself once the browser is gone.
//
// ENGINE_SCREENSHOTS=<folder> also saves a screenshot per concept.

import assert from 'node:assert/strict';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { describe, it } from 'node:test';
import { useLab } from '../fixture.mjs';
import { CONCEPTS } from '../lab.mjs';
import { CHECKS, openLab, regionBoxes } from './checks.mjs';
import * as chromium from './chromium.mjs';

// A launcher that never got a ping ends 90-95 s after its start (plus a second
// for its own stop), one that lost its pings 15-20 s after the last.
const NO_PING_EARLIEST_MS = 90_000;
const NO_PING_LATEST_MS = 96_000;
const EXIT_WITHIN_MS = 21_000;
// Boxes may differ from Chromium's by this much (CSS pixels) across, and down
// by that plus a share of the distance: each engine rounds the "normal" line
// height of a face its own way, a pixel here and there that adds up down the
// page. Table columns share out the width left over in proportion to their
// text, and WebKitGTK rounds every glyph advance to a whole pixel (the time
// "00:00.012" is 63 px wide there, 59.4 px in the other two), so a column may
// also move by a share of the table's width.
const ACROSS_TOLERANCE = 3;
const DOWN_SHARE = 0.025;
const COLUMN_SHARE = 0.01;
const within = (ours, theirs, across) => ours.every((v, i) => Math.abs(v - theirs[i])
  <= ACROSS_TOLERANCE + (i % 2 === 1 ? DOWN_SHARE * Math.abs(theirs[i]) : across));

/** The region boxes of each concept in the live scenario at 1400 px, optionally with a screenshot. */
async function boxesPerConcept(page, origin, shotPrefix) {
  const boxes = {};
  await page.resize(1400, 1000);
  for (const concept of CONCEPTS) {
    await openLab(page, origin, `?concept=${concept}&scenario=live`);
    // Fonts loaded, and the concept's own transitions (the workspace columns
    // move from the markup's concept to the chosen one) at their end.
    await page.evaluate(() => document.fonts.ready
      .then(() => Promise.all(document.getAnimations().map((animation) => animation.finished)))
      .then(() => undefined));
    boxes[concept] = await page.evaluate(regionBoxes);
    if (shotPrefix) await page.screenshot(`${shotPrefix}-${concept}.png`);
  }
  return boxes;
}

export function engineSuite(adapter) {
  describe(`the page in ${adapter.name}`, () => {
    const env = useLab({ engine: adapter });

    for (const check of CHECKS) {
      it(check.name, async (t) => {
        const seen = (await env.page.errors()).length;
        await check.run(env.page, { origin: env.launcher.origin, engine: adapter.name, note: (text) => t.diagnostic(text) });
        assert.deepEqual((await env.page.errors()).slice(seen), [], 'page errors');
      });
    }

    it('draws the lab bar, sidebar, workspace, tab strip and first table columns where Chromium does, per concept at 1400 px', async () => {
      const shots = process.env.ENGINE_SCREENSHOTS;
      const ours = await boxesPerConcept(env.page, env.launcher.origin, shots && path.join(shots, adapter.name));
      if (adapter.name === chromium.name) return;
      const reference = await chromium.launch({ downloads: env.downloads });
      let theirs;
      try {
        const page = await reference.newPage();
        theirs = await boxesPerConcept(page, env.launcher.origin);
      } finally {
        await reference.close();
      }
      const apart = [];
      for (const concept of CONCEPTS) {
        assert.deepEqual(Object.keys(ours[concept]).sort(), Object.keys(theirs[concept]).sort(), `${concept}: the same regions`);
        for (const region of Object.keys(theirs[concept])) {
          const box = ours[concept][region];
          const across = region.startsWith('column') ? COLUMN_SHARE * theirs[concept].table[2] : 0;
          if (!within(box, theirs[concept][region], across)) apart.push(`${concept} ${region}: ${box.join(',')} vs Chromium's ${theirs[concept][region].join(',')}`);
        }
      }
      assert.deepEqual(apart, []);
    });

    it('keeps the launcher running while the tab is open, and lets it end by itself after the browser closes', async () => {
      const { launcher } = env;
      // The pings are proven either by a launcher that outlived the no-ping
      // limit, or by one that ends within the deadline below, which then falls
      // before that limit. In between, wait for the limit to pass.
      const open = () => performance.now() - launcher.startedAt;
      if (open() > NO_PING_EARLIEST_MS - EXIT_WITHIN_MS && open() < NO_PING_LATEST_MS) await sleep(NO_PING_LATEST_MS - open());
      assert.equal(launcher.isRunning(), true, `launcher ended with the tab open: ${launcher.stdout.join(' | ')}`);
      // Closing the browser also closes the tab; the pings stop with it.
      await env.closeBrowser();
      const closedAt = performance.now();
      const result = await Promise.race([launcher.exited, sleep(EXIT_WITHIN_MS)]);
      assert.ok(result, `launcher still running ${Math.round(performance.now() - closedAt)} ms after the browser closed`);
      assert.deepEqual(result, { code: 0, signal: null });
      assert.equal(launcher.stdout.at(-1), 'No open preview tab — exiting.');
    });
  });
}
