// The Transmit tab on the page served by the real launcher: send labels and
// timing, the raw frame with its DLC placeholder and hex-bytes field, single
// shots in the fading log (timers driven by page.clock), periodic jobs,
// listen-only mode, the CANopen and DBC sources, the PDO form with its
// mapping editor, and the layout of the panel.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';

const { withLab } = useLab();

/** Live workspace on the Transmit tab, page timers under page.clock. */
async function openTransmit(withLabBody, options = {}) {
  return withLab({ query: '?scenario=live', clock: true, ...options }, async (page, lab) => {
    await page.click('#tab-transmit');
    await withLabBody(page, lab);
  });
}

/** Texts of the log lines, newest first, with the time stamp split off: [[time, rest], …]. */
function logLines(page) {
  return page.$$eval('#tx-log > li', (lines) => lines.map((line) => (line.id === 'tx-empty'
    ? ['', line.textContent]
    : [line.querySelector('.tx-time').textContent, line.textContent.slice(line.querySelector('.tx-time').textContent.length)])));
}

/** Sends one single shot and returns its summary, read back from the new log line. */
async function sendOnce(page) {
  await page.click('#tx-send');
  const [[, rest]] = await logLines(page);
  assert.ok(rest.startsWith(' · TX · '), rest);
  return rest.slice(' · TX · '.length);
}

const jobTexts = (page) => page.$$eval('#periodic-list > li', (rows) => rows.map((row) => row.firstChild.textContent));
const optionTexts = (page, selector) => page.$$eval(`${selector} option`, (options) => options.map((o) => [o.textContent, o.value]));
const mapping = (page) => page.$$eval('#pdo-mapping > li', (rows) => rows.map((row) => row.firstChild.textContent));

/** Leaves the live workspace, runs body (for loading files), and comes back to the Transmit tab. */
async function whileDisconnected(page, body) {
  await page.selectOption('#scenario', 'ready');
  await body();
  await page.selectOption('#scenario', 'live');
  await page.click('#tab-transmit');
}

const loadFile = (page, button) => page.$eval(button, (b) => b.click());

