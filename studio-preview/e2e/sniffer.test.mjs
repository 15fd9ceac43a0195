// The Sniffer tab on the page served by the real launcher: the per-identifier
// receive table and its filter, the bit inspector, the decoder with its
// persistent multiplier, the transmit table, and a layout that keeps every
// receive column in view.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { CONCEPTS } from './lab.mjs';

const { withLab } = useLab();

const LIVE = { query: '?scenario=live' };
const VSTRING = 'CANopen VISIBLE_STRING 0x1008 device-name: TEVOLARK QuillCAN motor-drive node 10, DS301 profile, FW 1.4.2, SN QX-2026-00142 rev1';
const SUMMARY = ['Unique IDs', '9', 'Periodic', '5 active / 8'];

const openSniffer = (page) => page.click('#tab-sniffer');
const selectRow = (page, id) => page.click(`#sniffer-rows tr:has(td.id:text-is("${id}"))`);
const selectByte = (page, index) => page.click(`.bit-byte:nth-child(${index + 1})`);
const txField = (page, row, selector) => page.locator(`#sniffer-tx-rows tr:nth-child(${row}) ${selector}`);

/** The receive side as a reviewer sees it. */
const receive = (page) => page.evaluate(() => {
  const texts = (selector) => [...document.querySelectorAll(selector)].map((node) => node.textContent);
  return {
    count: document.querySelector('#sniffer-count').textContent,
    rows: [...document.querySelectorAll('#sniffer-rows tr')].map((tr) => [...tr.cells].map((td) => td.textContent)),
    selected: texts('#sniffer-rows tr.selected td.id'),
    control: texts('#sniffer-control > *'),
    head: (document.querySelector('#sniffer-inspect .inspect-head') ?? document.querySelector('#sniffer-inspect')).textContent,
    byte: texts('.bit-byte.selected .bit-idx'),
  };
});

/** The decoded-values list as term → value, plus the ASCII block or the hint. */
const decoded = (page) => page.evaluate(() => {
  const out = {};
  for (const dt of document.querySelectorAll('#sniffer-decode dt')) out[dt.textContent] = dt.nextElementSibling.textContent;
  const ascii = document.querySelector('#sniffer-decode .decode-ascii');
  if (ascii) out.ascii = [ascii.querySelector('.sub-label').textContent, ascii.querySelector('code').textContent];
  else out.hint = document.querySelector('#sniffer-decode').textContent;
  return out;
});

/** Every transmit row: No., button text, title, aria-label, running, period, CAN ID, DLC, byte values. */
const txRows = (page) => page.$$eval('#sniffer-tx-rows tr', (rows) => rows.map((tr) => {
  const play = tr.querySelector('.tx-play');
  const value = (selector) => tr.querySelector(selector).value;
  return [tr.querySelector('.tx-no').textContent, play.textContent, play.title, play.getAttribute('aria-label'),
    tr.classList.contains('running'), value('.tx-period'), value('.tx-id'), value('.tx-dlc'),
    [...tr.querySelectorAll('.byte-input')].map((input) => input.value)];
}));

/** Types into a field with real key presses, replacing what it held. */
async function retype(locator, text) {
  await locator.click();
  await locator.press('Control+A');
  await (text === '' ? locator.press('Backspace') : locator.pressSequentially(text));
}

