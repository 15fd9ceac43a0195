// The Monitor view against the real launcher: traffic table, text filter,
// event-type chips, density, pause, and what a scenario change keeps.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { contrast } from './contrast.mjs';
import { useLab } from './fixture.mjs';

const { withLab } = useLab();

/** CAN IDs of the shown rows, the count, and whether the no-match line shows. */
const traffic = (page) => page.evaluate(() => ({
  ids: [...document.querySelectorAll('#frames tr')].map((row) => row.querySelector('.id').textContent),
  count: document.querySelector('#frame-count').textContent,
  noMatch: !document.querySelector('#no-matches').hidden,
}));
const ALL = ['0x000', '0x701', '0x181', '0x702', '0x282', '0x602', '0x582', '0x703', '0x181', '0x58A'];
const chip = (type) => `.legend .type-chip[data-type="${type}"]`;
const shown = (ids) => ({ ids, count: `${ids.length} / 10 frames`, noMatch: ids.length === 0 });

describe('traffic table', () => {
  it('filters by trimmed, lower-cased substring of the visible columns and by type chips', async () => {
    await withLab({ query: '?scenario=live' }, async (page) => {
      assert.deepEqual(await traffic(page), shown(ALL));
      assert.deepEqual(await page.$$eval('#frames tr:last-child > td', (tds) => [tds[0].parentNode.dataset.type,
        ...tds.map((td) => `${td.className}=${td.firstElementChild?.className ?? ''}:${td.textContent}`)]),
      ['sdo', 'time=:00:00.108', 'dir=chip dir-rx:RX', 'id=:0x58A', 'node=:Node 10',
        'event=chip type-sdo:SDO · 0x1008 device name', 'dlc num=:8', 'payload=:43 08 10 00 43 41 4E 6F']);
      for (const [text, ids] of [['node 1', ['0x701', '0x181', '0x181', '0x58A']], ['  TX ', ['0x000', '0x602']],
        ['4e 6f', ['0x58A']], ['0x18', ['0x181', '0x181']], ['tevolark', []], ['', ALL]]) {
        await page.fill('#filter', text);
        assert.deepEqual(await traffic(page), shown(ids), text);
      }
      await page.click(chip('heartbeat'));
      assert.equal(await page.getAttribute(chip('heartbeat'), 'aria-pressed'), 'false');
      assert.deepEqual(await traffic(page), shown(ALL.filter((id) => !id.startsWith('0x70'))));
      await page.click(chip('heartbeat'));
      for (const type of ['sync', 'time', 'emcy', 'xcp']) await page.click(chip(type));
      assert.deepEqual(await traffic(page), shown(ALL));
      await page.click(chip('sdo'));
      await page.fill('#filter', 'sdo');
      assert.deepEqual(await traffic(page), shown([]));
      await page.fill('#filter', '');
      for (const type of ['heartbeat', 'pdo', 'nmt']) await page.click(chip(type));
      assert.deepEqual(await traffic(page), shown([]));
      assert.equal(await page.isVisible('text=No frames match this filter.'), true);
    });
  });

  it('keeps filter, chips and compact density over Disconnect and Connect, but un-pauses', async () => {
    await withLab({ query: '?scenario=live', clock: true }, async (page) => {
      const look = () => page.evaluate(() => [document.querySelector('#traffic-table').dataset.density,
        document.querySelector('#density').textContent, document.querySelector('#density').getAttribute('aria-pressed'),
        getComputedStyle(document.querySelector('#frames td.payload')).padding, document.querySelector('#pause').textContent,
        document.querySelector('#footer-connection').textContent]);
      await page.fill('#filter', 'node 2');
      await page.click(chip('heartbeat'));
      await page.click('#density');
      await page.click('#pause');
      assert.deepEqual(await look(), ['compact', 'Comfortable', 'true', '6px 12px', 'Resume', 'Connected · 250 kbit/s · View paused']);
      await page.click('#connect');
      assert.deepEqual(await traffic(page), { ids: ['0x282', '0x602', '0x582'], count: '0 frames', noMatch: false });
      await page.click('#connect');
      await page.clock.runFor(650);
      assert.deepEqual(await look(), ['compact', 'Comfortable', 'true', '6px 12px', 'Pause', 'Connected · 250 kbit/s']);
      assert.deepEqual(await traffic(page), shown(['0x282', '0x602', '0x582']));
      await page.click('#density');
      assert.deepEqual((await look()).slice(0, 4), ['comfortable', 'Compact', 'false', '13px 12px']);
    });
  });

  it('keeps the text of the dark even and hovered rows readable in the light concept', async () => {
    await withLab({ query: '?scenario=live&concept=bench' }, async (page) => {
      await page.hover('#frames tr:nth-child(3) td.time');
      for (const index of [1, 2]) {
        const [background, ...colors] = await page.evaluate((i) => {
          const row = document.querySelectorAll('#frames tr')[i];
          return [row, ...row.querySelectorAll('.time, .node, .payload')].map((e, n) => getComputedStyle(e)[n ? 'color' : 'backgroundColor']);
        }, index);
        assert.equal(background, index === 1 ? 'rgb(14, 19, 28)' : 'rgb(23, 34, 52)');
        for (const color of colors) assert.ok(contrast(color, background) >= 4.5, `${color} on ${background}`);
      }
    });
  });
});