describe('send label, timing and sources', () => {
  it('names the source and timing on the button, toggles the interval and shows one form', async () => {
    await openTransmit(async (page) => {
      const state = () => page.evaluate(() => [document.querySelector('#tx-send').textContent,
        document.querySelector('#tx-interval').disabled, document.querySelector('.tx-layout').classList.contains('period-off'),
        ['raw', 'pdo', 'canopen', 'dbc'].filter((m) => !document.querySelector(`#tx-${m}`).hidden).join()]);
      assert.deepEqual(await state(), ['Send frame', true, true, 'raw']);
      await page.check('input[name="tx-timing"][value="periodic"]');
      assert.deepEqual(await state(), ['Start periodic frame', false, false, 'raw']);
      const verbs = { pdo: 'PDO', canopen: 'command', dbc: 'message', raw: 'frame' };
      for (const [mode, verb] of Object.entries(verbs)) {
        await page.selectOption('#tx-mode', mode);
        assert.deepEqual(await state(), [`Start periodic ${verb}`, false, false, mode]);
      }
      assert.equal(await page.evaluate(() => document.activeElement.id), 'tx-id');
      await page.check('input[name="tx-timing"][value="once"]');
      for (const [mode, verb] of Object.entries(verbs)) {
        await page.selectOption('#tx-mode', mode);
        assert.deepEqual(await state(), [`Send ${verb}`, true, true, mode]);
      }
      assert.equal(await page.evaluate(() => getComputedStyle(document.querySelector('.tx-interval-group')).opacity), '0.5');
    });
  });

  it('replaces the placeholder options from the loaded files and keeps the choices over a load', async () => {
    await openTransmit(async (page) => {
      assert.deepEqual(await optionTexts(page, '#tx-node'), [['Node 1 (0x01)', 'Node 1 (0x01)'], ['Node 2 (0x02)', 'Node 2 (0x02)']]);
      assert.deepEqual(await optionTexts(page, '#tx-db'), [['powertrain.dbc', 'powertrain.dbc'], ['chassis.dbc', 'chassis.dbc']]);
      assert.deepEqual(await optionTexts(page, '#tx-msg'), [['EngineStatus (0x180)', 'EngineStatus (0x180)'], ['BrakeCommand (0x200)', 'BrakeCommand (0x200)']]);
      await page.selectOption('#tx-mode', 'canopen');
      await page.selectOption('#tx-node', 'Node 2 (0x02)');
      await page.selectOption('#tx-mode', 'dbc');
      await page.selectOption('#tx-db', 'chassis.dbc');
      assert.deepEqual(await optionTexts(page, '#tx-msg'), [['WheelSpeed (0x1A0)', 'WheelSpeed (0x1A0)']]);
      await whileDisconnected(page, async () => {
        await loadFile(page, '#load-dbc');
        await loadFile(page, '#load-eds');
      });
      assert.deepEqual(await page.$$eval('#tx-db option', (o) => o.map((x) => x.value)), ['powertrain.dbc', 'chassis.dbc', 'body.dbc']);
      assert.deepEqual([await page.inputValue('#tx-db'), await page.inputValue('#tx-msg')], ['chassis.dbc', 'WheelSpeed (0x1A0)']);
      assert.equal(await page.inputValue('#tx-node'), 'Node 2 (0x02)');
      assert.equal((await optionTexts(page, '#tx-node')).length, 3);
      // The message choice is not kept over a rebuild: the first message comes back.
      await page.selectOption('#tx-db', 'powertrain.dbc');
      await page.selectOption('#tx-msg', 'BrakeCommand (0x200)');
      assert.equal(await sendOnce(page), 'powertrain.dbc · BrakeCommand (0x200)');
      await whileDisconnected(page, () => loadFile(page, '#load-dbc'));
      assert.deepEqual([await page.inputValue('#tx-db'), await page.inputValue('#tx-msg')], ['powertrain.dbc', 'EngineStatus (0x180)']);
    });
  });

  it('composes CANopen summaries with all fields whatever the command', async () => {
    await openTransmit(async (page) => {
      await page.selectOption('#tx-mode', 'canopen');
      assert.equal(await sendOnce(page), 'NMT: Start node → Node 1 (0x01)');
      await page.selectOption('#tx-cmd', 'NMT: Reset node');
      assert.equal(await sendOnce(page), 'NMT: Reset node → Node 1 (0x01)');
      await page.selectOption('#tx-cmd', 'SDO read');
      assert.equal(await sendOnce(page), 'SDO read Node 1 (0x01) · 0x6040:0x00 = 0x000F');
      await page.selectOption('#tx-cmd', 'SDO write');
      await page.selectOption('#tx-node', 'Node 2 (0x02)');
      await page.fill('#tx-index', '0x2000');
      await page.fill('#tx-sub', 'zz');
      await page.fill('#tx-value', '');
      assert.equal(await sendOnce(page), 'SDO write Node 2 (0x02) · 0x2000:zz = ');
    });
  });
});

