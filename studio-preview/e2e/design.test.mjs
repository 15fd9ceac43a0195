// The visual design system, read back through getComputedStyle: concept
// tokens, concept layouts, the collapse button, narrow windows, global rules
// and repeatable screenshots.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { CONCEPTS } from './lab.mjs';

const { withLab } = useLab();

/** "#rrggbb" → the computed-style form "rgb(r, g, b)". */
const rgb = (hex) => `rgb(${hex.slice(1).match(/../g).map((pair) => parseInt(pair, 16)).join(', ')})`;

const NAMES = ['--surface', '--panel', '--field', '--border', '--text', '--muted', '--accent', '--accent-h', '--success', '--hair', '--row-hover'];
const DARK_HAIR = 'rgba(255, 255, 255, 0.06)';
const TOKENS = {
  studio: ['#121720', '#171e29', '#10151e', '#2a3444', '#e7ecf4', '#9ba9bd', '#edb059', '#f2c880', '#80dbad', DARK_HAIR, '#172234'],
  bench: ['#faf8f5', '#f3efe9', '#ffffff', '#ede9e4', '#2d2a26', '#5a5450', '#edb059', '#f2c880', '#4e8c5a', 'rgba(0, 0, 0, 0.05)', '#f3efe9'],
  console: ['#111719', '#192225', '#101618', '#304045', '#e7ecf4', '#a1b5b6', '#9bdd9f', '#f2c880', '#80dbad', DARK_HAIR, '#172234'],
};
const token = (concept, name) => {
  const value = TOKENS[concept][NAMES.indexOf(name)];
  return value.startsWith('#') ? rgb(value) : value;
};

/** Each token resolved to a computed colour through a probe inside the app frame. */
const readTokens = (page) => page.evaluate((names) => {
  const probe = document.querySelector('.app').appendChild(document.createElement('i'));
  const out = names.map((name) => {
    probe.style.color = `var(${name})`;
    return getComputedStyle(probe).color;
  });
  probe.remove();
  return out;
}, NAMES);

/** Boxes of sidebar, main area and collapse button relative to the workspace, plus their borders. */
const layout = (page) => page.evaluate(() => {
  const ws = document.querySelector('.workspace').getBoundingClientRect();
  const measure = (selector) => {
    const element = document.querySelector(selector);
    const s = getComputedStyle(element);
    if (s.display === 'none') return null;
    const r = element.getBoundingClientRect();
    return {
      left: r.left - ws.left, top: r.top - ws.top, right: ws.right - r.right, width: r.width, height: r.height,
      cx: r.left + r.width / 2 - ws.left, cy: r.top + r.height / 2 - ws.top, rcx: ws.right - r.left - r.width / 2,
      borders: [s.borderTopWidth, s.borderRightWidth, s.borderBottomWidth, s.borderLeftWidth].map((w) => parseFloat(w)),
      radius: [s.borderTopLeftRadius, s.borderTopRightRadius, s.borderBottomRightRadius, s.borderBottomLeftRadius].map((w) => parseFloat(w)),
      columns: s.gridTemplateColumns.split(' ').length,
    };
  };
  return { ws: { width: ws.width, height: ws.height }, setup: measure('.setup'), main: measure('.monitor'), toggle: measure('#sidebar-toggle') };
});

/** Checks the listed keys of each box (rounded to whole pixels). */
function assertBoxes(actual, expected, label) {
  for (const [part, want] of Object.entries(expected)) {
    if (want === null) {
      assert.equal(actual[part], null, `${label}: ${part} displayed`);
      continue;
    }
    const got = Object.fromEntries(Object.keys(want).map((key) => [key,
      Array.isArray(actual[part][key]) ? actual[part][key] : Math.round(actual[part][key])]));
    assert.deepEqual(got, want, `${label}: ${part}`);
  }
}

async function collapse(page) {
  await page.click('#sidebar-toggle');
  await page.waitForFunction(() => document.querySelector('.app').dataset.sidebar === 'collapsed');
}

