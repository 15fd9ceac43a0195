// The page's widgets with the keyboard alone, in Chromium, Firefox and WebKit
// through the engine adapters, against the real launcher: the workspace tabs
// and the chart page tabs, the object tree, the QR choices and the QR dialog.
// Each case walks a widget with real key presses and reads back, after every
// key, what has the focus, what is selected or checked and which items Tab
// reaches.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { openLab } from './engines/checks.mjs';
import { until } from './lab.mjs';
import * as chromium from './engines/chromium.mjs';
import * as firefox from './engines/firefox.mjs';
import * as webkit from './engines/webkit.mjs';

const RING = '2px solid rgb(237, 176, 89)';

/**
 * Page side: [focus, chosen, stops] of the widget in `selector`. focus names
 * the focused tab, radio or tree item (a tree header with its caret), else
 * the focused element by its id, or by its accessible label inside the
 * widget, else "outside"; chosen lists the widget's selected tabs or checked
 * radios; stops lists its items that are Tab stops.
 */
function widgetState(selector) {
  const ITEM = '[role="tab"], [role="radio"], [role="treeitem"]';
  const widget = document.querySelector(selector);
  const items = [...widget.querySelectorAll(ITEM)];
  const label = (node) => {
    if (node.matches('.obj-leaf')) return node.querySelector('.obj-name').textContent.split(' · ')[0];
    if (node.matches('[role="treeitem"]')) return `${node.firstElementChild.textContent} ${node.lastElementChild.textContent}`;
    return (node.querySelector('.idx') ?? node).textContent;
  };
  const active = document.activeElement;
  let focus = 'outside';
  if (active?.matches(ITEM)) focus = label(active);
  else if (active?.id) focus = `#${active.id}`;
  else if (widget.contains(active)) focus = active.getAttribute('aria-label');
  const chosen = items.filter((node) => node.getAttribute('aria-selected') === 'true' || node.getAttribute('aria-checked') === 'true');
  return [focus, chosen.map(label).join(), items.filter((node) => node.tabIndex === 0).map(label).join()];
}

/**
 * Presses each step's key and reads the widget after it; the steps are
 * [key, expected widget state] pairs. A failure lists every step with what
 * it found, and what was expected where that differs.
 */
async function walk(page, selector, steps) {
  const seen = [];
  for (const [key] of steps) {
    await page.press(key);
    seen.push([key, await page.evaluate(widgetState, selector)]);
  }
  const line = ([key, state], i) => {
    const wanted = steps[i][1];
    const same = JSON.stringify(state) === JSON.stringify(wanted);
    return `${JSON.stringify(key)} → ${state.join(' | ')}${same ? '' : `    expected ${wanted.join(' | ')}`}`;
  };
  assert.deepEqual(seen, steps, `keys on ${selector}:\n${seen.map(line).join('\n')}`);
}

/** The focus ring drawn around the focused element, as "width style colour" or "none". */
const focusRing = (page) => page.evaluate(() => {
  const s = getComputedStyle(document.activeElement);
  return s.outlineStyle === 'none' ? 'none' : `${s.outlineWidth} ${s.outlineStyle} ${s.outlineColor}`;
});

const focusOn = (page, selector) => page.evaluate((s) => document.querySelector(s).focus(), selector);