describe('raw frame', () => {
  it('logs an empty form with its time stamp, fades the line at 6 s, removes it at 8 s and keeps the count', async () => {
    await openTransmit(async (page) => {
      await page.clock.runFor(2007);
      const now = await page.evaluate(() => Date.now());
      const d = new Date(now);
      const p = (v, n = 2) => String(v).padStart(n, '0');
      const stamp = `${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}.${p(d.getMilliseconds(), 3)}`;
      await page.click('#tx-send');
      assert.deepEqual(await logLines(page), [[stamp, ' · TX · 0x000 · [8] 00 00 00 00 00 00 00 00']]);
      assert.equal(await page.textContent('#tx-count'), '1 sent');
      const line = page.locator('#tx-log > li').first();
      assert.equal(await line.evaluate((li) => getComputedStyle(li).transition), 'opacity 2s linear');
      await page.clock.runFor(5999);
      assert.equal(await line.evaluate((li) => li.classList.contains('fading')), false);
      await page.clock.runFor(1);
      assert.equal(await line.evaluate((li) => li.classList.contains('fading')), true);
      await page.clock.runFor(1999);
      assert.equal(await page.locator('#tx-log > li:not(#tx-empty)').count(), 1);
      await page.clock.runFor(1);
      assert.deepEqual(await logLines(page), [['', 'No frames sent yet.']]);
      assert.deepEqual([await page.getAttribute('#tx-empty', 'class'), await page.textContent('#tx-count')], ['muted', '1 sent']);
    });
  });

  it('shows three quick sends newest first and lets them vanish one by one in the order sent', async () => {
    await openTransmit(async (page) => {
      for (const id of ['1', '2', '3']) {
        await page.fill('#tx-id', id);
        await page.click('#tx-send');
        await page.clock.runFor(700);
      }
      const ids = async () => (await logLines(page)).map(([, rest]) => rest.split(' · ')[2] ?? rest);
      assert.deepEqual(await ids(), ['0x3', '0x2', '0x1']);
      await page.clock.runFor(8000 - 2100);
      assert.deepEqual(await ids(), ['0x3', '0x2']);
      await page.clock.runFor(700);
      assert.deepEqual(await ids(), ['0x3']);
      await page.clock.runFor(700);
      assert.deepEqual(await ids(), ['No frames sent yet.']);
      assert.equal(await page.textContent('#tx-count'), '3 sent');
    });
  });

  it('sets the data placeholder from the DLC and composes the summary from texts or placeholders', async () => {
    await openTransmit(async (page) => {
      const placeholder = () => page.getAttribute('#tx-data', 'placeholder');
      await page.fill('#tx-dlc', '3');
      assert.equal(await placeholder(), '00 00 00');
      assert.equal(await sendOnce(page), '0x000 · [3] 00 00 00');
      await page.fill('#tx-dlc', '12');
      assert.equal(await placeholder(), '00 00 00 00 00 00 00 00');
      await page.fill('#tx-dlc', '0');
      assert.equal(await placeholder(), '');
      assert.equal(await sendOnce(page), '0x000 · [0] ');
      await page.fill('#tx-dlc', '');
      assert.equal(await placeholder(), '00 00 00 00 00 00 00 00');
      await page.fill('#tx-id', '7df');
      await page.fill('#tx-dlc', '2');
      await page.fill('#tx-data', '02 01');
      assert.equal(await sendOnce(page), '0x7DF · [2] 02 01');
      // Nothing is validated: any ID text, one leading 0x of either case dropped.
      await page.fill('#tx-id', '0X0x1g');
      assert.equal(await sendOnce(page), '0x0X1G · [2] 02 01');
    });
  });

  it('formats the data field as byte pairs and keeps the caret after the same digits', async () => {
    await openTransmit(async (page) => {
      const field = () => page.$eval('#tx-data', (input) => [input.value, input.selectionStart, input.selectionEnd]);
      await page.click('#tx-data');
      await page.keyboard.type('0a1b2c');
      assert.deepEqual(await field(), ['0a 1b 2c', 8, 8]);
      assert.equal(await sendOnce(page), '0x000 · [8] 0A 1B 2C');
      await page.click('#tx-data');
      await page.keyboard.press('End');
      await page.keyboard.type('g');
      assert.deepEqual(await field(), ['0a 1b 2c', 8, 8]);
      // Deleting the blank between bytes only moves the caret before it.
      await page.$eval('#tx-data', (input) => input.setSelectionRange(3, 3));
      await page.keyboard.press('Backspace');
      assert.deepEqual(await field(), ['0a 1b 2c', 2, 2]);
      // A digit typed inside a byte shifts the pairs; the caret follows the digit.
      await page.keyboard.type('F');
      assert.deepEqual(await field(), ['0a F1 b2 c', 4, 4]);
      await page.fill('#tx-data', 'DE:AD:BE:EF');
      assert.deepEqual(await field(), ['DE AD BE EF', 11, 11]);
      // An unchanged text keeps the selection.
      await page.$eval('#tx-data', (input) => {
        input.setSelectionRange(0, 5);
        input.dispatchEvent(new InputEvent('input', { bubbles: true }));
      });
      assert.deepEqual(await field(), ['DE AD BE EF', 0, 5]);
      // An input-method composition is left alone until it ends.
      const composed = await page.$eval('#tx-data', (input) => {
        input.value = 'abcd';
        input.dispatchEvent(new InputEvent('input', { bubbles: true, isComposing: true }));
        const during = input.value;
        input.dispatchEvent(new CompositionEvent('compositionend', { bubbles: true }));
        return [during, input.value];
      });
      assert.deepEqual(composed, ['abcd', 'ab cd']);
    });
  });
});

