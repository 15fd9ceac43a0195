// Sample files and the object dictionary tree on the page served by the real
// launcher: the sidebar file lists and what the load buttons add, the tree's
// source select, rows, filter, collapse state, value editing with validation,
// the periodic marker and listen-only mode. The pure functions are checked on
// the page's own module, imported again from the page (the same instance).

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';

const { withLab } = useLab();

/** Makes the page's module reachable as window.app for page.evaluate. */
async function exposeModule(page) {
  await page.evaluate(async () => {
    window.app = await import(new URL('./app.js', location.href).href);
  });
}

/** Opens the live workspace on the Objects tab. */
async function openObjects(page) {
  await page.click('#tab-objects');
}

/** The rows of each sidebar file list as arrays of their span texts. */
function fileLists(page) {
  return page.evaluate(() => Object.fromEntries(['eds', 'dbc', 'a2l'].map((kind) => [kind,
    [...document.querySelector(`#${kind}-list`).children].map((row) => [...row.children].map((span) => span.textContent))])));
}

/** Shown leaf rows as "file name" (file from the preceding file header). */
function visibleLeaves(page) {
  return page.$$eval('#obj-tree > *', (rows) => {
    let file = '';
    const shown = [];
    for (const row of rows) {
      if (row.classList.contains('obj-root-label')) file = /· (\S+)/.exec(row.textContent)[1];
      else if (row.classList.contains('obj-leaf') && !row.hidden) {
        shown.push(`${file} ${row.querySelector('.obj-name').textContent.split(' · ')[0]}`);
      }
    }
    return shown;
  });
}

/** Header rows: [class, caret, aria-expanded, text without caret]. */
function headers(page) {
  return page.$$eval('#obj-tree > .obj-root-label, #obj-tree > .obj-group-head', (rows) => rows.map((row) =>
    [row.className, row.querySelector('.obj-caret').textContent, row.getAttribute('aria-expanded'),
      [...row.children].slice(1).map((span) => span.textContent).join('|')]));
}

const row = (page, name, nth = 0) => page.locator('.obj-leaf', { has: page.getByLabel(`Value of ${name}`, { exact: true }) }).nth(nth);

/** State of one leaf's field and write button. */
function field(page, name) {
  return row(page, name).evaluate((leaf) => {
    const input = leaf.querySelector('.obj-value-input');
    const write = leaf.querySelector('.write-btn');
    return { value: input.value, dirty: input.classList.contains('dirty'), invalid: input.classList.contains('invalid'),
      writeEnabled: !write.disabled, invalidEntry: write.dataset.invalid };
  });
}