describe('tokens and colours', () => {
  it('gives each concept its eleven token values through the attribute alone', async () => {
    await withLab({}, async (page) => {
      const sheets = await page.evaluate(() => document.styleSheets.length);
      for (const concept of ['studio', 'bench', 'console', 'studio']) {
        await page.click(`button[data-concept="${concept}"]`);
        assert.deepEqual(await readTokens(page), NAMES.map((name) => token(concept, name)), concept);
        const frame = await page.$eval('.app', (app) => {
          const s = getComputedStyle(app);
          return [s.color, s.backgroundColor, s.colorScheme, s.borderRadius, s.overflow];
        });
        // Content clipped to the frame, which is no scroll container (the sidebar stays in view as the page scrolls).
        assert.deepEqual(frame, [token(concept, '--text'), token(concept, '--surface'), concept === 'bench' ? 'light' : 'dark', '12px', 'clip']);
        // The lab bar above the frame keeps its own dark look.
        const lab = await page.evaluate(() => ['html', '.lab-heading strong', '.concepts', 'button[aria-pressed="true"]']
          .map((selector) => getComputedStyle(document.querySelector(selector)).backgroundColor));
        assert.deepEqual(lab, [rgb('#0b0e14'), 'rgba(0, 0, 0, 0)', rgb('#151a24'), rgb('#edb059')]);
      }
      assert.equal(await page.evaluate(() => document.styleSheets.length), sheets, 'no style sheet swapped');
    });
  });

  it('colours the status dot, the buttons and the eyebrows from the tokens', async () => {
    await withLab({}, async (page) => {
      for (const concept of CONCEPTS) {
        await page.click(`button[data-concept="${concept}"]`);
        const dots = { missing: '--muted', ready: '--success', connecting: '--accent', live: '--success', error: null };
        for (const [scenario, name] of Object.entries(dots)) {
          await page.selectOption('#scenario', scenario);
          const dot = await page.$eval('#connection-status .dot', (d) => getComputedStyle(d).backgroundColor);
          assert.equal(dot, name ? token(concept, name) : rgb('#ee996d'), `${concept} ${scenario}`);
        }
        await page.selectOption('#scenario', 'ready');
        const look = await page.evaluate(() => {
          const s = (selector) => getComputedStyle(document.querySelector(selector));
          return [s('#connect').backgroundColor, s('#connect').color, s('#refresh').backgroundColor, s('#adapter').backgroundColor,
            s('.brand strong span').color, s('.setup .eyebrow').textTransform, s('.setup .eyebrow').fontSize];
        });
        assert.deepEqual(look, [token(concept, '--accent'), rgb('#2d2a26'), token(concept, '--panel'), token(concept, '--field'),
          token(concept, '--accent'), 'uppercase', '9px']);
      }
    });
  });
});

const SQUARE = { top: 32, right: 22, width: 32, height: 32, borders: [1, 1, 1, 1], radius: [7, 7, 7, 7] };