const CASES = [
  {
    name: 'workspace tabs and chart page tabs: one Tab stop, Left/Right wrap, Home/End, the shown tab follows',
    async run(page, origin) {
      await openLab(page, origin, '?scenario=live');
      await focusOn(page, '#tab-monitor');
      const tabs = '#live-view [role="tablist"]';
      const on = (tab) => [tab, tab, tab];
      await walk(page, tabs, [
        ['ArrowRight', on('Sniffer')],
        ['ArrowRight', on('Objects')],
        // Transmit keeps the focus on its tab while the arrows walk the tabs.
        ['ArrowRight', on('Transmit')],
        ['ArrowRight', on('Plots')],
        ['ArrowRight', on('DAQ')],
        ['ArrowRight', on('Monitor')],
        ['ArrowLeft', on('DAQ')],
        ['Home', on('Monitor')],
        ['End', on('DAQ')],
        ['ArrowLeft', on('Plots')],
        ['ArrowDown', on('Plots')],
      ]);
      assert.equal(await focusRing(page), RING);
      await walk(page, tabs, [
        // Tab leaves the tab list for the panel (its chart page tabs first) and Shift+Tab comes back.
        ['Tab', ['Chart 1', 'Plots', 'Plots']],
        ['Shift+Tab', on('Plots')],
      ]);
      assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('[role="tabpanel"]')]
        .filter((panel) => !panel.hidden).map((panel) => panel.id)), ['plots-panel']);

      await page.press('Tab');
      await walk(page, '#plot-tabs', [
        ['End', on('Chart 8')],
        ['ArrowRight', on('Chart 1')],
        ['ArrowLeft', on('Chart 8')],
        ['Home', on('Chart 1')],
        ['Tab', ['#plot-window', 'Chart 1', 'Chart 1']],
        ['Shift+Tab', on('Chart 1')],
        ['ArrowRight', on('Chart 2')],
      ]);
      assert.equal(await focusRing(page), RING);
    },
  },
  {
    name: 'object tree: one Tab stop, Up/Down/Home/End, Right opens or enters, Left closes or leaves, Enter and Space fold',
    async run(page, origin) {
      await openLab(page, origin, '?scenario=live');
      await page.click('#tab-objects');
      await focusOn(page, '#obj-filter');
      const tree = '#obj-tree';
      const at = (row) => [row, '', row];
      const motor = 'CANopen · motor.eds (Node 1 · 0x01)';
      await walk(page, tree, [
        ['Tab', at(`▾ ${motor}`)],
        ['ArrowDown', at('▾ Communication')],
        ['ArrowDown', at('Device type')],
        ['ArrowUp', at('▾ Communication')],
        ['ArrowLeft', at('▸ Communication')],
        // Down skips the rows of a closed header.
        ['ArrowDown', at('▾ Manufacturer')],
        ['ArrowUp', at('▸ Communication')],
        ['ArrowRight', at('▾ Communication')],
        ['ArrowRight', at('Device type')],
        ['ArrowRight', at('Device type')],
        ['ArrowDown', at('Error register')],
        ['ArrowDown', at('Manufacturer device name')],
        ['ArrowDown', at('Manufacturer software version')],
        ['ArrowDown', at('▾ RPDO1 mapping')],
        ['ArrowDown', at('Number of entries')],
        // Left goes to the row's own header, past the shallower row above it.
        ['ArrowLeft', at('▾ RPDO1 mapping')],
        ['ArrowLeft', at('▸ RPDO1 mapping')],
        ['ArrowLeft', at('▾ Communication')],
        ['ArrowLeft', at('▸ Communication')],
        ['ArrowLeft', at(`▾ ${motor}`)],
        ['Enter', at(`▸ ${motor}`)],
        ['ArrowLeft', at(`▸ ${motor}`)],
        [' ', at(`▾ ${motor}`)],
        ['End', at('ignition.advance')],
        ['ArrowDown', at('ignition.advance')],
        ['Home', at(`▾ ${motor}`)],
        ['ArrowUp', at(`▾ ${motor}`)],
        // A leaf row's controls are reached with Tab from their row, and only from it.
        ['ArrowRight', at('▸ Communication')],
        ['ArrowDown', at('▾ Manufacturer')],
        ['ArrowDown', at('Motor current')],
        ['Tab', ['Value of Motor current', '', 'Motor current']],
        ['Tab', ['Read value into the field', '', 'Motor current']],
        ['Tab', ['Write the field value', '', 'Motor current']],
        ['Tab', ['Periodic interval ms for Motor current', '', 'Motor current']],
        ['Tab', ['Toggle periodic read', '', 'Motor current']],
      ]);
      // Those are the tree's only Tab stops. (Tab from the last would leave the document, after
      // which Firefox sends the page no more focus events.)
      assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('#obj-tree *')]
        .filter((node) => node.tabIndex >= 0 && !node.disabled)
        .map((node) => node.getAttribute('aria-label') ?? node.querySelector('.obj-name').textContent)),
      ['Motor current · I16', 'Value of Motor current', 'Read value into the field', 'Write the field value',
        'Periodic interval ms for Motor current', 'Toggle periodic read']);
      await focusOn(page, '#obj-filter');
      const filtering = (stop) => ['#obj-filter', '', stop];
      await walk(page, tree, [
        ['Tab', at('Motor current')],
        ['Shift+Tab', filtering('Motor current')],
        // Each filter keystroke rebuilds the tree: the Tab stop stays on its row while the row is shown,
        // and goes to the first row when the filter hides it.
        ['m', filtering('Motor current')],
        ['x', filtering(`▾ ${motor}`)],
        ['Backspace', filtering(`▾ ${motor}`)],
        ['o', filtering(`▾ ${motor}`)],
        ['Tab', at(`▾ ${motor}`)],
        // While the filter holds every header open, Left on one goes up instead of closing it ...
        ['ArrowRight', at('▾ Communication')],
        ['ArrowLeft', at(`▾ ${motor}`)],
        ['Shift+Tab', filtering(`▾ ${motor}`)],
        ['Backspace', filtering(`▾ ${motor}`)],
        ['Backspace', filtering(`▾ ${motor}`)],
        // ... and leaves its stored state alone.
        ['Tab', at(`▾ ${motor}`)],
        ['ArrowDown', at('▸ Communication')],
      ]);
      assert.equal(await focusRing(page), RING);

      // A file load rebuilds the tree with new rows (files load while not connected): the stop stays.
      const enter = (scenario) => page.evaluate((value) => {
        const select = document.querySelector('#scenario');
        select.value = value;
        select.dispatchEvent(new Event('change'));
      }, scenario);
      await enter('ready');
      await page.click('details:has(#load-eds) > summary');
      await page.click('#load-eds');
      await enter('live');
      await page.click('#tab-objects');
      await focusOn(page, '#obj-filter');
      await walk(page, tree, [['Tab', at('▸ Communication')]]);
      assert.equal(await page.evaluate(() => document.querySelectorAll('#obj-tree .obj-root-label').length), 6);
    },
  },
  {
    name: 'QR choices and dialog: one Tab stop on the checked choice, arrows move and check, Tab stays inside, Escape returns',
    async run(page, origin) {
      await openLab(page, origin, '?scenario=ready');
      await focusOn(page, '#show-qr-picker');
      const dialog = '#qr-modal';
      const at = (choice) => [choice, choice, choice];
      await walk(page, dialog, [
        ['Enter', ['1', '', '1']],
        // Nothing selected: "Use selected" is disabled and Tab skips it.
        ['Tab', ['#qr-cancel', '', '1']],
        ['Tab', ['1', '', '1']],
        ['Shift+Tab', ['#qr-cancel', '', '1']],
        ['Shift+Tab', ['1', '', '1']],
        ['ArrowDown', at('2')],
        ['ArrowRight', at('3')],
        ['ArrowDown', at('1')],
        ['ArrowUp', at('3')],
        ['ArrowLeft', at('2')],
        [' ', at('2')],
        ['Tab', ['#qr-cancel', '2', '2']],
        ['Tab', ['#qr-use', '2', '2']],
        ['Tab', at('2')],
        ['Shift+Tab', ['#qr-use', '2', '2']],
        ['Shift+Tab', ['#qr-cancel', '2', '2']],
        ['Shift+Tab', at('2')],
        ['ArrowDown', at('3')],
      ]);
      assert.equal(await focusRing(page), RING);
      await page.press('Escape');
      assert.deepEqual(await page.evaluate(() => [document.querySelector('#qr-modal').hidden, document.activeElement.id]),
        [true, 'show-qr-picker']);
      // Reopened: nothing checked, the first choice is the stop; Enter checks the focused choice.
      await walk(page, dialog, [
        ['Enter', ['1', '', '1']],
        ['Enter', at('1')],
        ['ArrowUp', at('3')],
      ]);
      // A click on the card's text drops the focus: Tab takes it back into the dialog.
      await page.click('#qr-modal-title');
      await walk(page, dialog, [['Tab', at('3')]]);
    },
  },
];

describe('keyboard use of the widgets', () => {
  for (const engine of [chromium, firefox, webkit]) {
    describe(`in ${engine.name}`, () => {
      // A launcher per engine: one that outlived the previous engine's tab
      // would end by itself while the next browser starts.
      const env = useLab({ engine });
      for (const { name, run } of CASES) {
        it(name, async () => {
          const seen = (await env.page.errors()).length;
          await run(env.page, env.launcher.origin);
          assert.deepEqual((await env.page.errors()).slice(seen), [], 'page errors');
        });
      }
    });
  }
});
