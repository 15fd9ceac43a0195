// Update notices and the QR picker against the real launcher: the rows of every
// notice state, the 250 ms progress runs on Playwright's clock, the row
// buttons' transitions, the `notice` address key, and the picker.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { contrast } from './contrast.mjs';
import { useLab } from './fixture.mjs';

const { withLab } = useLab();

const ICONS = {
  chip: 'rect M6.5 1.5v2.5M9.5 1.5v2.5M6.5 12v2.5M9.5 12v2.5M1.5 6.5H4M1.5 9.5H4M12 6.5h2.5M12 9.5h2.5',
  check: 'circle m5.2 8.2 1.9 1.9 3.7-4',
  alert: 'M8 2.2 14.3 13H1.7Z M8 6.3v3.2M8 11.4v.2',
  download: 'M8 2.5v8M4.8 7.3 8 10.5l3.2-3.2M3 13.5h10',
  refresh: 'M13 8a5 5 0 1 1-1.5-3.6M13 2.5v3h-3',
  close: 'm1.5 1.5 7 7M8.5 1.5l-7 7',
};
/** Each row as "tone icon | text | detail | progress label and fill | buttons", plus the select and the address key. */
const notices = (page) => page.evaluate((icons) => {
  const icon = (svg) => (svg.getAttribute('aria-hidden') === 'true' && Object.keys(icons).find((name) => icons[name]
    === [...svg.children].map((shape) => shape.getAttribute('d') ?? shape.tagName).join(' '))) || 'unknown-icon';
  const rows = [...document.querySelector('#notices-strip').children].map((row) => {
    const [svg, text, progress, actions] = row.children;
    const fourParts = [...row.children].slice(1).map((c) => c.className).join() === 'notice-text,notice-progress,notice-actions';
    const pct = progress.querySelector('.pct');
    return [`${row.getAttribute('role') === 'status' && fourParts ? '' : 'MALFORMED '}${row.className} ${icon(svg)}`,
      text.firstElementChild.textContent, text.querySelector('.notice-detail')?.textContent ?? '',
      pct ? `${pct.textContent} ${progress.querySelector('.fill').style.width}` : '',
      [...actions.children].map((b) => `${b.textContent || icon(b.firstChild)}:${b.className}:${b.title || b.getAttribute('aria-label') || ''}`).join(', '),
    ].join(' | ');
  });
  return { rows, select: document.querySelector('#notices').value, notice: new URLSearchParams(location.search).get('notice') };
}, ICONS);

const FW_AVAILABLE = 'notice accent chip | Dongle firmware update available | v1.4.2 → v1.5.0 |  | Update now:primary:, close:secondary dismiss:Dismiss';
const APP_AVAILABLE = 'notice info download | QuillCAN v0.4.0 available | signed · 18.2 MB |  | '
  + 'Update now:primary:Download and replace the running app, then relaunch, Release notes:secondary:, Defer:secondary:Dismiss for this session';
const STATES = {
  none: [],
  'fw-available': [FW_AVAILABLE],
  'fw-flashing': ['notice busy chip | Flashing firmware… | v1.5.0 | 0/48 blocks 0% | '],
  'fw-done': ['notice ok check | Firmware updated — device rebooting | v1.5.0 |  | close:secondary dismiss:Dismiss'],
  'fw-failed': ['notice err alert | Firmware update failed | DFU: device did not re-enumerate |  | Retry:secondary:, close:secondary dismiss:Dismiss'],
  'app-available': [APP_AVAILABLE],
  'app-downloading': ['notice busy download | Downloading QuillCAN v0.4.0… |  | 0 % 0% | '],
  'app-applying': ['notice busy refresh | Applying update, restarting… | v0.4.0 |  | '],
  'app-failed': ['notice err alert | Update failed | signature mismatch |  | Retry:secondary:, Defer:secondary:'],
  both: [FW_AVAILABLE, APP_AVAILABLE],
};
const at = (state) => ({ rows: STATES[state], select: state, notice: state === 'none' ? null : state });
const labels = async (page) => (await notices(page)).rows.map((row) => row.split(' | ')[3] || row.split(' | ')[1]);

