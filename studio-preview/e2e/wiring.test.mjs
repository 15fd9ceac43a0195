// Which views follow which change, on the page served by the real launcher:
// every region filled at start-up, a file load reaching every view of loaded
// files, the listen-only box reaching every view it locks (also rows built
// after it changed), the address rewritten only when it differs, and the
// filters and the grab-pan keeping the elements they do not change.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';

const { withLab } = useLab();

const count = (page, selector) => page.locator(selector).count();
/** The load buttons sit in a part of the sidebar that may be folded away; a click on the element still loads. */
const load = (page, kind) => page.$eval(`#load-${kind}`, (button) => button.click());
const optionValues = (page, selector) => page.$$eval(`${selector} option`, (options) => options.map((o) => o.value));

describe('start-up', () => {
  it('fills every region from the initial data, whatever the scenario', async () => {
    for (const scenario of ['missing', 'live']) {
      await withLab({ query: `?scenario=${scenario}` }, async (page) => {
        const regions = await page.evaluate(() => Object.fromEntries([
          '#eds-list', '#dbc-list', '#a2l-list', '#obj-source', '#pdo-node', '#tx-node', '#tx-db', '#daq-measure',
          '#daq-event', '#daq-list', '#daq-log', '#sniffer-tx-rows', '#sniffer-rows', '#sniffer-inspect', '#plot-tabs',
          '#plot-signals', '#plot-svg', '#obj-tree', '#frames',
        ].map((selector) => [selector, document.querySelector(selector).children.length])));
        for (const [selector, children] of Object.entries(regions)) {
          if (selector === '#frames' && scenario === 'missing') continue;
          assert.ok(children > 0, `${selector} is empty in "${scenario}"`);
        }
        assert.equal(await count(page, '#plot-tabs > button'), 8);
        assert.equal(await count(page, '#sniffer-tx-rows > tr'), 2);
        assert.notEqual(await page.getAttribute('#tx-data', 'placeholder'), null);
      });
    }
  });

  it('takes the notice of the query and keeps it in the address', async () => {
    await withLab({ query: '?concept=bench&scenario=ready&notice=both' }, async (page) => {
      assert.equal(await count(page, '#notices-strip > .notice'), 2);
      assert.equal(await page.evaluate(() => location.search), '?concept=bench&scenario=ready&notice=both');
    });
  });
});

describe('the address', () => {
  it('drops a fragment and unknown keys even when the query itself already reads right', async () => {
    await withLab({ query: '?concept=studio&scenario=ready#frames' }, async (page) => {
      assert.deepEqual(await page.evaluate(() => [location.search, location.hash]), ['?concept=studio&scenario=ready', '']);
    });
    await withLab({ query: '?concept=studio&scenario=ready&x=1' }, async (page) => {
      assert.equal(await page.evaluate(() => location.search), '?concept=studio&scenario=ready');
    });
  });

  it('follows every change and never adds a history entry', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      const before = await page.evaluate(() => history.length);
      await page.click('button[data-concept="console"]');
      await page.selectOption('#notices', 'fw-failed');
      await page.click('#refresh');
      assert.equal(await page.evaluate(() => location.search), '?concept=console&scenario=ready&notice=fw-failed');
      await page.selectOption('#notices', 'none');
      assert.equal(await page.evaluate(() => location.search), '?concept=console&scenario=ready');
      assert.equal(await page.evaluate(() => history.length), before);
    });
  });
});

describe('a file load', () => {
  it('reaches the file lists, the object sources and tree, the transmit nodes, the DAQ measurements and the plots', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      const treeRows = await count(page, '#obj-tree > *');
      await load(page, 'eds');
      await load(page, 'a2l');
      assert.equal(await count(page, '#eds-list > .file-row'), 3);
      assert.equal(await count(page, '#a2l-list > .file-row'), 2);
      assert.ok((await optionValues(page, '#obj-source')).includes('xcp:gateway.a2l'));
      assert.equal((await optionValues(page, '#pdo-node')).length, 3);
      assert.equal((await optionValues(page, '#tx-node')).length, 3);
      assert.ok((await optionValues(page, '#daq-measure')).includes('gateway.a2l:bus.load'));
      assert.ok((await count(page, '#obj-tree > *')) > treeRows, 'the tree shows the new files');

      await page.selectOption('#scenario', 'live');
      await page.click('#tab-plots');
      const labels = await page.$$eval('#plot-signals .sig-label', (all) => all.map((label) => label.textContent));
      assert.ok(labels.includes('gateway/bus.load'), `plot catalogue ${labels.join(', ')}`);
    });
  });
});