describe('periodic jobs and listen-only mode', () => {
  it('lists one job per interval and summary, logs nothing, and stops jobs back to the placeholder', async () => {
    await openTransmit(async (page) => {
      await page.check('input[name="tx-timing"][value="periodic"]');
      await page.click('#tx-send');
      await page.click('#tx-send');
      assert.deepEqual(await jobTexts(page), ['every 100 ms · TX · 0x000 · [8] 00 00 00 00 00 00 00 00']);
      assert.equal(await page.textContent('#periodic-count'), '1 active');
      await page.fill('#tx-interval', '200');
      await page.click('#tx-send');
      assert.deepEqual(await jobTexts(page), ['every 200 ms · TX · 0x000 · [8] 00 00 00 00 00 00 00 00',
        'every 100 ms · TX · 0x000 · [8] 00 00 00 00 00 00 00 00']);
      assert.equal(await page.getAttribute('#periodic-list > li:first-child', 'data-key'), '200|0x000 · [8] 00 00 00 00 00 00 00 00');
      assert.equal(await page.textContent('#periodic-count'), '2 active');
      await page.clock.runFor(20000);
      assert.deepEqual([await page.textContent('#tx-count'), (await logLines(page)).length], ['0 sent', 1]);
      // Typed markup stays text, also in a key compared against the listed jobs.
      await page.fill('#tx-id', '"]<img src=x onerror=window.hit=1>');
      await page.click('#tx-send');
      await page.click('#tx-send');
      assert.equal(await page.textContent('#periodic-count'), '3 active');
      assert.equal(await page.$$eval('#transmit-panel img', (imgs) => imgs.length), 0);
      assert.match((await jobTexts(page))[0], /^every 200 ms · TX · 0x"\]<IMG SRC=X ONERROR=WINDOW.HIT=1> · /);
      await page.click('#periodic-list > li:first-child .stop-btn');
      assert.equal(await page.evaluate(() => document.activeElement.closest('li')?.dataset.key.startsWith('200|0x000')), true);
      await page.keyboard.press('Enter');
      await page.click('#periodic-list .stop-btn');
      assert.deepEqual(await jobTexts(page), ['No periodic jobs running.']);
      assert.deepEqual([await page.getAttribute('#periodic-empty', 'class'), await page.textContent('#periodic-count')], ['muted', '0 active']);
      // A stopped job can be started again.
      await page.click('#tx-send');
      assert.equal(await page.textContent('#periodic-count'), '1 active');
    });
  });

  it('in listen-only mode shows the banner, disables Send and logs nothing even through a re-enabled button', async () => {
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      await page.check('#listen');
      await page.selectOption('#scenario', 'live');
      await page.click('#tab-transmit');
      assert.deepEqual([await page.isVisible('#listen-banner'), await page.isDisabled('#tx-send')], [true, true]);
      await page.$eval('#tx-send', (button) => { button.disabled = false; button.click(); });
      await page.check('input[name="tx-timing"][value="periodic"]');
      await page.$eval('#tx-send', (button) => button.click());
      assert.deepEqual([await page.textContent('#tx-count'), await page.textContent('#periodic-count')], ['0 sent', '0 active']);
      // The forms and the mapping editor stay usable.
      await page.selectOption('#tx-mode', 'pdo');
      await page.click('#pdo-add-btn');
      assert.equal((await mapping(page)).length, 3);
    });
  });
});