describe('sample files and loaded files', () => {
  it('starts with two EDS, two DBC and one A2L file, all in closed blocks, referencing the catalogue records', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      assert.deepEqual(await fileLists(page), {
        eds: [['Node 1', 'motor.eds', '0x01'], ['Node 2', 'io.eds', '0x02']],
        dbc: [['powertrain.dbc', 'DBC'], ['chassis.dbc', 'DBC']],
        a2l: [['ecu.a2l', 'A2L']],
      });
      assert.equal(await page.$$eval('.protocols details[open]', (open) => open.length), 0);
      await exposeModule(page);
      assert.deepEqual(await page.evaluate(() => Object.entries(app.loaded).map(([type, files]) =>
        [type, files.every((file, i) => file === app.catalog[type][i])])), [['eds', true], ['dbc', true], ['xcp', true]]);
    });
  });

  it('loads the rest of the catalogue, then generated files with counted names, node ids and identifiers', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      for (const kind of ['CANopen', 'DBC', 'XCP']) await page.click(`.protocols summary:has-text("${kind}")`);
      for (let i = 0; i < 2; i += 1) {
        for (const button of ['#load-eds', '#load-dbc', '#load-a2l']) await page.click(button);
      }
      const lists = await fileLists(page);
      assert.deepEqual(lists.eds.slice(2), [['Node 3', 'sensor.eds', '0x03'], ['Node 4', 'device4.eds', '0x04']]);
      assert.deepEqual(lists.dbc.slice(2), [['body.dbc', 'DBC'], ['database4.dbc', 'DBC']]);
      assert.deepEqual(lists.a2l.slice(1), [['gateway.a2l', 'A2L'], ['module3.a2l', 'A2L']]);
      await exposeModule(page);
      const generated = await page.evaluate(() => {
        const [eds, dbc, xcp] = [app.loaded.eds[3], app.loaded.dbc[3], app.loaded.xcp[2]];
        return { eds: [eds.label, eds.rpdos.length, eds.children[0].label, eds.children[0].children[0].value],
          dbc: [dbc.label, dbc.messages, dbc.children[0].label], xcp: [xcp.cro, xcp.dto, xcp.events, xcp.children[0].children[0]] };
      });
      assert.deepEqual(generated, {
        eds: ['CANopen · device4.eds (Node 4 · 0x04)', 0, 'Communication · 0x1000–0x1FFF', '0x00000000'],
        dbc: ['DBC · database4.dbc', ['Message1 (0x400)'], 'Message1 · 0x400'],
        xcp: ['0x620', '0x621', [{ name: '10ms_task', cycle: 10 }],
          { name: 'signal', idx: 'DAQ', sub: '—', type: 'F32', access: 'ro', value: '0.0', addr: '0x20003000', amp: 1 }],
      });
      // The new files reach the object source select and the tree.
      const sources = await page.$$eval('#obj-source option', (options) => options.map((option) => option.value));
      for (const value of ['eds:device4.eds', 'dbc:database4.dbc', 'xcp:module3.a2l']) assert.ok(sources.includes(value), value);
      assert.ok((await headers(page)).some(([, , , text]) => text === 'CANopen · device4.eds (Node 4 · 0x04)'));
    });
  });

  it('writes node ids as two upper-case hex digits from node 10 on (0x0A, not 0x010); each generated file is a new record', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      await page.click('.protocols summary:has-text("CANopen")');
      for (let i = 0; i < 15; i += 1) await page.click('#load-eds');
      const lists = await fileLists(page);
      assert.deepEqual(lists.eds[7], ['Node 8', 'device8.eds', '0x08']);
      assert.deepEqual(lists.eds[9], ['Node 10', 'device10.eds', '0x0A']);
      assert.deepEqual(lists.eds[10], ['Node 11', 'device11.eds', '0x0B']);
      assert.deepEqual(lists.eds[15], ['Node 16', 'device16.eds', '0x10']);
      await exposeModule(page);
      assert.deepEqual(await page.evaluate(() => {
        const [a, b] = [app.loaded.eds[9], app.loaded.eds[10]];
        return [a.label, a.children[0] !== b.children[0], a.children[0].children[0] !== b.children[0].children[0]];
      }), ['CANopen · device10.eds (Node 10 · 0x0A)', true, true]);
    });
  });

  it('adds nothing while connecting or live, even through a re-enabled button', async () => {
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      const enabled = () => page.$$eval('#load-eds, #load-dbc, #load-a2l', (buttons) => buttons.map((b) => !b.disabled));
      assert.deepEqual(await enabled(), [true, true, true]);
      await page.click('#connect');
      assert.deepEqual(await enabled(), [false, false, false]);
      await page.clock.runFor(650);
      assert.deepEqual(await enabled(), [false, false, false]);
      await page.evaluate(() => {
        for (const button of document.querySelectorAll('#load-eds, #load-dbc, #load-a2l')) {
          button.disabled = false;
          button.click();
        }
      });
      const lists = await fileLists(page);
      assert.deepEqual([lists.eds.length, lists.dbc.length, lists.a2l.length], [2, 2, 1]);
    });
  });

  it('keeps a written value, as text, through source switches, loads and reconnects; a reload drops it', async () => {
    const hostile = '<img src=x onerror=alert(1)>';
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      let dialogs = 0;
      page.on('dialog', (dialog) => { dialogs += 1; return dialog.dismiss(); });
      const connectToObjects = async () => {
        await page.click('#connect');
        await page.clock.runFor(650);
        await openObjects(page);
      };
      await connectToObjects();
      await page.getByLabel('Value of Drive label').fill(hostile);
      await row(page, 'Drive label').locator('.write-btn').click();
      await page.selectOption('#obj-source', 'eds:motor.eds');
      await page.selectOption('#obj-source', 'all');
      await page.click('#connect'); // disconnect
      await page.click('.protocols summary:has-text("DBC")');
      await page.click('#load-dbc');
      await connectToObjects();
      assert.equal((await field(page, 'Drive label')).value, hostile);
      assert.equal(await page.locator('#obj-tree img, img[src="x"]').count(), 0);
      assert.equal(dialogs, 0);
      await page.reload();
      await page.selectOption('#scenario', 'live');
      await openObjects(page);
      assert.equal((await field(page, 'Drive label')).value, 'axis-front');
    });
  });

  it('leaf index: lower-case keys, a repeated key keeps its first place with the last leaf; findGroup searches last sibling first', async () => {
    await withLab({}, async (page) => {
      await exposeModule(page);
      const result = await page.evaluate(() => {
        const [motor, io, sensor] = app.catalog.eds;
        const motorIndex = app.buildLeafIndex(motor);
        const powertrain = app.buildLeafIndex(app.catalog.dbc[0]);
        const made = { children: [{ label: 'g', children: [
          { name: 'a', idx: '0xA', sub: '—' }, { name: 'b', idx: '0xB', sub: '—' }, { name: 'c', idx: '0xa', sub: '—' }] }] };
        const madeIndex = app.buildLeafIndex(made);
        const nested = { label: 'x root', children: [{ label: 'outer x', children: [{ label: 'inner x', children: [] }] }] };
        const label = (group) => group?.label ?? null;
        return {
          motor: [motorIndex.size, motorIndex.get('0x100a:00')?.name, motorIndex.get('0x1a00:02')?.value,
            [...motorIndex.keys()].slice(0, 4)],
          powertrain: [[...powertrain.keys()], powertrain.get('0x180:—').name],
          made: [[...madeIndex.keys()], madeIndex.get('0xa:—').name],
          rpdo: app.findGroup(motor, (g) => g.label.includes('0x1600')) === motor.children[0].children[4],
          ioRpdo: label(app.findGroup(io, (g) => g.label.includes('0x1600'))),
          sensor: label(app.findGroup(sensor, (g) => g.label.includes('0x1600'))),
          anyMapping: label(app.findGroup(motor, (g) => g.label.includes('mapping'))),
          anything: label(app.findGroup(motor, () => true)),
          rootLabel: label(app.findGroup(motor, (g) => g.label.includes('motor.eds'))),
          outerFirst: label(app.findGroup(nested, (g) => g.label.includes('x'))),
        };
      });
      assert.deepEqual(result, {
        motor: [16, 'Manufacturer software version', '0x60710010', ['0x1000:00', '0x1001:00', '0x1008:00', '0x100a:00']],
        powertrain: [['0x180:—', '0x200:—'], 'CoolantTemp'],
        made: [['0xa:—', '0xb:—'], 'c'],
        rpdo: true,
        ioRpdo: 'RPDO1 mapping · 0x1600',
        sensor: null,
        anyMapping: 'TPDO1 mapping · 0x1A00',
        anything: 'Profile · 0x6000–0x9FFF',
        rootLabel: null,
        outerFirst: 'outer x',
      });
    });
  });
});