describe('listen-only mode', () => {
  /** Enabled state of every control the box locks. */
  const locks = (page) => page.evaluate(() => ({
    send: !document.querySelector('#tx-send').disabled,
    snifferAdd: !document.querySelector('#sniffer-tx-add').disabled,
    writes: [...document.querySelectorAll('#obj-tree [data-write-btn][data-writable="true"]')].filter((b) => !b.disabled).length,
    daqAdd: !document.querySelector('#daq-add').disabled,
    daqConnect: !document.querySelector('#daq-connect').disabled,
    banner: !document.querySelector('#listen-banner').hidden,
    summary: document.querySelector('#mode-summary').textContent,
  }));

  it('locks the transmit buttons, the object writes and the DAQ at once, and frees them again', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      const free = await locks(page);
      assert.deepEqual({ ...free, writes: free.writes > 0 },
        { send: true, snifferAdd: true, writes: true, daqAdd: true, daqConnect: true, banner: false, summary: 'Active mode' });
      await page.check('#listen');
      assert.deepEqual(await locks(page),
        { send: false, snifferAdd: false, writes: 0, daqAdd: false, daqConnect: false, banner: true, summary: 'Listen-only / passive' });
      await page.uncheck('#listen');
      assert.deepEqual(await locks(page), free);
    });
  });

  it('also locks the write buttons of tree rows built after the box was ticked', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      await page.check('#listen');
      await load(page, 'eds');
      await page.selectOption('#scenario', 'live');
      await page.click('#tab-objects');
      await page.fill('#obj-filter', 'Controlword');
      const buttons = await page.$$eval('#obj-tree .obj-leaf:not([hidden]) [data-write-btn]', (all) => all.map((b) => b.disabled));
      assert.ok(buttons.length > 0);
      assert.deepEqual(buttons, buttons.map(() => true));
    });
  });
});

describe('elements an interaction does not change', () => {
  it('a Sniffer filter keystroke leaves the inspector and keeps the selection mark of a row filtered out and back', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await page.click('#tab-sniffer');
      const order = await page.$$eval('#sniffer-rows td.id', (all) => all.map((td) => td.textContent));
      await page.click('#sniffer-rows tr:has-text("0x181")');
      await page.evaluate(() => {
        window.inspectorBefore = document.querySelector('#sniffer-inspect').firstElementChild;
      });
      await page.fill('#sniffer-filter', '0x70');
      assert.deepEqual(await page.$$eval('#sniffer-rows td.id', (all) => all.map((td) => td.textContent)),
        order.filter((id) => id.startsWith('0x70')));
      assert.equal(await page.evaluate(() => document.querySelector('#sniffer-inspect').firstElementChild === window.inspectorBefore), true);
      assert.match(await page.textContent('#sniffer-inspect'), /0x181/);
      await page.fill('#sniffer-filter', '');
      assert.deepEqual(await page.$$eval('#sniffer-rows tr.selected td.id', (all) => all.map((td) => td.textContent)), ['0x181']);
      assert.deepEqual(await page.$$eval('#sniffer-rows td.id', (all) => all.map((td) => td.textContent)), order);
    });
  });

  it('a Monitor filter brings the rows back in their order and with their stripes', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      const rows = () => page.$$eval('#frames tr', (all) => all.map((tr) => [tr.children[0].textContent, getComputedStyle(tr).backgroundColor]));
      const before = await rows();
      await page.fill('#filter', '0x18');
      assert.ok((await rows()).length < before.length);
      await page.fill('#filter', '');
      assert.deepEqual(await rows(), before);
      assert.equal(await page.textContent('#frame-count'), `${before.length} / ${before.length} frames`);
    });
  });

  it('a grab-pan moves the chart and keeps the chart tabs, the picker and the legend', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await page.click('#tab-plots');
      await page.click('#plot-zoom-in');
      await page.evaluate(() => {
        window.kept = ['#plot-tabs', '#plot-signals', '#plot-legend'].map((s) => document.querySelector(s).firstElementChild);
      });
      const box = await page.locator('.plot-canvas').boundingBox();
      const before = await page.getAttribute('#plot-svg polyline.series', 'points');
      await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
      await page.mouse.down();
      await page.mouse.move(box.x + box.width / 2 + 40, box.y + box.height / 2 + 20);
      await page.mouse.up();
      assert.notEqual(await page.getAttribute('#plot-svg polyline.series', 'points'), before);
      assert.deepEqual(await page.evaluate(() => window.kept.map((node) => node.isConnected)), [true, true, true]);
    });
  });
});
