// Accessibility audit with axe-core, injected into the page served by the
// launcher: every concept, in the ready and live scenarios, with every
// workspace tab. Violations of impact "serious" or "critical" fail, except the
// ones the fixed design dictates, each listed below with its reason.

import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { CONCEPTS, TABS } from './lab.mjs';

const { withLab } = useLab();
const axeSource = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

/**
 * Exceptions forced by the design system's fixed colours. Each entry: the
 * rule, a CSS selector of the nodes it may flag, and why.
 */
const DICTATED = [
  {
    rule: 'color-contrast',
    selector: ':disabled, :disabled *, label:has(:disabled), label:has(:disabled) *',
    why: 'disabled controls are drawn at 40 % opacity on purpose, so they read as unavailable',
  },
  {
    rule: 'color-contrast',
    selector: '.app[data-concept="bench"] .brand strong span',
    why: 'the brand name\'s "CAN" takes the accent, and the light concept keeps the gold accent #edb059 on its light surface',
  },
  {
    rule: 'color-contrast',
    selector: '.app[data-concept="bench"] :is(td.id, .tx-id)',
    why: 'CAN IDs are the fixed darker gold #9a6f15 in the light concept (4.1 to 4.3 : 1 on its surface and on the fixed dark even rows)',
  },
  {
    rule: 'color-contrast',
    selector: '.app[data-concept="bench"] .access',
    why: 'access badges have fixed colours (#9fb0c6 read-only, #f0c79a write-only) and the concept\'s success colour for read-write, made for dark surfaces',
  },
];

async function audit(page) {
  await page.addScriptTag({ content: axeSource });
  return page.evaluate(async (rules) => {
    const result = await window.axe.run(document, { resultTypes: ['violations'] });
    const found = [];
    for (const v of result.violations) {
      if (v.impact !== 'serious' && v.impact !== 'critical') continue;
      for (const node of v.nodes) {
        const element = document.querySelector(node.target[0]);
        const excused = rules.some((d) => d.rule === v.id && element?.matches(d.selector));
        if (!excused) found.push(`${v.id} (${v.impact}): ${node.target.join(' ')} — ${node.failureSummary?.split('\n')[1] ?? ''}`);
      }
    }
    return found;
  }, DICTATED.map(({ rule, selector }) => ({ rule, selector })));
}

describe('accessibility', () => {
  for (const concept of CONCEPTS) {
    it(`${concept}: ready scenario has no serious or critical violations`, async () => {
      await withLab({ query: `?concept=${concept}&scenario=ready` }, async (page) => {
        assert.deepEqual(await audit(page), []);
      });
    });
    it(`${concept}: every tab of the live scenario has no serious or critical violations`, async () => {
      await withLab({ query: `?concept=${concept}&scenario=live` }, async (page) => {
        const problems = [];
        for (const tab of TABS) {
          await page.click(`#tab-${tab}`);
          for (const p of await audit(page)) problems.push(`[${tab}] ${p}`);
        }
        assert.deepEqual(problems, []);
      });
    });
  }

  it('side by side: the comparison around the panes has no serious or critical violations', async () => {
    const panesLoaded = () => [...document.querySelectorAll('.compare-pane')].every((pane) => !pane.hasAttribute('aria-busy'));
    await withLab({ query: '?compare=scenarios&concept=bench', ready: panesLoaded }, async (page) => {
      assert.deepEqual(await audit(page), []);
    });
  });
});
