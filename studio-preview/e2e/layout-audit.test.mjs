// The layout audit in Chromium (see layout-audit-suite.mjs), which also sees
// the narrowest layout at 600 px; then what only Chromium shows: the audit
// finding the faults of a page made to fail, the fonts the symbols are drawn
// with, and the focus rings.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { findLayoutFaults } from './text-boxes.mjs';
import { showTab } from './busy-state.mjs';
import { HEIGHT, WIDTHS, chartSizesTo, columnGaps, layoutAuditSuite } from './layout-audit-suite.mjs';
import * as chromium from './engines/chromium.mjs';

layoutAuditSuite(chromium, { widths: [600, ...WIDTHS] });

// The audit's own test, the fonts Chromium reports drawing with and the focus
// rings need one engine only: Chromium, driven directly.
describe('in Chromium alone', () => {
  const { withLab } = useLab();

  describe('the audit itself', () => {
    it('finds overprinted, clipped, stray, uneven and overflowing boxes on a page made to fail', async () => {
      await withLab({ query: '?scenario=live', viewport: { width: 1024, height: HEIGHT } }, async (page) => {
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
          // A button cut at its bottom by a box too low for it.
          const low = panel.appendChild(document.createElement('div'));
          Object.assign(low.style, { height: '12px', overflow: 'hidden' });
          low.appendChild(document.createElement('button')).textContent = 'cut';
          // A button a few pixels lower than its neighbour.
          const row = panel.appendChild(document.createElement('div'));
          Object.assign(row.style, { display: 'flex', alignItems: 'center', gap: '8px' });
          row.appendChild(document.createElement('button')).textContent = 'a wide button';
          const taller = row.appendChild(document.createElement('button'));
          taller.textContent = 'a taller one';
          taller.style.paddingBlock = '14px';
          // An element drawn past the bottom of its panel, over the bottom line.
          const stray = panel.appendChild(document.createElement('div'));
          Object.assign(stray.style, { position: 'relative', height: '10px', top: '300px' });
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
          /^button is cut off at the bottom edge of div$/,
          /^button \(\d+\.\dpx high\) beside button \(\d+\.\dpx\)$/,
          /^div reaches \d+px below div#monitor-panel$/,
          /^page is \d+px wide in a 1024px window$/,
          /^\.app > footer ends at \d+px, below the first screen of 900px$/,
        ];
        for (const pattern of expect) assert.ok(faults.some((fault) => pattern.test(fault)), `${pattern} in ${faults.join('\n')}`);
      });
    });

    it('sees a sidebar short of its column and a docked setup that leaves the main area less than half the window', async () => {
      for (const [concept, planted, fault] of [
        ['studio', '.setup { max-height: 300px !important; }', /^sidebar 300px high beside a \d+px column$/],
        ['console', '.setup { padding-bottom: 120px !important; }', /^main area starts \d+px down a 900px window below the docked setup$/],
      ]) {
        await withLab({ query: `?scenario=live&concept=${concept}`, viewport: { width: 1280, height: HEIGHT } }, async (page) => {
          assert.deepEqual(await page.evaluate(columnGaps), [], `${concept}: clean before the fault is planted`);
          await page.addStyleTag({ content: planted });
          const gaps = await page.evaluate(columnGaps);
          assert.ok(gaps.some((gap) => fault.test(gap)), `${fault} in ${gaps.join('\n')}`);
        });
      }
    });

    it('sees a chart that passes through other sizes while the concept changes', async () => {
      await withLab({ query: '?scenario=live', viewport: { width: 1280, height: HEIGHT } }, async (page) => {
        await page.evaluate(showTab, 'plots');
        // The panel narrows over two seconds in the light concept: long enough
        // for several frames to be drawn on the way, however slow the machine.
        await page.addStyleTag({ content: '#plots-panel { transition: padding-right 2s linear; } .app[data-concept="bench"] #plots-panel { padding-right: 200px; }' });
        const sizes = await page.evaluate(chartSizesTo, 'bench');
        assert.ok(sizes.length > 3, sizes.join(' → '));
        const [first, last] = [sizes[0], sizes.at(-1)].map((size) => Number(size.split('×')[0]));
        assert.ok(first - last > 150, sizes.join(' → '));
      });
    });
  });

  describe('symbols the page carries itself', () => {
    it('draws "⭳" and "＋" from the stylesheet\'s own font, one glyph each', async () => {
      await withLab({ query: '?scenario=live' }, async (page, { context }) => {
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
      });
    });
  });

  describe('fields and dialogs', () => {
    it('draws one focus ring around a search field, and shows the QR addresses whole', async () => {
      for (const concept of ['studio', 'console']) {
        await withLab({ query: `?concept=${concept}&scenario=live` }, async (page) => {
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
        });
      }
    });
  });
});
