// Every concept holds together at every window width and on every workspace
// tab, with the start-up data and with the protocol sections open and files of
// each kind added: no text drawn over other text or over a control, no text cut
// off sideways without an ellipsis or a scroll cue, no page wider than its
// window, and the workspace's tabs on the first screen. One page per concept is
// resized through the widths, so the whole file stays fast.

import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { launchBrowser, openLab, startLauncher } from './fixture.mjs';
import { findLayoutFaults } from './text-boxes.mjs';

const CONCEPTS = ['studio', 'bench', 'console'];
const WIDTHS = [600, 800, 1024, 1280, 1400, 1920];
const HEIGHT = 900;
const TABS = ['monitor', 'sniffer', 'objects', 'transmit', 'plots', 'daq'];
// The tab row and this much of the panel below it must show without scrolling.
const FIRST_SCREEN = { firstScreen: '#live-view .tabs', firstScreenMargin: 120 };

const env = {};
before(async () => {
  env.launcher = await startLauncher();
  env.browser = await launchBrowser();
});
after(async () => {
  await env.browser?.close();
  await env.launcher?.stop();
});

/** Lets resize handlers, their re-renders and running transitions end. (No
 * timer of the page changes the layout here: the transmit tab gets a periodic
 * job, which owns no timer, and acquisition is not started.) */
const settle = (page) => page.evaluate(async () => {
  await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
  // The workspace's columns move over 0.2 s when a width crosses a breakpoint.
  await Promise.all(document.getAnimations().map((animation) => animation.finished));
});

/** Audits every width and the tabs of the open page; returns "width tab: fault" lines. */
async function auditAll(page, tabs = TABS) {
  const faults = [];
  for (const width of WIDTHS) {
    await page.setViewportSize({ width, height: HEIGHT });
    for (const tab of tabs) {
      // A click event rather than a pointer click: what might lie over the tab
      // is for the audit to report, not something to wait for.
      await page.locator(`#tab-${tab}`).dispatchEvent('click');
      await page.evaluate(() => window.scrollTo(0, 0));
      await settle(page);
      const found = await page.evaluate(findLayoutFaults, FIRST_SCREEN);
      faults.push(...found.map((fault) => `${width} ${tab}: ${fault}`));
    }
  }
  return faults;
}

/** Opens the protocol sections, adds three files of each kind, connects and fills the tabs. */
async function loadEverything(page) {
  await page.selectOption('#scenario', 'ready');
  await page.evaluate(() => document.querySelectorAll('.protocols details').forEach((details) => { details.open = true; }));
  for (let round = 0; round < 3; round += 1) {
    for (const button of ['#load-eds', '#load-dbc', '#load-a2l']) await page.click(button);
  }
  await page.selectOption('#scenario', 'live');
  const click = (target) => target.dispatchEvent('click');
  await click(page.locator('#tab-daq'));
  // An added measurement leaves the select: the first option is always a new one.
  for (let row = 0; row < 4; row += 1) {
    await page.selectOption('#daq-measure', { index: 0 });
    await click(page.locator('#daq-add'));
  }
  await click(page.locator('#tab-plots'));
  for (const index of [0, 3, 6]) await click(page.locator('#plot-signals .plot-signal').nth(index));
  await click(page.locator('#tab-sniffer'));
  await click(page.locator('#sniffer-rows tr').first());
  await click(page.locator('#sniffer-inspect .bit-byte').first());
  await click(page.locator('#tab-transmit'));
  await page.check('input[name="tx-timing"][value="periodic"]');
  await click(page.locator('#tx-send'));
  // The start-up pass saw the raw frame form; this one sees the PDO form.
  await page.selectOption('#tx-mode', 'pdo');
}

/** The first lines of a fault list, enough to see what broke. */
const summary = (faults) => (faults.length > 60 ? [...faults.slice(0, 60), `… and ${faults.length - 60} more`] : faults);

// The concepts are audited one after the other, each on a page of its own;
// within a concept the start-up pass comes before files are added. (Side by
// side they gain little on two processors and risk navigation timeouts.)
describe('every concept', () => {
  for (const concept of CONCEPTS) {
    describe(`${concept} concept`, () => {
      const lab = {};
      before(async () => {
        Object.assign(lab, await openLab(env.browser, env.launcher, {
          query: `?concept=${concept}&scenario=live`, viewport: { width: WIDTHS[0], height: HEIGHT },
        }));
        await lab.page.evaluate(() => document.fonts.ready);
      });
      after(async () => {
        await lab.context?.close();
      });

      it('holds together at every width and tab with the start-up data', async () => {
        assert.deepEqual(summary(await auditAll(lab.page)), []);
      });

      it('holds together with the protocol sections open and files of each kind added', async () => {
        await lab.page.setViewportSize({ width: 1400, height: HEIGHT });
        await loadEverything(lab.page);
        assert.equal(await lab.page.locator('#daq-list > li[data-key]').count(), 4, 'DAQ rows added');
        assert.deepEqual(summary(await auditAll(lab.page)), []);
        assert.deepEqual(lab.errors, [], 'page errors');
      });

      it('holds together with the sidebar collapsed, the collapse button covering nothing', async () => {
        await lab.page.locator('#sidebar-toggle').dispatchEvent('click');
        assert.equal(await lab.page.getAttribute('.app', 'data-sidebar'), 'collapsed');
        assert.deepEqual(summary(await auditAll(lab.page, ['monitor', 'objects', 'plots'])), []);
      });
    });
  }
});

