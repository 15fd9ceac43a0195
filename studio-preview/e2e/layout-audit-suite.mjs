// The layout audit of one engine (see text-boxes.mjs for what it finds): every
// concept holds together at every window width and on every workspace tab, in
// the busy state (protocol sections open, files of each kind added, DAQ
// acquiring, signals plotted, a sniffer selection, a periodic job), with the
// start-up data and with the sidebar collapsed. Beside that: the lab bar in one
// row where the window allows and in balanced rows elsewhere, the sidebar and
// the object tree filling their columns, and the chart resized in one step
// when the concept changes. One page per engine goes through all states; the
// widths are the outer loop, so a window is resized only a few times. The
// engines driven over WebDriver are slower per step: a plan per engine says
// how much of the start-up and collapsed states they see.

import assert from 'node:assert/strict';
import { before, describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { findLayoutFaults } from './text-boxes.mjs';
import { addLabButton, enterBusyState, showTab } from './busy-state.mjs';
import { CONCEPTS, TABS, until } from './lab.mjs';

export const WIDTHS = [800, 960, 1280, 1920];
export const HEIGHT = 900;
// The tab row and this much of the panel below it must show without scrolling.
const FIRST_SCREEN = { firstScreen: '#live-view .tabs', firstScreenMargin: 120 };
// The lab bar holds one row from this window width up, the side-by-side button included.
const LAB_ONE_ROW_FROM = 1440;

/** The first lines of a fault list, enough to see what broke. */
const summary = (faults) => (faults.length > 60 ? [...faults.slice(0, 60), `… and ${faults.length - 60} more`] : faults);

/** Runs in the page: shows a concept (by its button, as a reviewer does). */
function showConcept(name) {
  document.querySelector(`button[data-concept="${name}"]`).click();
}

/** Audits the open page at each width, concept and tab; returns "width concept tab: fault" lines. */
async function auditAll(page, { widths, tabs }) {
  const faults = [];
  for (const width of widths) {
    await page.resize(width, HEIGHT);
    for (const concept of CONCEPTS) {
      await page.evaluate(showConcept, concept);
      for (const tab of tabs) {
        await page.evaluate(showTab, tab);
        const found = await page.evaluate(findLayoutFaults, FIRST_SCREEN);
        faults.push(...found.map((fault) => `${width} ${concept} ${tab}: ${fault}`));
      }
    }
  }
  return faults;
}

/** Runs in the page: the lab bar's items grouped into the rows they are drawn in. */
function labRows() {
  const rows = [];
  for (const item of document.querySelector('.lab').children) {
    const r = item.getBoundingClientRect();
    if (r.width < 1) continue;
    const name = item.id || item.className || item.tagName;
    const row = rows.find((line) => r.top < line.bottom && r.bottom > line.top);
    if (row) row.items.push(name);
    else rows.push({ top: r.top, bottom: r.bottom, items: [name] });
  }
  return rows.map((row) => row.items);
}

/**
 * Runs in the page: how the sidebar and the object tree fill their columns,
 * as lines naming what does not. The sidebar is as high as its column, or as
 * the window where the column is taller; docked on top, it leaves the main
 * area at least the lower half of the window (wider than the narrow layout,
 * where the dock's two rows and the lab bar's three take more); the tree's
 * box reaches down to the main area's bottom line.
 */
export function columnGaps() {
  const gaps = [];
  const box = (selector) => document.querySelector(selector).getBoundingClientRect();
  const [setup, main] = [box('.setup'), box('.monitor')];
  // Only a sidebar beside the main area (not docked on top, not above it).
  if (setup.width > 0 && (setup.right <= main.left + 1 || setup.left >= main.right - 1)) {
    const want = Math.min(main.height, innerHeight);
    if (Math.abs(setup.height - want) > 1) gaps.push(`sidebar ${Math.round(setup.height)}px high beside a ${Math.round(main.height)}px column`);
  }
  const mainTop = main.top + scrollY;
  if (setup.width > 0 && setup.bottom <= main.top + 1 && innerWidth > 900 && mainTop > innerHeight / 2) {
    gaps.push(`main area starts ${Math.round(mainTop)}px down a ${innerHeight}px window below the docked setup`);
  }
  if (!document.querySelector('#objects-panel').hidden) {
    const gap = box('.monitor-bottom').top - box('#obj-tree').bottom;
    if (gap > 1) gaps.push(`object tree ends ${Math.round(gap)}px above the bottom line`);
  }
  return gaps;
}

/**
 * Runs in the page: shows another concept with the Plots tab open and returns
 * the chart's sizes as drawn frame by frame, one entry per change, until
 * nothing animates and the size held for three frames.
 */
export async function chartSizesTo(concept) {
  const svg = document.querySelector('#plot-svg');
  const size = () => {
    const r = svg.getBoundingClientRect();
    return `${Math.round(r.width)}×${Math.round(r.height)}`;
  };
  const sizes = [size()];
  document.querySelector(`button[data-concept="${concept}"]`).click();
  for (let frame = 0, still = 0; frame < 240 && still < 3; frame += 1) {
    await new Promise((resolve) => requestAnimationFrame(resolve));
    const now = size();
    still = now === sizes.at(-1) && document.getAnimations().length === 0 ? still + 1 : 0;
    if (now !== sizes.at(-1)) sizes.push(now);
  }
  return sizes;
}

/**
 * Registers the audit of one engine. `plan` says which widths each state is
 * audited at and on which tabs: `startUp` and `collapsed` as { widths, tabs };
 * the busy state always sees every tab at `widths`.
 */
export function layoutAuditSuite(adapter, {
  widths = WIDTHS,
  startUp = { widths, tabs: TABS },
  collapsed = { widths, tabs: ['monitor', 'objects', 'plots'] },
} = {}) {
  describe(`every concept in ${adapter.name}`, () => {
    const env = useLab({ engine: adapter });
    before(async () => {
      await env.page.resize(startUp.widths[0], HEIGHT);
      await openLabPage(env.page, env.launcher.origin);
    });
    const noErrors = async () => assert.deepEqual(await env.page.errors(), [], 'page errors');

    const tabsNamed = (tabs) => (tabs.length === TABS.length ? 'every tab' : `the ${tabs.join(', ')} tab${tabs.length > 1 ? 's' : ''}`);
    it(`holds together with the start-up data (${tabsNamed(startUp.tabs)}, ${startUp.widths.join(', ')} px)`, async () => {
      assert.deepEqual(summary(await auditAll(env.page, startUp)), []);
      await noErrors();
    });

    it('keeps the lab bar in one row where the window allows, in rows of two items or more elsewhere', async () => {
      const wrong = [];
      for (const width of [...WIDTHS, LAB_ONE_ROW_FROM].sort((a, b) => a - b)) {
        await env.page.resize(width, HEIGHT);
        const rows = await env.page.evaluate(labRows);
        if (width >= LAB_ONE_ROW_FROM ? rows.length !== 1 : rows.some((items) => items.length < 2)) {
          wrong.push(`${width}: ${rows.map((items) => items.join(' ')).join(' | ')}`);
        }
      }
      assert.deepEqual(wrong, []);
    });

    it(`holds together in the busy state at every tab (${widths.join(', ')} px), the sidebar and the object tree filling their columns`, async () => {
      const made = await env.page.evaluate(enterBusyState);
      assert.deepEqual(made, { files: 14, daqRows: 4, acquiring: true, plotted: 3, jobs: 1 });
      assert.deepEqual(summary(await auditAll(env.page, { widths, tabs: TABS })), []);
      const gaps = [];
      for (const width of widths) {
        await env.page.resize(width, HEIGHT);
        for (const concept of CONCEPTS) {
          await env.page.evaluate(showConcept, concept);
          await env.page.evaluate(showTab, 'objects');
          gaps.push(...(await env.page.evaluate(columnGaps)).map((gap) => `${width} ${concept}: ${gap}`));
        }
      }
      assert.deepEqual(gaps, []);
      await noErrors();
    });

    it('resizes the chart in one step when the concept changes', async () => {
      await env.page.resize(1280, HEIGHT);
      await env.page.evaluate(showConcept, 'studio');
      await env.page.evaluate(showTab, 'plots');
      const steps = [];
      for (const concept of ['bench', 'console', 'studio', 'bench', 'studio']) {
        const sizes = await env.page.evaluate(chartSizesTo, concept);
        if (sizes.length > 2) steps.push(`to ${concept}: ${sizes.join(' → ')}`);
      }
      assert.deepEqual(steps, []);
    });

    it(`holds together with the sidebar collapsed, the collapse button covering nothing (${tabsNamed(collapsed.tabs)}, ${collapsed.widths.join(', ')} px)`, async () => {
      await env.page.evaluate(() => document.querySelector('#sidebar-toggle').click());
      assert.equal(await env.page.evaluate(() => document.querySelector('.app').dataset.sidebar), 'collapsed');
      assert.deepEqual(summary(await auditAll(env.page, collapsed)), []);
      await noErrors();
    });
  });
}

/** Opens the lab live in the studio concept, with the side-by-side button in the lab bar, and waits for its fonts. */
async function openLabPage(page, origin) {
  await page.goto(`${origin}/?concept=studio&scenario=live`);
  await until(page, () => document.querySelector('#connection-status')?.childNodes.length > 0, 'the page\'s start-up');
  await page.evaluate(addLabButton, 'Side by side');
  await page.evaluate(() => document.fonts.ready.then(() => undefined));
}