describe('object dictionary tree', () => {
  it('offers the loaded files by type, keeps the chosen source across loads and shows the chosen roots', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      const groups = await page.$$eval('#obj-source > *', (nodes) => nodes.map((node) => (node.tagName === 'OPTGROUP'
        ? [node.label, [...node.children].map((option) => `${option.value}=${option.textContent}`)]
        : `${node.value}=${node.textContent}`)));
      assert.deepEqual(groups, ['all=All sources (EDS · DBC · XCP)',
        ['CANopen (EDS)', ['eds=All CANopen (EDS)', 'eds:motor.eds=motor.eds · Node 1', 'eds:io.eds=io.eds · Node 2']],
        ['DBC', ['dbc=All DBC', 'dbc:powertrain.dbc=powertrain.dbc', 'dbc:chassis.dbc=chassis.dbc']],
        ['XCP (A2L)', ['xcp=All XCP (A2L)', 'xcp:ecu.a2l=ecu.a2l']]]);
      const roots = async () => (await headers(page)).filter(([cls]) => cls === 'obj-root-label').map(([, , , text]) => text);
      assert.deepEqual(await roots(), ['CANopen · motor.eds (Node 1 · 0x01)', 'CANopen · io.eds (Node 2 · 0x02)',
        'DBC · powertrain.dbc', 'DBC · chassis.dbc', 'XCP · ecu.a2l']);
      await page.selectOption('#scenario', 'live');
      await openObjects(page);
      await page.selectOption('#obj-source', 'dbc');
      await page.selectOption('#scenario', 'ready');
      await page.click('.protocols summary:has-text("XCP")');
      await page.click('#load-a2l');
      assert.equal(await page.inputValue('#obj-source'), 'dbc');
      assert.deepEqual(await roots(), ['DBC · powertrain.dbc', 'DBC · chassis.dbc']);
      await page.selectOption('#scenario', 'live');
      await openObjects(page);
      await page.selectOption('#obj-source', 'xcp:gateway.a2l');
      assert.deepEqual(await roots(), ['XCP · gateway.a2l']);
    });
  });

  it('builds headers and leaf rows with their indentation, texts, chips, glyphs, titles and enabled states', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await openObjects(page);
      const heads = await headers(page);
      assert.deepEqual(heads.slice(0, 3), [
        ['obj-root-label', '▾', 'true', 'CANopen · motor.eds (Node 1 · 0x01)'],
        ['obj-group-head', '▾', 'true', '0x1000–0x1FFF|Communication'],
        ['obj-group-head', '▾', 'true', '0x1600|RPDO1 mapping']]);
      assert.ok(heads.some(([, , , text]) => text === 'Measurements (DAQ)'));
      const pad = (locator) => locator.evaluate((node) => node.style.paddingLeft);
      assert.deepEqual([await pad(page.locator('.obj-group-head').first()), await pad(row(page, 'Device type')),
        await pad(page.locator('.obj-group-head').nth(1)), await pad(row(page, 'Mapped object 1'))], ['20px', '28px', '36px', '44px']);
      const describeRow = (locator) => locator.evaluate((leaf) => ({
        idx: leaf.querySelector('.obj-idx').textContent,
        name: leaf.querySelector('.obj-name').textContent,
        access: [leaf.querySelector('.access').className, getComputedStyle(leaf.querySelector('.access')).textTransform],
        input: [leaf.querySelector('.obj-value-input').className, leaf.querySelector('.obj-value-input').readOnly],
        unit: leaf.querySelector('.obj-unit')?.textContent ?? null,
        buttons: [...leaf.querySelectorAll('.icon-btn')].map((b) => [b.className, b.textContent, b.title, !b.disabled]),
        data: { ...leaf.dataset },
      }));
      assert.deepEqual(await describeRow(row(page, 'Device type')), {
        idx: '0x1000:00', name: 'Device type · U32', access: ['access access-ro', 'uppercase'], input: ['obj-value-input', true],
        unit: null, data: { name: 'device type', idxnum: '4096', subnum: '0' },
        buttons: [['icon-btn read-btn', '⬇\uFE0E', 'Read value into the field', true],
          ['icon-btn write-btn', '✎\uFE0E', 'Read-only object', false], ['icon-btn cyc-btn', '⟳\uFE0E', 'Toggle periodic read', true]],
      });
      const rpm = await describeRow(row(page, 'EngineRPM'));
      assert.deepEqual([rpm.idx, rpm.unit, rpm.data], ['0x180', 'rpm', { name: 'enginerpm', idxnum: '384', subnum: '' }]);
      const label = await describeRow(row(page, 'Drive label'));
      assert.deepEqual([label.input, label.buttons[1][2], label.buttons[1][3]], [['obj-value-input text', false], 'Write the field value', true]);
      assert.deepEqual((await describeRow(row(page, 'engine.rpm'))).data, { name: 'engine.rpm', idxnum: '', subnum: '' });
      // A box at least 560px high (it grows to the panel's bottom line) whose rows scroll inside it.
      assert.deepEqual(await page.$eval('#obj-tree', (tree) => [getComputedStyle(tree).minHeight, tree.scrollHeight > tree.clientHeight]),
        ['560px', true]);
    });
  });

  it('filters by index, index:sub-index and name; headers stay and show expanded', async () => {
    const cases = {
      '0x6040': ['motor.eds Controlword'],
      '24640': ['motor.eds Controlword'],
      ' 0X6040 ': ['motor.eds Controlword'],
      '0x1600:1': ['motor.eds Mapped object 1', 'io.eds Mapped object 1'],
      '0x1600:': ['motor.eds Number of entries', 'motor.eds Mapped object 1', 'motor.eds Mapped object 2',
        'io.eds Number of entries', 'io.eds Mapped object 1'],
      '0x1600:0x02': ['motor.eds Mapped object 2'],
      '384': ['powertrain.dbc EngineRPM', 'powertrain.dbc CoolantTemp'],
      '0x180': ['powertrain.dbc EngineRPM', 'powertrain.dbc CoolantTemp'],
      '0x180:': ['powertrain.dbc EngineRPM', 'powertrain.dbc CoolantTemp'],
      '0x180:0': [],
      'rpm': ['powertrain.dbc EngineRPM', 'ecu.a2l engine.rpm'],
      '16': [],
      'object 1': ['motor.eds Mapped object 1', 'motor.eds Mapped object 1', 'io.eds Mapped object 1'],
      'DAQ': [],
    };
    await withLab({ query: '?scenario=live' }, async (page) => {
      await openObjects(page);
      const allHeaders = (await headers(page)).length;
      for (const [q, shown] of Object.entries(cases)) {
        await page.fill('#obj-filter', q);
        assert.deepEqual(await visibleLeaves(page), shown, `filter ${JSON.stringify(q)}`);
        const heads = await headers(page);
        assert.equal(heads.length, allHeaders);
        assert.ok(heads.every(([, caret, expanded]) => caret === '▾' && expanded === 'true'));
      }
      await page.fill('#obj-filter', '');
      assert.equal((await visibleLeaves(page)).length, await page.locator('.obj-leaf').count());
    });
  });

  it('parseNum, idxToNum and odFilterMatch on their own', async () => {
    await withLab({}, async (page) => {
      await exposeModule(page);
      const result = await page.evaluate(() => {
        const leaf = (idxnum, subnum, name) => ({ dataset: { idxnum, subnum, name } });
        return {
          parse: ['0x1A', '0XfF', ' 42 ', '0x', '0x12zz', '0xg1', '', '12a', '-5', '1.5'].map(app.parseNum),
          idx: ['0x1000', '0x180', 'DAQ', 'CAL'].map(app.idxToNum),
          match: [
            app.odFilterMatch(leaf('384', '', 'enginerpm'), '0x180:zz'), // both sub-indices none
            app.odFilterMatch(leaf('384', '', 'x:y'), 'x:y'), // not a number before the colon: the name is tried
            app.odFilterMatch(leaf('5632', '1', 'mapped object 1'), '0x1600:2'),
            app.odFilterMatch(leaf('', '', 'bus.load'), 'BUS'),
            app.odFilterMatch(leaf('', '', 'x'), ''),
          ],
        };
      });
      assert.deepEqual(result, {
        parse: [26, 255, 42, null, 18, null, null, null, null, null],
        idx: ['4096', '384', '', ''],
        match: [true, true, false, true, true],
      });
    });
  });

  it('collapse state is kept by label through rebuilds and source switches; a filter forces expansion', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await openObjects(page);
      const communication = page.locator('.obj-group-head', { hasText: 'Communication' }).first();
      await communication.click();
      // Its four leaves and both mapping groups are gone; the file's other groups follow at once.
      assert.deepEqual((await headers(page)).slice(0, 5), [
        ['obj-root-label', '▾', 'true', 'CANopen · motor.eds (Node 1 · 0x01)'],
        ['obj-group-head', '▸', 'false', '0x1000–0x1FFF|Communication'],
        ['obj-group-head', '▾', 'true', '0x2000–0x5FFF|Manufacturer'],
        ['obj-group-head', '▾', 'true', '0x6000–0x9FFF|Profile'],
        ['obj-root-label', '▾', 'true', 'CANopen · io.eds (Node 2 · 0x02)']]);
      let shown = await visibleLeaves(page);
      assert.deepEqual(shown.slice(0, 2), ['motor.eds Motor current', 'motor.eds Drive label']);
      await page.selectOption('#obj-source', 'eds:motor.eds');
      await page.selectOption('#obj-source', 'all');
      assert.equal((await headers(page))[1][1], '▸');
      // io.eds has a group with the same label under another file key: it stays open.
      assert.ok((await visibleLeaves(page)).includes('io.eds Device type'));

      await page.fill('#obj-filter', 'device type');
      assert.deepEqual(await visibleLeaves(page), ['motor.eds Device type', 'io.eds Device type']);
      await communication.click(); // flips the stored state while the filter forces expansion
      assert.equal((await headers(page))[1][1], '▾');
      await page.fill('#obj-filter', '');
      assert.equal((await headers(page))[1][1], '▾');

      // Keyboard: Enter on a focused header collapses it, and the focus stays on the rebuilt header.
      await page.locator('.obj-root-label').first().focus();
      await page.keyboard.press('Enter');
      assert.deepEqual((await headers(page))[0].slice(1, 3), ['▸', 'false']);
      assert.equal(await page.evaluate(() => document.activeElement.classList.contains('obj-root-label')), true);
      await page.keyboard.press(' ');
      assert.deepEqual((await headers(page))[0].slice(1, 3), ['▾', 'true']);
      shown = await visibleLeaves(page);
      assert.ok(shown.includes('motor.eds Controlword'));
    });
  });

  it('validates values: marks dirty or invalid, blocks invalid writes, stores text untrimmed, read restores', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await openObjects(page);
      const control = page.getByLabel('Value of Controlword');
      const write = row(page, 'Controlword').locator('.write-btn');
      await control.fill('0x10');
      assert.deepEqual(await field(page, 'Controlword'),
        { value: '0x10', dirty: true, invalid: false, writeEnabled: true, invalidEntry: 'false' });
      for (const text of ['0x', '12a', '+5', '1.', '.5', '1e3', 'true', '', ' ']) {
        await control.fill(text);
        const state = await field(page, 'Controlword');
        assert.deepEqual([state.dirty, state.invalid, state.writeEnabled, state.invalidEntry], [false, true, false, 'true'], text);
      }
      await row(page, 'Controlword').evaluate((leaf) => {
        const button = leaf.querySelector('.write-btn');
        button.disabled = false;
        button.click();
      });
      await exposeModule(page);
      const stored = () => page.evaluate(() => app.catalog.eds[0].children[2].children[0].value);
      assert.equal(await stored(), '0x000F');
      for (const text of ['-5', '1.5', '0X1f', '0x1FFFF']) {
        await control.fill(text);
        assert.deepEqual(await field(page, 'Controlword').then((s) => [s.invalid, s.writeEnabled]), [false, true], text);
      }
      await control.fill(' 0x10 ');
      await write.click();
      assert.equal(await stored(), ' 0x10 ');
      assert.deepEqual(await field(page, 'Controlword'),
        { value: ' 0x10 ', dirty: false, invalid: false, writeEnabled: true, invalidEntry: 'false' });

      await control.fill('12a');
      await row(page, 'Controlword').locator('.read-btn').click();
      assert.deepEqual(await field(page, 'Controlword'),
        { value: ' 0x10 ', dirty: false, invalid: false, writeEnabled: true, invalidEntry: 'false' });

      await page.getByLabel('Value of Drive label').fill('');
      assert.deepEqual(await field(page, 'Drive label').then((s) => [s.invalid, s.dirty, s.writeEnabled]), [false, true, true]);
      await row(page, 'Drive label').locator('.write-btn').click();
      assert.equal(await page.evaluate(() => app.catalog.eds[0].children[1].children[1].value), '');

      assert.deepEqual(await page.evaluate(() => [
        app.isValidValue({ type: 'STR' }, ''), app.isValidValue({ type: 'my_str' }, '12a'),
        app.isValidValue({ type: 'U8' }, '0x'), app.isValidValue({ type: 'F32' }, '-12.50')]), [true, true, false, true]);
    });
  });

  it('restarts the flash animation on every read and write, also while it runs', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await openObjects(page);
      // Both clicks in one task: no time passes, so the first animation is still running at the second.
      const result = await row(page, 'Target torque').evaluate((leaf) => {
        const input = leaf.querySelector('.obj-value-input');
        const flashes = [];
        for (const button of ['.read-btn', '.write-btn', '.read-btn']) {
          leaf.querySelector(button).click();
          flashes.push(input.getAnimations()[0]);
        }
        return [input.classList.contains('flash'), flashes.every(Boolean), new Set(flashes).size,
          flashes.slice(0, 2).map((animation) => animation.playState), flashes[2].playState];
      });
      assert.deepEqual(result, [true, true, 3, ['idle', 'idle'], 'running']);
    });
  });

  it('a rebuild drops unwritten edits and marks but keeps written values and periodic markers', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await openObjects(page);
      await page.getByLabel('Value of Target torque').fill('0x20');
      await row(page, 'Target torque').locator('.write-btn').click();
      await page.getByLabel('Value of Controlword').fill('0x10');
      await page.getByLabel('Value of Motor current').fill('bad');
      const cyc = row(page, 'Controlword').locator('.cyc-btn');
      await cyc.click();
      const marker = () => row(page, 'Controlword').evaluate((leaf) =>
        [leaf.classList.contains('cyclic-active'), leaf.querySelector('.cyc-btn').getAttribute('aria-pressed')]);
      assert.deepEqual(await marker(), [true, 'true']);
      await page.fill('#obj-filter', 'o');
      assert.deepEqual(await field(page, 'Controlword'),
        { value: '0x000F', dirty: false, invalid: false, writeEnabled: true, invalidEntry: 'false' });
      assert.deepEqual(await field(page, 'Motor current').then((s) => [s.value, s.invalid, s.writeEnabled]), ['0x0000', false, true]);
      assert.equal((await field(page, 'Target torque')).value, '0x20');
      assert.deepEqual(await marker(), [true, 'true']);
      await cyc.click();
      await page.fill('#obj-filter', '');
      assert.deepEqual(await marker(), [false, 'false']);
    });
  });

  it('a rebuild returns a row to exactly its first-built state: value, marks, flash, interval, periodic marker', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await openObjects(page);
      // Every element of the row: tag, attributes and the live value of fields; not the tabindex,
      // which marks the tree's Tab stop (the row last focused), kept through rebuilds.
      const snapshot = () => row(page, 'Controlword').evaluate((leaf) => [leaf, ...leaf.querySelectorAll('*')].map((node) =>
        [node.tagName, [...node.attributes].filter((a) => a.name !== 'tabindex').map((a) => `${a.name}=${a.value}`).sort().join(' '),
          node.value ?? null]));
      const built = await snapshot();
      const leaf = row(page, 'Controlword');
      await leaf.locator('.cyc-ms').fill('900');
      await leaf.locator('.cyc-btn').click();
      await leaf.locator('.cyc-btn').click();
      await leaf.locator('.read-btn').click();
      await page.getByLabel('Value of Controlword').fill('0x');
      assert.notDeepEqual(await snapshot(), built);
      await page.fill('#obj-filter', 'c');
      assert.deepEqual(await snapshot(), built);
    });
  });

  it('shows sibling groups with one label, and a leaf listed twice, as separate rows on every rebuild', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      await openObjects(page);
      await exposeModule(page);
      await page.evaluate(() => {
        const leaf = { name: 'Twin value', idx: '0x2001', sub: '00', type: 'U8', access: 'rw', value: '1' };
        app.loaded.eds.push({ type: 'eds', file: 'twin.eds', label: 'CANopen · twin.eds (Node 9 · 0x09)', node: 'Node 9',
          nodeId: '0x09', rpdos: [], children: [{ label: 'Twin · 0x2001', children: [leaf] }, { label: 'Twin · 0x2001', children: [leaf] }] });
      });
      for (const q of ['twin', 'twin ', '']) {
        await page.fill('#obj-filter', q);
        assert.deepEqual((await headers(page)).filter(([, , , text]) => text.includes('Twin')).length, 2, q);
        assert.deepEqual((await visibleLeaves(page)).filter((leaf) => leaf === 'twin.eds Twin value').length, 2, q);
      }
    });
  });

  it('listen-only mode disables every write button, also after rebuilds and edits; the rest keeps working', async () => {
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      await page.check('#listen');
      await page.click('#connect');
      await page.clock.runFor(650);
      await openObjects(page);
      const enabledWrites = () => page.$$eval('[data-write-btn]', (buttons) => buttons.filter((b) => !b.disabled).length);
      assert.ok(await page.locator('[data-write-btn]').count() > 20);
      assert.equal(await enabledWrites(), 0);
      await page.getByLabel('Value of Controlword').fill('0x10');
      assert.deepEqual(await field(page, 'Controlword').then((s) => [s.dirty, s.writeEnabled]), [true, false]);
      await row(page, 'Controlword').evaluate((leaf) => {
        const button = leaf.querySelector('.write-btn');
        button.disabled = false;
        button.click();
      });
      await page.fill('#obj-filter', '0x6040');
      assert.equal(await enabledWrites(), 0);
      assert.equal((await field(page, 'Controlword')).value, '0x000F');
      await row(page, 'Controlword').locator('.cyc-btn').click();
      assert.equal(await row(page, 'Controlword').locator('.cyc-btn').getAttribute('aria-pressed'), 'true');
      await page.click('#connect');
      await page.uncheck('#listen');
      const writable = await page.$$eval('[data-write-btn]', (buttons) => buttons.map((b) => [b.dataset.writable, !b.disabled]));
      assert.ok(writable.every(([canWrite, enabled]) => (canWrite === 'true') === enabled));
    });
  });
});