describe('the audit itself', () => {
  it('finds overprinted, clipped and overflowing text on a page made to fail', async () => {
    const { context, page } = await openLab(env.browser, env.launcher, { query: '?scenario=live', viewport: { width: 1024, height: HEIGHT } });
    try {
      assert.deepEqual(await page.evaluate(findLayoutFaults), [], 'clean before the faults are made');
      await page.evaluate(() => {
        const panel = document.querySelector('#monitor-panel');
        // Text drawn over other text, and over a control (fixed, at their places on screen).
        const pin = (text, selector) => {
          const box = document.querySelector(selector).getBoundingClientRect();
          const span = panel.appendChild(document.createElement('span'));
          span.textContent = text;
          Object.assign(span.style, { position: 'fixed', left: `${box.left + 2}px`, top: `${box.top + 2}px` });
        };
        pin('overprint', '.view-label strong');
        pin('on a button', '#pause');
        // Text cut off by a box that hides its overflow without an ellipsis.
        const clipped = panel.appendChild(document.createElement('div'));
        Object.assign(clipped.style, { width: '40px', overflow: 'hidden', whiteSpace: 'nowrap' });
        clipped.textContent = 'a text far wider than its box';
        // A field too narrow for its value.
        const field = panel.appendChild(document.createElement('input'));
        field.value = '0x7FF';
        field.style.width = '20px';
        // A page wider than the window.
        const wide = document.body.appendChild(document.createElement('div'));
        Object.assign(wide.style, { width: '3000px', height: '1px' });
      });
      const faults = await page.evaluate(findLayoutFaults, { firstScreen: '.app > footer' });
      const expect = [
        /"overprint" .* overlaps "Traffic"|"Traffic" .* overlaps "overprint"/,
        /"on a button" .* overlaps the control button#pause/,
        /"a text far wider than its box" .* is cut off at the right edge/,
        /input shows "0x7FF"/,
        /^page is \d+px wide in a 1024px window$/,
        /^\.app > footer ends at \d+px, below the first screen of 900px$/,
      ];
      for (const pattern of expect) assert.ok(faults.some((fault) => pattern.test(fault)), `${pattern} in ${faults.join('\n')}`);
    } finally {
      await context.close();
    }
  });
});

describe('symbols the page carries itself', () => {
  it('draws "⭳" and "＋" from the stylesheet\'s own font, one glyph each', async () => {
    const { context, page } = await openLab(env.browser, env.launcher, { query: '?scenario=live' });
    try {
      await page.evaluate(() => document.fonts.ready);
      const cdp = await context.newCDPSession(page);
      await cdp.send('DOM.enable');
      await cdp.send('CSS.enable');
      const { root } = await cdp.send('DOM.getDocument', { depth: 0 });
      /** The fonts Chromium drew the text of an element with, as "family:glyphs", a web font as "web:glyphs". */
      const fontsOf = async (selector) => {
        const { nodeId } = await cdp.send('DOM.querySelector', { nodeId: root.nodeId, selector });
        const { fonts } = await cdp.send('CSS.getPlatformFontsForNode', { nodeId });
        return fonts.map((font) => `${font.isCustomFont ? 'web' : font.familyName}:${font.glyphCount}`).sort();
      };
      await page.evaluate(() => { document.querySelector('.protocols details').open = true; });
      const shown = { '#plot-export': 'plots', '#plot-zoom-in': 'plots', '#daq-export': 'daq', '#daq-add': 'daq', '#load-eds': 'monitor' };
      for (const [selector, tab] of Object.entries(shown)) {
        await page.locator(`#tab-${tab}`).dispatchEvent('click');
        // A face limited by unicode-range loads once a shown text needs it.
        await page.evaluate(async () => {
          document.body.offsetWidth;
          await document.fonts.ready;
        });
        const fonts = await fontsOf(selector);
        assert.ok(fonts.includes('web:1'), `${selector}: ${fonts.join(', ')}`);
      }
      // Only those two code points come from it: the rest of a label keeps the UI face.
      await page.locator('#tab-plots').dispatchEvent('click');
      assert.ok((await fontsOf('#plot-export')).some((font) => !font.startsWith('web:')), 'the "PNG" of "⭳ PNG"');
    } finally {
      await context.close();
    }
  });
});

describe('fields and dialogs', () => {
  it('draws one focus ring around a search field, and shows the QR addresses whole', async () => {
    for (const concept of ['studio', 'console']) {
      const { context, page } = await openLab(env.browser, env.launcher, { query: `?concept=${concept}&scenario=live` });
      try {
        await page.focus('#pause');
        await page.keyboard.press('Shift+Tab');
        await page.keyboard.press('Shift+Tab');
        const rings = await page.evaluate(() => {
          const outline = (element) => {
            const s = getComputedStyle(element);
            return s.outlineStyle === 'none' ? 'none' : `${s.outlineWidth} ${s.outlineStyle} ${s.outlineColor}`;
          };
          return [document.activeElement.id, outline(document.activeElement), outline(document.activeElement.closest('.search'))];
        });
        assert.deepEqual(rings, ['filter', 'none', '2px solid rgb(237, 176, 89)'], concept);

        await page.click('#show-qr-picker');
        const cut = await page.$$eval('#qr-choices .uri', (uris) => uris
          .filter((uri) => uri.scrollWidth > uri.clientWidth)
          .map((uri) => uri.textContent));
        assert.deepEqual(cut, [], `${concept}: addresses cut in the picker`);
      } finally {
        await context.close();
      }
    }
  });
});