describe('notices', () => {
  it('each state shows its rows, from the select and from the address, whatever the scenario', async () => {
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      for (const state of Object.keys(STATES)) {
        await page.selectOption('#notices', state);
        assert.deepEqual(await notices(page), at(state));
      }
    });
    await withLab({ query: '?notice=both&scenario=live', clock: true }, async (page) => {
      assert.deepEqual(await notices(page), at('both'));
      await page.selectOption('#scenario', 'error');
      assert.equal(await page.evaluate(() => location.search), '?concept=studio&scenario=error&notice=both');
    });
  });

  it('the row buttons move between the states; "Release notes" changes nothing', async () => {
    await withLab({ query: '?scenario=live', clock: true }, async (page) => {
      for (const [from, label, index, to] of [['both', 'Dismiss', 0, 'app-available'], ['both', 'Defer', 1, 'fw-available'],
        ['both', 'Update now', 0, 'fw-flashing'], ['both', 'Update now', 1, 'app-downloading'], ['fw-available', 'Dismiss', 0, 'none'],
        ['fw-done', 'Dismiss', 0, 'none'], ['fw-failed', 'Retry', 0, 'fw-available'], ['fw-failed', 'Dismiss', 0, 'none'],
        ['app-available', 'Defer', 0, 'none'], ['app-failed', 'Retry', 0, 'app-available'], ['app-failed', 'Defer', 0, 'none']]) {
        await page.selectOption('#notices', from);
        await page.locator('#notices-strip .notice').nth(index).getByRole('button', { name: label }).click();
        assert.deepEqual(await notices(page), at(to), `${from} ${label}`);
      }
      await page.selectOption('#notices', 'both');
      await page.$eval('#notices-strip', (strip) => (window.keptRow = strip.lastElementChild));
      await page.click('text=Release notes');
      assert.deepEqual(await notices(page), at('both'));
      assert.equal(await page.evaluate(() => window.keptRow === document.querySelector('#notices-strip').lastElementChild), true);
    });
  });

  it('flashing ticks every 250 ms to "fw-done"; re-entry restarts one timer; "None" stops it', async () => {
    await withLab({ query: '?notice=fw-available', clock: true }, async (page) => {
      await page.click('text=Update now');
      const seen = [];
      for (let tick = 0; tick < 25; tick += 1) {
        seen.push(...await labels(page));
        await page.clock.runFor(250);
      }
      assert.deepEqual([seen[0], seen[1], seen[13], seen[24]], ['0/48 blocks 0%', '2/48 blocks 4%', '25/48 blocks 52%', '46/48 blocks 96%']);
      assert.deepEqual(await notices(page), at('fw-done'));
      await page.selectOption('#notices', 'fw-flashing');
      await page.clock.runFor(1000);
      await page.selectOption('#notices', 'fw-flashing');
      await page.clock.runFor(250);
      assert.deepEqual(await labels(page), ['2/48 blocks 4%']);
      await page.selectOption('#notices', 'none');
      await page.clock.runFor(10000);
      assert.deepEqual(await notices(page), at('none'));
    });
  });

  it('downloading runs from 0 % to the applying row, which stays', async () => {
    await withLab({ query: '?notice=app-downloading', clock: true }, async (page) => {
      await page.clock.runFor(250 * 24);
      assert.deepEqual(await labels(page), ['96 % 96%']);
      await page.clock.runFor(250);
      assert.deepEqual(await notices(page), at('app-applying'));
      await page.clock.runFor(60000);
      assert.deepEqual(await notices(page), at('app-applying'));
    });
  });

  it('keeps the ok and err rows readable on their dark fills in the light concept', async () => {
    await withLab({ query: '?concept=bench&scenario=live' }, async (page) => {
      for (const state of ['fw-done', 'fw-failed']) {
        await page.selectOption('#notices', state);
        const [background, ...colors] = await page.$eval('.notice', (r) => [r, r.querySelector('.notice-text > span'),
          r.querySelector('.notice-detail')].map((e, n) => getComputedStyle(e)[n ? 'color' : 'backgroundColor']));
        for (const color of colors) assert.ok(contrast(color, background) >= 4.5, `${state}: ${color} on ${background}`);
      }
    });
  });
});

/** Whether the picker shows, the choices' aria-checked, "Use selected" enabled, and what has the focus. */
const picker = (page) => page.evaluate(() => [!document.querySelector('#qr-modal').hidden,
  [...document.querySelectorAll('#qr-choices li')].map((li) => li.getAttribute('aria-checked')).join(),
  !document.querySelector('#qr-use').disabled, document.activeElement.id || document.activeElement.textContent.slice(0, 1)]);
const NONE = 'false,false,false';

describe('QR picker', () => {
  it('opens unselected with the focus on the first choice; click, Enter and Space select', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      await page.click('#show-qr-picker');
      assert.deepEqual(await picker(page), [true, NONE, false, '1']);
      assert.deepEqual(await page.$$eval('#qr-choices li', (lis) => lis.map((li) => [li.getAttribute('role'), li.tabIndex,
        li.querySelector('.idx').textContent, li.querySelector('.uri').title === li.querySelector('.uri').textContent])),
      [['radio', 0, '1', true], ['radio', -1, '2', true], ['radio', -1, '3', true]]);
      assert.equal(await page.textContent('#qr-choices li:nth-child(2) .uri'), 'r9://203.0.113.20:3010?name=rig-2&bitrate=500000&listen=1');
      // A selection by key keeps the focus on the rebuilt choice, and the browser does nothing else with the key.
      // The choices are one Tab stop (the arrows are keyboard.test.mjs's): a screen reader's cursor focuses the others.
      await page.evaluate(() => document.addEventListener('keydown', (e) => (window.lastPrevented = e.defaultPrevented)));
      await page.focus('#qr-choices li:nth-child(2)');
      await page.keyboard.press('Enter');
      assert.deepEqual(await picker(page), [true, 'false,true,false', true, '2']);
      await page.focus('#qr-choices li:nth-child(3)');
      await page.keyboard.press(' ');
      assert.deepEqual(await picker(page), [true, 'false,false,true', true, '3']);
      assert.equal(await page.evaluate(() => window.lastPrevented), true);
      await page.click('#qr-choices li:first-child');
      assert.deepEqual((await picker(page)).slice(0, 3), [true, 'true,false,false', true]);
    });
  });

  it('closes by backdrop, Cancel, Escape and "Use selected", not by clicks in the card, and reopens cleared', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      await page.click('#show-qr-picker');
      await page.click('#qr-modal-title');
      await page.click('#qr-use', { force: true }); // disabled while nothing is selected
      assert.equal((await picker(page))[0], true);
      await page.mouse.click(5, 5);
      assert.deepEqual(await picker(page), [false, NONE, false, 'show-qr-picker']);
      for (const close of [() => page.click('#qr-cancel'), () => page.keyboard.press('Escape'), () => page.click('#qr-use')]) {
        await page.click('#show-qr-picker');
        assert.deepEqual(await picker(page), [true, NONE, false, '1']);
        await page.click('#qr-choices li:nth-child(2)');
        await close();
        assert.deepEqual(await picker(page), [false, 'false,true,false', true, 'show-qr-picker']);
      }
    });
  });
});