describe('PDO source and mapping editor', () => {
  it('composes Node 1 RPDO1 from the dictionary and maps the last candidate', async () => {
    await openTransmit(async (page) => {
      await page.selectOption('#tx-mode', 'pdo');
      assert.deepEqual(await optionTexts(page, '#pdo-sel'), [['RPDO1 (0x200)', 'RPDO1 (0x200)']]);
      assert.deepEqual(await mapping(page), ['0x6040:00 · Controlword = 0x000F', '0x6071:00 · Target torque = 0x0000']);
      assert.deepEqual(await optionTexts(page, '#pdo-add'), [['0x2100:00 · Motor current', '0x2100:00']]);
      assert.equal(await page.getAttribute('.pdo-map-remove', 'title'), 'Remove from mapping');
      assert.equal(await sendOnce(page), 'RPDO1 (0x200) → Node 1 (0x01) · Controlword=0x000F, Target torque=0x0000');
      await page.click('#pdo-add-btn');
      assert.deepEqual((await mapping(page))[2], '0x2100:00 · Motor current = 0x0000');
      assert.deepEqual(await optionTexts(page, '#pdo-add'), [['All writable objects mapped', '']]);
      assert.deepEqual([await page.isDisabled('#pdo-add'), await page.isDisabled('#pdo-add-btn')], [true, true]);
      assert.match(await sendOnce(page), /· Controlword=0x000F, Target torque=0x0000, Motor current=0x0000$/);
    });
  });

  it('edits Node 2, keeps each node mapping across switches and leaves the dictionary leaves alone', async () => {
    await openTransmit(async (page) => {
      await page.selectOption('#tx-mode', 'pdo');
      // Removing with the keyboard hands the focus to the next row.
      await page.focus('#pdo-mapping .pdo-map-remove');
      await page.keyboard.press('Enter');
      assert.deepEqual(await mapping(page), ['0x6071:00 · Target torque = 0x0000']);
      assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Remove 0x6071:00 from mapping');
      assert.deepEqual((await optionTexts(page, '#pdo-add')).map(([text]) => text), ['0x2100:00 · Motor current', '0x6040:00 · Controlword']);

      await page.selectOption('#pdo-node', 'Node 2 (0x02)');
      assert.deepEqual(await optionTexts(page, '#pdo-sel'), [['RPDO1 (0x300)', 'RPDO1 (0x300)']]);
      assert.deepEqual(await mapping(page), ['0x6200:01 · Digital outputs = 0x00']);
      assert.deepEqual(await optionTexts(page, '#pdo-add'), [['All writable objects mapped', '']]);
      await page.click('.pdo-map-remove');
      assert.deepEqual(await mapping(page), ['Mapping is empty — add an object below.']);
      assert.deepEqual(await optionTexts(page, '#pdo-add'), [['0x6200:01 · Digital outputs', '0x6200:01']]);
      assert.equal(await page.isDisabled('#pdo-add-btn'), false);
      assert.equal(await sendOnce(page), 'RPDO1 (0x300) → Node 2 (0x02) · ');

      await page.selectOption('#pdo-node', 'Node 1 (0x01)');
      assert.deepEqual(await mapping(page), ['0x6071:00 · Target torque = 0x0000']);
      await page.selectOption('#pdo-node', 'Node 2 (0x02)');
      assert.deepEqual(await mapping(page), ['Mapping is empty — add an object below.']);

      await page.click('#tab-objects');
      await page.selectOption('#obj-source', 'eds:motor.eds');
      const numberOfEntries = page.getByLabel('Value of Number of entries', { exact: true }).first();
      assert.equal(await numberOfEntries.inputValue(), '2');
    });
  });

  it('shows values written in the Objects tab at the next render; mapping leaves are read once, on first use', async () => {
    await openTransmit(async (page) => {
      const write = async (source, name, value) => {
        await page.click('#tab-objects');
        await page.selectOption('#obj-source', source);
        const row = page.locator('.obj-leaf', { has: page.getByLabel(`Value of ${name}`, { exact: true }) }).first();
        await row.locator('.obj-value-input').fill(value);
        await row.locator('.write-btn').click();
        await page.click('#tab-transmit');
      };
      await write('eds:motor.eds', 'Controlword', '0x0006');
      // Node 1's mapping was read at start-up; Node 2's not yet.
      await write('eds:motor.eds', 'Mapped object 1', '0x62000108');
      await write('eds:io.eds', 'Mapped object 1', '0x60000108');
      await page.selectOption('#tx-mode', 'pdo');
      assert.deepEqual((await mapping(page))[0], '0x6040:00 · Controlword = 0x000F');
      await page.selectOption('#pdo-node', 'Node 2 (0x02)');
      assert.deepEqual(await mapping(page), ['0x6000:01 · Digital inputs = 0xA3']);
      await page.selectOption('#pdo-node', 'Node 1 (0x01)');
      assert.deepEqual(await mapping(page), ['0x6040:00 · Controlword = 0x0006', '0x6071:00 · Target torque = 0x0000']);
      assert.equal(await sendOnce(page), 'RPDO1 (0x200) → Node 1 (0x01) · Controlword=0x0006, Target torque=0x0000');
    });
  });

  it('offers no RPDO for a node without one, and sends with the empty parts left empty', async () => {
    await openTransmit(async (page) => {
      await whileDisconnected(page, () => loadFile(page, '#load-eds'));
      await page.selectOption('#tx-mode', 'pdo');
      await page.selectOption('#pdo-node', 'Node 3 (0x03)');
      assert.deepEqual(await optionTexts(page, '#pdo-sel'), [['No RPDO mapping', '']]);
      assert.deepEqual(await mapping(page), ['No RPDO mapping for this node.']);
      assert.deepEqual(await optionTexts(page, '#pdo-add'), [['—', '']]);
      assert.deepEqual([await page.isDisabled('#pdo-add'), await page.isDisabled('#pdo-add-btn')], [true, true]);
      assert.equal(await sendOnce(page), ' → Node 3 (0x03) · ');
    });
  });
});