describe('layouts', () => {
  it('studio: sidebar left at 300 px with the collapse button on its edge, then at the left edge', async () => {
    await withLab({ query: '?scenario=live&concept=studio' }, async (page) => {
      const l = await layout(page);
      assert.ok(l.ws.height >= 630);
      assertBoxes(l, { setup: { left: 0, top: 0, width: 300, borders: [0, 1, 0, 0] }, main: { left: 300, right: 0 },
        toggle: { cx: 300, cy: Math.round(l.ws.height / 2), width: 20, height: 48 } }, 'expanded');
      await collapse(page);
      const c = await layout(page);
      assertBoxes(c, { setup: null, main: { left: 0, right: 0 },
        toggle: { left: 0, cy: Math.round(c.ws.height / 2), borders: [1, 1, 1, 0], radius: [0, 7, 7, 0] } }, 'collapsed');
    });
  });

  it('bench: sidebar right at 310 px with the collapse button on its edge, then at the right edge', async () => {
    await withLab({ query: '?scenario=live&concept=bench' }, async (page) => {
      const l = await layout(page);
      assertBoxes(l, { setup: { right: 0, top: 0, width: 310, borders: [0, 0, 0, 1] }, main: { left: 0, right: 310 },
        toggle: { rcx: 310, cy: Math.round(l.ws.height / 2) } }, 'expanded');
      await collapse(page);
      const c = await layout(page);
      assertBoxes(c, { setup: null, main: { left: 0, right: 0 },
        toggle: { right: 0, cy: Math.round(c.ws.height / 2), borders: [1, 0, 1, 1], radius: [7, 0, 0, 7] } }, 'collapsed');
    });
  });

  it('console: sidebar on top as a three-column grid, collapse button a fixed square', async () => {
    await withLab({ query: '?scenario=live&concept=console' }, async (page) => {
      const l = await layout(page);
      assertBoxes(l, { setup: { left: 0, top: 0, right: 0, columns: 3, borders: [0, 0, 1, 0] },
        main: { left: 0, right: 0, top: Math.round(l.setup.height) }, toggle: SQUARE }, 'expanded');
      assert.ok(l.main.height >= 500);
      const inner = await page.evaluate(() => ['.sidebar-note', '.connection-fields', '.device-card'].map((selector) => {
        const s = getComputedStyle(document.querySelector(selector));
        return [s.display, s.gridTemplateColumns.split(' ').length, s.gridRowStart];
      }));
      // The connection fields in three columns (adapter, bitrate, the device card spanning their
      // rows), so the dock is no higher than the card; the protocols column shows its three closed
      // sections whole, and scrolls only what opens.
      assert.deepEqual(inner, [['none', 1, 'auto'], ['grid', 3, 'auto'], ['grid', 1, '1']]);
      assert.deepEqual(await page.evaluate(() => {
        const protocols = document.querySelector('.setup > .protocols');
        const box = protocols.getBoundingClientRect();
        return [protocols.scrollHeight <= protocols.clientHeight,
          [...protocols.querySelectorAll('summary')].every((s) => s.getBoundingClientRect().bottom <= box.bottom)];
      }), [true, true]);
      await collapse(page);
      assertBoxes(await layout(page), { setup: null, main: { left: 0, top: 0, right: 0 }, toggle: SQUARE }, 'collapsed');
    });
  });

  it('up to 900 px: a 250 px sidebar on the left in studio and bench, two console columns', async () => {
    const viewport = { width: 860, height: 900 };
    for (const concept of CONCEPTS) {
      await withLab({ query: `?scenario=live&concept=${concept}`, viewport }, async (page) => {
        const l = await layout(page);
        if (concept === 'console') assertBoxes(l, { setup: { columns: 2 } }, concept);
        else assertBoxes(l, { setup: { left: 0, width: 250, borders: [0, 1, 0, 0] }, main: { left: 250 } }, concept);
        assert.deepEqual(await page.evaluate(() => [getComputedStyle(document.body).padding, getComputedStyle(document.querySelector('.monitor')).padding]),
          ['14px', '22px 16px']);
      });
    }
  });

  it('up to 620 px: sidebar above the main area in every concept, shrunk toolbar, wrapping tabs; collapsing still hides it', async () => {
    for (const concept of CONCEPTS) {
      await withLab({ query: `?scenario=live&concept=${concept}`, viewport: { width: 600, height: 900 } }, async (page) => {
        const l = await layout(page);
        assertBoxes(l, { setup: { left: 0, top: 0, right: 0, borders: [0, 0, 1, 0] },
          main: { left: 0, right: 0, top: Math.round(l.setup.height) } }, concept);
        assert.ok(l.main.height >= 500);
        const look = await page.evaluate(() => {
          const s = (selector) => getComputedStyle(document.querySelector(selector));
          const widths = [...document.querySelectorAll('.concepts button')].map((b) => Math.round(b.getBoundingClientRect().width));
          return [s('.brand strong').fontSize, s('.toolbar').padding, s('.tabs').flexWrap, s('.app > footer').flexWrap,
            document.querySelector('.concepts').offsetWidth === document.querySelector('.lab').offsetWidth,
            Math.max(...widths) - Math.min(...widths) <= 1];
        });
        assert.deepEqual(look, ['18px', '12px', 'wrap', 'wrap', true, true], concept);
        await collapse(page);
        assertBoxes(await layout(page), { setup: null, main: { left: 0, top: 0, right: 0 } }, `${concept} collapsed`);
      });
    }
  });
});

