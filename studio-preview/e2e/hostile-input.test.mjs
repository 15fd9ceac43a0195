// Markup and script typed into every free-text field of the page, followed by
// every action that shows that text, never becomes an element or runs.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { TABS } from './lab.mjs';

const { withLab } = useLab();

const PAYLOAD = '<img src=x onerror="window.__pwned=1"><svg onload="window.__pwned=2"></svg>"\'><b id="pwned-b">bold</b>';

/** Elements the payload would create if any of it were parsed as markup. */
function injected(page) {
  return page.evaluate(() => ({
    pwned: window.__pwned,
    elements: document.querySelectorAll('img[src="x"], svg[onload], #pwned-b').length,
  }));
}

/**
 * Types the payload into every visible, enabled free-text field inside `root`
 * (all of them, including ones that appear after an earlier field changed),
 * firing input and change events and Enter, as a user would.
 */
async function fillTextFields(page, root) {
  const filled = new Set();
  for (let pass = 0; pass < 3; pass += 1) {
    const fields = await page.$$(`${root} :is(input:not([type]), input[type="text"], input[type="search"], textarea)`);
    let any = false;
    for (const field of fields) {
      if (!(await field.isVisible()) || !(await field.isEnabled()) || filled.has(field)) continue;
      const id = await field.evaluate((node) => node.id || node.getAttribute('aria-label') || node.className);
      if (filled.has(id)) continue;
      filled.add(id);
      any = true;
      await field.fill(PAYLOAD);
      await field.press('Enter').catch(() => {});
    }
    if (!any) break;
  }
  return filled.size;
}

/** Clicks every visible, enabled button inside `root` once. */
async function clickButtons(page, root) {
  const buttons = await page.$$(`${root} button`);
  let clicked = 0;
  for (const button of buttons) {
    if (!(await button.isVisible().catch(() => false)) || !(await button.isEnabled().catch(() => false))) continue;
    await button.click({ timeout: 2000 }).catch(() => {});
    clicked += 1;
  }
  return clicked;
}

describe('hostile input', () => {
  it('text typed into the sidebar stays text in the footer', async () => {
    await withLab({ query: '?concept=studio&scenario=ready', clock: true }, async (page) => {
      await page.fill('#log-path', PAYLOAD);
      await page.check('#plain-log');
      await page.click('#connect');
      await page.clock.runFor(700);
      assert.equal(await page.textContent('#footer-recording'), `Simulated recording · ${PAYLOAD} + plain-text`);
      assert.deepEqual(await injected(page), { pwned: undefined, elements: 0 });
    });
  });

  it('every tab takes the payload in each field and shows it only as text', async () => {
    await withLab({ query: '?concept=studio&scenario=live', clock: true }, async (page) => {
      let fields = 0;
      for (const tab of TABS) {
        await page.click(`#tab-${tab}`);
        const panel = `#${tab}-panel`;
        fields += await fillTextFields(page, panel);
        await clickButtons(page, panel);
        // Actions may reveal new fields (a new transmit row, another form).
        fields += await fillTextFields(page, panel);
        await clickButtons(page, panel);
        await page.clock.runFor(9000); // fading logs, ticks
        assert.deepEqual(await injected(page), { pwned: undefined, elements: 0 }, `after the ${tab} tab`);
      }
      // Revisit every tab: whatever was stored is rendered again from state.
      for (const tab of TABS) {
        await page.click(`#tab-${tab}`);
        assert.deepEqual(await injected(page), { pwned: undefined, elements: 0 }, `revisiting ${tab}`);
      }
      assert.ok(fields >= 3, `only ${fields} free-text fields found`);
    });
  });
});