describe('receive table', () => {
  it('aggregates per identifier in first-appearance order; the summary ignores the filter', async () => {
    await withLab(LIVE, async (page) => {
      await openSniffer(page);
      const { count, rows, control, head } = await receive(page);
      assert.equal(count, '9 IDs');
      assert.deepEqual(rows.map((row) => row[1]), ['0x000', '0x701', '0x181', '0x702', '0x282', '0x602', '0x582', '0x703', '0x58A']);
      // The later 0x181 frame supplies time and payload.
      assert.deepEqual(rows[2], ['00:00.096', '0x181', 'TPDO1', '8', '4B 01 00 00 20 03 00 00', '2', '100']);
      assert.deepEqual(rows.map((row) => row[5] + row[6]), ['1—', '11000', '2100', '11000', '1100', '1—', '1—', '11000', '1—']);
      assert.deepEqual([control, head, await decoded(page)],
        [SUMMARY, 'Select a frame to inspect its bytes.', { hint: 'Click a byte to decode.' }]);
      const marks = await page.$$eval('#sniffer-rows tr', (trs) => trs.map((tr) =>
        `${tr.dataset.type} ${tr.querySelector('td.event > span').className} ${[...tr.cells].map((td) => td.className).join('|')}`));
      assert.equal(marks[8], 'sdo chip type-sdo time|id|event|dlc num|payload|num count-cell|num');
      await page.fill('#sniffer-filter', 'sdo');
      assert.deepEqual((await receive(page)).control, SUMMARY);
    });
  });

  it('filters over identifier, event, type and latest payload; selection and byte reset behave', async () => {
    await withLab(LIVE, async (page) => {
      await openSniffer(page);
      await selectRow(page, '0x181');
      const cases = [['sdo', '3 IDs', ['0x602', '0x582', '0x58A']], ['  HeartBeat ', '3 IDs', ['0x701', '0x702', '0x703']],
        ['pdo', '2 IDs', ['0x181', '0x282']], ['4b 01', '1 ID', ['0x181']], ['0x58a', '1 ID', ['0x58A']],
        ['4a 01', '0 IDs', []], // the earlier 0x181 payload was replaced
        ['00:00.0', '0 IDs', []]]; // time stamps are not searched
      for (const [query, count, ids] of cases) {
        await page.fill('#sniffer-filter', query);
        const state = await receive(page);
        assert.deepEqual([query, state.count, state.rows.map((row) => row[1]), state.head], [query, count, ids, '0x181 · TPDO1 · [8]']);
      }
      assert.equal((await decoded(page)).Selected, '0x181 · B0');
      await page.fill('#sniffer-filter', '');
      assert.deepEqual((await receive(page)).selected, ['0x181']);
      await selectByte(page, 3);
      await selectRow(page, '0x181');
      assert.deepEqual((await receive(page)).byte, ['B0'], 'clicking the selected row again starts at B0');
      await selectByte(page, 5);
      await selectRow(page, '0x582');
      const state = await receive(page);
      assert.deepEqual([state.selected, state.byte], [['0x582'], ['B0']]);
    });
  });
});

describe('inspector and decoder', () => {
  it('shows bytes with their bits MSB first and decodes byte and word in both orders', async () => {
    await withLab(LIVE, async (page) => {
      await openSniffer(page);
      await selectRow(page, '0x181');
      const grid = await page.$$eval('.bit-byte', (cells) => cells.map((cell) => `${cell.querySelector('.bit-idx').textContent} ${cell.querySelector('.bit-hex').textContent} ${
        [...cell.querySelectorAll('.bit-bits i')].map((i) => i.textContent + i.className).join('')}`));
      assert.deepEqual(grid, ['B0 4B 01on001on01on1on', 'B1 01 00000001on', 'B2 00 00000000', 'B3 00 00000000',
        'B4 20 001on00000', 'B5 03 0000001on1on', 'B6 00 00000000', 'B7 00 00000000']);
      assert.equal((await receive(page)).head, '0x181 · TPDO1 · [8]');
      assert.deepEqual(await decoded(page), { Selected: '0x181 · B0', Binary: '01001011', Decimal: '75', Hex: '0x4B', Word: '331',
        'Word ×': '', Result: '331.000', ascii: ['ASCII · full frame', 'K··· ···'] });
      const word = async () => [(await decoded(page)).Word, (await decoded(page)).Result];
      await page.check('#sniffer-endian');
      assert.deepEqual(await word(), ['19201', '19201.000']);
      await selectByte(page, 4); // 20, followed by 03
      assert.deepEqual(await word(), [String(0x2003), `${0x2003}.000`]);
      await page.uncheck('#sniffer-endian');
      assert.deepEqual(await word(), [String(0x0320), `${0x0320}.000`]);
      for (const bigEndian of [false, true]) {
        await page.setChecked('#sniffer-endian', bigEndian);
        await selectByte(page, 7); // the last byte pairs with 0
        assert.deepEqual([(await decoded(page)).Selected, ...await word()], ['0x181 · B7', '0', '0.000']);
      }
      for (const [id, ascii] of [['0x000', ['ASCII · full frame', '··']], ['0x582', ['ASCII · full frame', 'C·······']],
        ['0x58A', ['ASCII · VISIBLE_STRING (128)', VSTRING]]]) {
        await selectRow(page, id);
        assert.deepEqual((await decoded(page)).ascii, ascii, id);
      }
    });
  });

  it('keeps one multiplier element, its value and its focus through the re-render of every keystroke', async () => {
    await withLab(LIVE, async (page) => {
      await openSniffer(page);
      await selectRow(page, '0x181');
      await page.evaluate(() => { document.querySelector('#sniffer-mult').dataset.probe = 'first'; });
      const mult = page.locator('#sniffer-mult');
      const focus = () => page.evaluate(() => `${document.activeElement.id} ${document.activeElement.dataset.probe}`);
      await retype(mult, '0.5');
      assert.deepEqual([await focus(), await mult.inputValue(), (await decoded(page)).Result], ['sniffer-mult first', '0.5', '165.500']);
      for (let i = 0; i < 3; i += 1) await page.keyboard.press('Backspace');
      assert.deepEqual([await focus(), await mult.inputValue(), (await decoded(page)).Result], ['sniffer-mult first', '', '0.000']);
      await page.keyboard.type('2');
      assert.equal((await decoded(page)).Result, '662.000');
      // The same element, with its value, follows other renders into the new list.
      await page.check('#sniffer-endian');
      await selectRow(page, '0x282');
      assert.deepEqual(await page.evaluate(() => [document.querySelectorAll('#sniffer-mult').length,
        document.querySelector('#sniffer-decode dd #sniffer-mult')?.dataset.probe]), [1, 'first']);
      assert.equal((await decoded(page)).Result, (0x1027 * 2).toFixed(3));
    });
  });
});