describe('layout', () => {
  it('draws 210px Send, five 30px rows per list with hidden scroll bars, and a monospace log', async () => {
    await openTransmit(async (page) => {
      await page.check('input[name="tx-timing"][value="periodic"]');
      for (let i = 1; i <= 7; i += 1) {
        await page.fill('#tx-interval', String(i));
        await page.click('#tx-send');
      }
      const box = await page.$eval('#periodic-list', (list) => ({
        client: list.clientHeight, scroll: list.scrollHeight, bar: list.offsetWidth - list.clientWidth,
        rows: [...list.children].map((row) => row.getBoundingClientRect().height),
      }));
      assert.deepEqual(box, { client: 150, scroll: 210, bar: 0, rows: Array(7).fill(30) });
      const styles = await page.evaluate(() => [document.querySelector('#tx-send').getBoundingClientRect().width,
        getComputedStyle(document.querySelector('#tx-log')).fontFamily, getComputedStyle(document.querySelector('#tx-log')).maxHeight,
        getComputedStyle(document.querySelector('.tx-forms')).borderLeftWidth]);
      assert.deepEqual(styles, [210, 'ui-monospace, SFMono-Regular, Consolas, monospace', '150px', '1px']);
    });
  });

  for (const concept of ['studio', 'console']) {
    it(`${concept}: two columns side by side when wide; at 600px one column of source, form, timing, send`, async () => {
      const order = (page) => page.evaluate(() => ['.tx-source', '.tx-forms', '.tx-timing', '.tx-send-area'].map((selector) => {
        const rect = document.querySelector(selector).getBoundingClientRect();
        return { selector, top: Math.round(rect.top), left: Math.round(rect.left), bottom: Math.round(rect.bottom) };
      }));
      await openTransmit(async (page) => {
        const [source, forms, timing, send] = await order(page);
        assert.ok(forms.left > source.left && forms.top === source.top, JSON.stringify([source, forms]));
        assert.ok(timing.top >= source.bottom && send.top >= timing.bottom);
      }, { query: `?concept=${concept}&scenario=live` });
      await openTransmit(async (page) => {
        const parts = await order(page);
        for (let i = 1; i < parts.length; i += 1) {
          assert.equal(parts[i].left, parts[0].left, parts[i].selector);
          assert.ok(parts[i].top >= parts[i - 1].bottom, `${parts[i].selector} below ${parts[i - 1].selector}`);
        }
        assert.equal(await page.$eval('.tx-forms', (forms) => getComputedStyle(forms).borderLeftWidth), '0px');
      }, { query: `?concept=${concept}&scenario=live`, viewport: { width: 600, height: 1000 } });
    });
  }
});