describe('global rules', () => {
  it('hidden always wins, disabled buttons are dimmed, no scroll bars, keyboard focus ring', async () => {
    await withLab({ query: '?scenario=connecting' }, async (page) => {
      const result = await page.evaluate(() => {
        const modal = document.querySelector('#qr-modal');
        const displays = [getComputedStyle(modal).display];
        modal.hidden = false;
        displays.push(getComputedStyle(modal).display);
        modal.hidden = true;
        const connect = getComputedStyle(document.querySelector('#connect'));
        const scrollbars = [...document.querySelectorAll('*')].filter((e) => getComputedStyle(e).scrollbarWidth !== 'none').length;
        return [displays, connect.opacity, connect.cursor, scrollbars];
      });
      assert.deepEqual(result, [['none', 'grid'], '0.4', 'not-allowed', 0]);
      await page.focus('#show-qr-picker');
      await page.keyboard.press('Shift+Tab');
      await page.keyboard.press('Tab');
      const ring = await page.evaluate(() => {
        const s = getComputedStyle(document.activeElement);
        return [document.activeElement.id, s.outlineStyle, s.outlineWidth, s.outlineColor, s.outlineOffset];
      });
      assert.deepEqual(ring, ['show-qr-picker', 'solid', '2px', rgb('#edb059'), '3px']);
    });
  });

  it('keeps table rows dark in bench and tightens compact tables', async () => {
    await withLab({ query: '?scenario=live&concept=bench' }, async (page) => {
      const look = await page.evaluate(() => {
        // A table in the shape the traffic views build, to read the shared table rules.
        const table = document.querySelector('#monitor-panel').appendChild(document.createElement('table'));
        const body = table.createTBody();
        for (let i = 0; i < 2; i += 1) ['id', 'payload'].forEach((name) => (body.rows[i] ?? body.insertRow()).insertCell().classList.add(name));
        const [id, payload] = body.rows[1].cells;
        const out = [getComputedStyle(body.rows[0]).backgroundColor, getComputedStyle(body.rows[1]).backgroundColor,
          getComputedStyle(id).color, getComputedStyle(payload).fontFamily.split(',')[0], getComputedStyle(payload).padding];
        table.dataset.density = 'compact';
        out.push(getComputedStyle(payload).padding);
        table.remove();
        return out;
      });
      assert.deepEqual(look, ['rgba(0, 0, 0, 0)', rgb('#0e131c'), rgb('#9a6f15'), 'ui-monospace', '13px 12px', '6px 12px']);
    });
  });
});

describe('screenshots', () => {
  it('are identical across two loads for every concept in "ready" and "live", wide and narrow', async () => {
    for (const viewport of [{ width: 1400, height: 1000 }, { width: 600, height: 1000 }]) {
      for (const concept of CONCEPTS) {
        for (const scenario of ['ready', 'live']) {
          const shots = [];
          for (let load = 0; load < 2; load += 1) {
            await withLab({ query: `?concept=${concept}&scenario=${scenario}`, viewport }, async (page) => {
              await page.evaluate(() => Promise.all([document.fonts.ready, ...[...document.images].map((image) => image.decode())]));
              shots.push(await page.screenshot({ fullPage: true, animations: 'disabled', caret: 'hide' }));
            });
          }
          assert.ok(shots[0].equals(shots[1]), `${concept} ${scenario} at ${viewport.width} px differs between loads`);
        }
      }
    }
  });
});