describe('transmit table', () => {
  it('starts with a running periodic row and a single-shot row; only periodic rows run', async () => {
    await withLab(LIVE, async (page) => {
      await openSniffer(page);
      assert.deepEqual(await txRows(page), [['1', '■', 'Stop', 'Stop', true, '100', '0x600', '4', ['40', '00', '10', '00']],
        ['2', '▶', 'Send once', 'Send once', false, '0', '0x200', '2', ['01', 'F4']]]);
      assert.deepEqual(await page.$$eval('#sniffer-tx-rows .tx-act', (buttons) => buttons.map((b) => b.tabIndex)), [-1, -1, -1, -1]);
      const control = async (row) => (await txRows(page))[row - 1].slice(1, 5);
      await txField(page, 2, '.tx-play').click();
      assert.deepEqual(await control(2), ['▶', 'Send once', 'Send once', false]);
      await retype(txField(page, 1, '.tx-period'), '0');
      assert.deepEqual(await control(1), ['▶', 'Send once', 'Send once', false]);
      await retype(txField(page, 1, '.tx-period'), '250');
      assert.deepEqual(await control(1), ['▶', 'Start', 'Start', false], 'stopped by period 0, not restarted');
      await txField(page, 1, '.tx-play').click();
      assert.deepEqual(await control(1), ['■', 'Stop', 'Stop', true]);
      await txField(page, 1, '.tx-play').click();
      assert.deepEqual(await control(1), ['▶', 'Start', 'Start', false]);
    });
  });

  it('rebuilds the byte fields from the DLC: kept values first, then the seed; dropped edits are gone', async () => {
    await withLab(LIVE, async (page) => {
      await openSniffer(page);
      const bytes = async (row) => (await txRows(page))[row - 1][8];
      await retype(txField(page, 1, '.byte-input >> nth=2'), 'AA');
      const dlc = txField(page, 1, '.tx-dlc');
      for (const key of ['ArrowDown', 'ArrowDown']) await dlc.press(key);
      assert.deepEqual(await bytes(1), ['40', '00']);
      for (const key of ['ArrowUp', 'ArrowUp']) await dlc.press(key);
      assert.deepEqual(await bytes(1), ['40', '00', '10', '00']);
      await retype(txField(page, 1, '.byte-input >> nth=0'), '7f');
      await retype(dlc, '');
      assert.deepEqual(await bytes(1), []);
      await page.keyboard.type('6');
      assert.deepEqual(await bytes(1), ['40', '00', '10', '00', '', '']);
      const dlc2 = txField(page, 2, '.tx-dlc');
      await retype(dlc2, '12');
      assert.deepEqual([await dlc2.inputValue(), await bytes(2)], ['8', ['01', 'F4', '', '', '', '', '', '']]);
      await retype(dlc2, '3');
      await page.keyboard.type('e-'); // refused as typed: the field keeps its digits and its fields
      assert.deepEqual([await dlc2.inputValue(), await bytes(2)], ['3', ['01', 'F4', '']]);
    });
  });

  it('keeps at most two hex digits in a byte field, typed or pasted', async () => {
    await withLab(LIVE, async (page) => {
      await openSniffer(page);
      const field = txField(page, 2, '.byte-input >> nth=0');
      for (const [typed, kept] of [['g7', '7'], ['aB', 'aB'], ['zz', ''], ['1 f', '1f']]) {
        await retype(field, typed);
        assert.equal(await field.inputValue(), kept, typed);
      }
      // Inserted in one go, text is cleaned before it is cut to two characters.
      await field.fill('x9Cq5');
      assert.equal(await field.inputValue(), '9C');
      await page.context().grantPermissions(['clipboard-read', 'clipboard-write']);
      await page.evaluate(() => navigator.clipboard.writeText(' -7e-d- '));
      await field.fill('');
      await field.press('Control+V');
      assert.equal(await field.inputValue(), '7e');
    });
  });

  it('renumbers after a delete, appends a blank row; reconnecting and switching tabs keep everything', async () => {
    await withLab({ ...LIVE, clock: true }, async (page) => {
      await openSniffer(page);
      await txField(page, 1, '.tx-del').click();
      await page.click('#sniffer-tx-add');
      const want = [['1', '▶', 'Send once', 'Send once', false, '0', '0x200', '2', ['01', 'F4']],
        ['2', '▶', 'Send once', 'Send once', false, '0', '0x000', '0', []]];
      assert.deepEqual(await txRows(page), want);
      await retype(txField(page, 2, '.tx-id'), '<b>0x7FF</b>');
      want[1][6] = '<b>0x7FF</b>';
      await selectRow(page, '0x282');
      await page.click('#tab-monitor');
      await page.click('#pause');
      await page.click('#connect');
      await page.click('#connect');
      await page.clock.runFor(650);
      await openSniffer(page);
      assert.deepEqual([await txRows(page), await page.locator('#sniffer-tx-rows b').count()], [want, 0]);
      assert.deepEqual((await receive(page)).selected, ['0x282']);
    });
  });
});

describe('layout', () => {
  for (const concept of CONCEPTS) {
    for (const width of [1400, 600]) {
      it(`${concept} at ${width}px: no receive column clipped where the table fits, no part spills or overlaps`, async () => {
        await withLab({ query: `?concept=${concept}&scenario=live`, viewport: { width, height: 1000 } }, async (page) => {
          await openSniffer(page);
          await selectRow(page, '0x181');
          const box = await page.evaluate(() => {
            const panel = document.querySelector('#sniffer-panel').getBoundingClientRect();
            const scroll = document.querySelector('.sniffer-layout .table-scroll');
            const parts = [scroll, ...document.querySelectorAll('.sniffer-side > aside, .sniffer-send')].map((node) => node.getBoundingClientRect());
            const apart = (a, b) => a.right <= b.left + 0.5 || b.right <= a.left + 0.5 || a.bottom <= b.top + 0.5 || b.bottom <= a.top + 0.5;
            return {
              fits: panel.width >= document.querySelector('#sniffer-table').offsetWidth + 2,
              clipped: scroll.scrollWidth > scroll.clientWidth,
              outside: parts.filter((rect) => rect.left < panel.left - 0.5 || rect.right > panel.right + 0.5).length,
              overlaps: parts.some((a, i) => parts.slice(i + 1).some((b) => !apart(a, b))),
            };
          });
          assert.deepEqual([box.outside, box.overlaps, box.fits && box.clipped], [0, false, false]);
        });
      });
    }
  }
});
