// Side by side: the comparison's panes and captions in each mode, opened from
// the lab bar and from the address; what the reviewer does in one pane
// mirrored into the others (and not with mirroring off); the lab bar driving
// every pane; closing back to the single page; the heartbeat of a comparison;
// and the layout at window widths from 600 to 1920 px.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { CONCEPTS, eventually } from './lab.mjs';

const env = useLab();

/** Every pane's page has loaded and is watched by the comparison. */
const panesReady = () => {
  const panes = document.querySelectorAll('.compare-pane');
  return panes.length > 0 && [...panes].every((pane) => !pane.hasAttribute('aria-busy'));
};

/** Opens `query` with the clock held (unless told otherwise) and waits for the comparison's panes. */
function withComparison(query, body, options = {}) {
  return env.withLab({ query, clock: true, ready: panesReady, viewport: { width: 1400, height: 900 }, ...options }, body);
}

/** The pane frames' Playwright frames, in pane order. */
async function paneFrames(page) {
  const handles = await page.$$('.compare-frame');
  return Promise.all(handles.map((handle) => handle.contentFrame()));
}

/** Runs `fn` in every pane's page; the results in pane order. */
async function inPanes(page, fn, arg) {
  return Promise.all((await paneFrames(page)).map((frame) => frame.evaluate(fn, arg)));
}

/** Polls `inPanes` until `test` holds for the results, and returns them; fails with the last results. */
async function untilPanes(page, fn, test, what, arg) {
  let values;
  return eventually(async () => {
    values = await inPanes(page, fn, arg);
    return test(values) && values;
  }, () => `${what}: ${JSON.stringify(values)}`, { timeoutMs: 10000 });
}

/** An element of pane `n` (from 1). */
const inPane = (page, n, selector) => page.frameLocator(`.compare-pane:nth-child(${n}) .compare-frame`).locator(selector);

/** What a pane's page shows, for the mirroring tests. */
function paneState() {
  const q = (selector) => document.querySelector(selector);
  return {
    scenario: q('#scenario').value,
    tab: q('.tabs [aria-selected="true"]').id,
    pause: q('#pause').textContent,
    filter: q('#sniffer-filter').value,
    rows: document.querySelectorAll('#sniffer-rows tr').length,
    listen: q('#listen').checked,
    bitrate: q('#bitrate').value,
  };
}

/** The comparison as the top document shows it: address, captions, lab bar, and each pane's page. */
async function comparisonView(page) {
  const top = await page.evaluate(() => ({
    search: location.search,
    captions: [...document.querySelectorAll('.compare-caption')].map((caption) => [...caption.children].map((part) => part.textContent)),
    pressedConcept: document.querySelector('.lab button[data-concept][aria-pressed="true"]')?.dataset.concept,
    disabled: ['.lab button[data-concept]', '#scenario', '#notices'].filter((selector) => document.querySelector(selector).disabled),
    labValues: [document.querySelector('#scenario').value, document.querySelector('#notices').value],
    shown: ['.app', '#concept-description', '.compare'].filter((selector) => !document.querySelector(selector).hidden),
    open: document.querySelector('#compare-open').getAttribute('aria-pressed'),
    views: [...document.querySelectorAll('.compare-view')].map((view) => view.clientWidth),
  }));
  const panes = await inPanes(page, () => ({
    search: location.search,
    width: innerWidth,
    labBar: !document.querySelector('.lab').hidden,
    concept: document.querySelector('.app').dataset.concept,
    scenario: document.querySelector('#scenario').value,
  }));
  return { ...top, panes };
}

/** A pane's expected caption size text: its page's width, and the scale when it is shown smaller. */
function sizeText(layoutWidth, viewWidth, alwaysScale) {
  const scale = viewWidth / layoutWidth;
  return `${layoutWidth} px${alwaysScale || scale < 1 ? ` · ${Math.round(100 * scale)} %` : ''}`;
}

const LETTERS = { studio: ['A', 'Dark studio'], bench: ['B', 'Light workbench'], console: ['C', 'Wide console'] };
const SCENARIO_LABELS = { missing: 'No adapter', ready: 'Adapter ready', connecting: 'Connecting', live: 'Live traffic', error: 'Connection failure' };
const NOTICE_LABELS = { none: 'No notice', 'fw-flashing': 'Firmware flashing', 'app-available': 'App update available', both: 'Firmware + app available' };

/** The expected pane addresses and caption texts of lab choices [concept, scenario, notice]. */
function expectPanes(choices) {
  return choices.map(([concept, scenario, notice]) => ({
    search: `?concept=${concept}&scenario=${scenario}${notice === 'none' ? '' : `&notice=${notice}`}`,
    caption: [LETTERS[concept][0], `${LETTERS[concept][1]} · ${SCENARIO_LABELS[scenario]} · ${NOTICE_LABELS[notice]}`],
  }));
}

describe('side by side from the address', () => {
  // address, rewritten address, panes' lab choices, lab bar control disabled, window widths (Widths mode)
  const cases = [
    ['?compare=concepts&scenario=live&notice=fw-flashing', '?compare=concepts&scenario=live&notice=fw-flashing',
      [['studio', 'live', 'fw-flashing'], ['bench', 'live', 'fw-flashing'], ['console', 'live', 'fw-flashing']], ['.lab button[data-concept]']],
    ['?concept=bench&scenario=live&compare=scenarios', '?compare=scenarios&concept=bench',
      [['bench', 'missing', 'none'], ['bench', 'ready', 'none'], ['bench', 'connecting', 'none'], ['bench', 'live', 'none'], ['bench', 'error', 'none']],
      ['#scenario']],
    ['?compare=widths&concept=console&scenario=error&notice=both&foo=1#x', '?compare=widths&concept=console&scenario=error&notice=both',
      Array(3).fill(['console', 'error', 'both']), [], [800, 1280, 1920]],
  ];
  for (const [query, rewritten, choices, disabled, widths] of cases) {
    it(`"${query}" shows ${choices.length} panes as "${rewritten}"`, async () => {
      await withComparison(query, async (page) => {
        const view = await comparisonView(page);
        const want = expectPanes(choices);
        assert.equal(view.search, rewritten);
        assert.deepEqual(view.panes.map((pane) => pane.search), want.map((pane) => pane.search));
        assert.deepEqual(view.captions.map((caption) => caption.slice(0, 2)), want.map((pane) => pane.caption));
        // Each pane's page is laid out at the width its caption names (Widths: 800, 1280, 1920),
        // at least 600 px, and scaled into its pane when that is narrower.
        assert.deepEqual(view.panes.map((pane) => pane.width), widths ?? view.views.map((width) => Math.max(width, 600)));
        assert.deepEqual(view.captions.map((caption) => caption[2]), view.panes.map((pane, i) => sizeText(pane.width, view.views[i], Boolean(widths))));
        assert.deepEqual(view.panes.map((pane) => [pane.labBar, pane.concept, pane.scenario]), choices.map(([concept, scenario]) => [false, concept, scenario]));
        // The lab bar shows the first pane's choice and disables what the mode varies; the app frame gives way.
        assert.deepEqual([view.pressedConcept, view.labValues, view.disabled], [choices[0][0], choices[0].slice(1), disabled]);
        assert.deepEqual([view.shown, view.open], [['.compare'], 'true']);
      });
    });
  }

  it('ignores an unknown comparison like any unknown key', async () => {
    await env.withLab({ query: '?compare=Concepts&concept=bench&scenario=ready' }, async (page) => {
      const shown = await page.evaluate(() => [location.search, document.querySelectorAll('.compare, iframe').length,
        document.querySelector('.app').hidden, document.querySelector('#compare-open').getAttribute('aria-pressed')]);
      assert.deepEqual(shown, ['?concept=bench&scenario=ready', 0, false, null]);
    });
  });
});

describe('side by side', () => {
  it('opens from the button with the current choice, switches modes from the first pane and comes back the same after a reload', async () => {
    await env.withLab({ query: '?concept=bench&scenario=live&notice=app-available', clock: true }, async (page) => {
      await Promise.all([page.waitForURL(/compare=/), page.click('#compare-open')]);
      await page.waitForFunction(panesReady);
      let view = await comparisonView(page);
      assert.equal(view.search, '?compare=concepts&scenario=live&notice=app-available');
      assert.deepEqual(view.panes.map((pane) => pane.search), expectPanes(CONCEPTS.map((c) => [c, 'live', 'app-available'])).map((pane) => pane.search));

      await page.click('button[data-compare-mode="scenarios"]');
      await page.waitForFunction(panesReady);
      view = await comparisonView(page);
      assert.equal(view.search, '?compare=scenarios&concept=studio&notice=app-available');
      assert.deepEqual(view.panes.map((pane) => pane.scenario), ['missing', 'ready', 'connecting', 'live', 'error']);
      assert.deepEqual(view.disabled, ['#scenario']);

      await page.click('button[data-compare-mode="widths"]');
      await page.waitForFunction(panesReady);
      view = await comparisonView(page);
      assert.equal(view.search, '?compare=widths&concept=studio&scenario=missing&notice=app-available');
      assert.deepEqual(view.panes.map((pane) => pane.width), [800, 1280, 1920]);

      await page.reload();
      await page.waitForFunction(panesReady);
      assert.deepEqual(await comparisonView(page), view);
    });
  });

  it('mirrors Connect into every pane, each going live after the connect delay, and the address follows the first pane', async () => {
    await withComparison('?compare=concepts&scenario=ready', async (page) => {
      const scenarios = () => inPanes(page, () => document.querySelector('#scenario').value);
      await inPane(page, 2, '#connect').click();
      assert.deepEqual(await scenarios(), ['connecting', 'connecting', 'connecting']);
      await page.clock.runFor(649);
      assert.deepEqual(await scenarios(), ['connecting', 'connecting', 'connecting']);
      await page.clock.runFor(1);
      assert.deepEqual(await scenarios(), ['live', 'live', 'live']);
      const view = await comparisonView(page);
      assert.equal(view.search, '?compare=concepts&scenario=live');
      assert.deepEqual(view.captions.map((caption) => caption[1].split(' · ')[1]), Array(3).fill('Live traffic'));
      assert.deepEqual(view.labValues, ['live', 'none']);
    });
  });

  it('leaves a control alone in the panes where it is disabled', async () => {
    await withComparison('?compare=scenarios', async (page) => {
      // "Refresh detection" is disabled while connecting and live; a dispatched click would still reach its listener.
      await inPane(page, 1, '#refresh').click();
      await untilPanes(page, () => document.querySelector('#scenario').value,
        (values) => values.join() === 'ready,ready,connecting,live,ready', 'the refreshed panes');
    });
  });

  it('mirrors a tab switch, a filter keystroke, a toggle, a label\'s checkbox, a select, scrolls and an arrow key, each once', async () => {
    await withComparison('?compare=concepts&scenario=ready', async (page) => {
      // A label's text passes the click on to its checkbox: mirrored twice, it would tick and untick.
      await inPane(page, 1, 'label:has(#listen)').click();
      // Keys on a select choose without opening it.
      await inPane(page, 2, '#bitrate').press('ArrowDown');
      let states = await inPanes(page, paneState);
      assert.deepEqual(states.map((s) => [s.listen, s.bitrate]), Array(3).fill([true, '500 kbit/s']));

      await inPane(page, 3, '#listen').click();
      await inPane(page, 3, '#connect').click();
      await page.clock.runFor(650);
      // Pause flips on every click: an echo would flip it back.
      await inPane(page, 3, '#pause').click();
      await inPane(page, 1, '#tab-sniffer').click();
      await inPane(page, 2, '#sniffer-filter').pressSequentially('0x18');
      states = await inPanes(page, paneState);
      assert.ok(states[0].rows > 0 && states[0].rows < 6, `${states[0].rows} sniffer rows match 0x18`);
      assert.deepEqual(states, Array(3).fill({ ...states[0], scenario: 'live', tab: 'tab-sniffer', pause: 'Resume', filter: '0x18', listen: false }));

      // The page, and a scroll box without an id (found by its path): the same share of each pane's range.
      await inPanes(page, () => document.addEventListener('scroll', () => { window.scrollsSeen += 1; }, true));
      for (const box of ['document.scrollingElement', "document.querySelector('.setup')"]) {
        await inPane(page, 1, '#tab-monitor').click();
        await inPanes(page, () => { window.scrollsSeen = 0; });
        const [first] = await paneFrames(page);
        const share = `(() => { const box = ${box}; const range = box.scrollHeight - box.clientHeight; return range > 0 ? box.scrollTop / range : null; })()`;
        const set = await first.evaluate(`(() => { const box = ${box}; box.scrollTop = (box.scrollHeight - box.clientHeight) / 2; return ${share}; })()`);
        // Each pane sees one scroll: the reviewer's in the first, a replay's in the others.
        await untilPanes(page, () => window.scrollsSeen, (counts) => counts.every((n) => n >= 1), `the scroll events of ${box}`);
        const shares = await inPanes(page, share);
        assert.ok(shares.slice(1).some((value) => value !== null), `${box} scrolls in another pane`);
        for (const value of shares) if (value !== null) assert.ok(Math.abs(value - set) < 0.02, `${box}: shares ${shares}`);
        // The scrolls the replays caused were not mirrored back: the first pane stays where it was put.
        assert.deepEqual([shares[0], await first.evaluate(() => window.scrollsSeen)], [set, 1]);
      }

      // An arrow key moves every pane to the next tab; the keyboard focus stays where the key was pressed.
      await inPane(page, 2, '#tab-monitor').press('ArrowRight');
      assert.deepEqual((await inPanes(page, paneState)).map((s) => s.tab), Array(3).fill('tab-sniffer'));
      const focused = await page.evaluate(() => [...document.querySelectorAll('.compare-frame')].indexOf(document.activeElement));
      assert.deepEqual([focused, (await inPanes(page, () => document.activeElement.id))[focused]], [1, 'tab-sniffer']);
    });
  });

  it('leaves the other panes as they are with mirroring off', async () => {
    await withComparison('?compare=concepts&scenario=live', async (page) => {
      await page.click('#compare-mirror');
      assert.equal(await page.getAttribute('#compare-mirror', 'aria-checked'), 'false');
      await inPane(page, 1, '#pause').click();
      await inPane(page, 1, '#tab-sniffer').click();
      await inPane(page, 1, '#sniffer-filter').pressSequentially('0x7');
      await inPane(page, 1, '#connect').click();
      const states = await inPanes(page, paneState);
      assert.deepEqual(states.map((s) => [s.scenario, s.tab, s.filter, s.pause]),
        [['ready', 'tab-monitor', '0x7', 'Pause'], ['live', 'tab-monitor', '', 'Pause'], ['live', 'tab-monitor', '', 'Pause']]);
      // (Disconnecting the first pane brought it back to the Monitor and un-paused it.)
      // The address follows the first pane; switched on again, a click is mirrored once more, but
      // not into the first pane, which shows no tabs while disconnected.
      assert.equal(await page.evaluate(() => location.search), '?compare=concepts&scenario=ready');
      await page.click('#compare-mirror');
      await inPane(page, 2, '#tab-daq').click();
      assert.deepEqual((await inPanes(page, paneState)).map((s) => s.tab), ['tab-monitor', 'tab-daq', 'tab-daq']);
    });
  });

  it('lets the lab bar choose for every pane and open their QR pickers, whose Escape key is mirrored', async () => {
    await withComparison('?compare=concepts&scenario=ready', async (page) => {
      await page.selectOption('#notices', 'app-available');
      await page.selectOption('#scenario', 'live');
      let view = await comparisonView(page);
      assert.equal(view.search, '?compare=concepts&scenario=live&notice=app-available');
      assert.deepEqual(view.panes.map((pane) => pane.search), expectPanes(CONCEPTS.map((c) => [c, 'live', 'app-available'])).map((pane) => pane.search));

      await page.click('button[data-compare-mode="scenarios"]');
      await page.waitForFunction(panesReady);
      await page.click('.lab button[data-concept="console"]');
      view = await comparisonView(page);
      assert.deepEqual([view.search, view.pressedConcept], ['?compare=scenarios&concept=console&notice=app-available', 'console']);
      assert.deepEqual(view.panes.map((pane) => pane.concept), Array(5).fill('console'));

      const modals = () => inPanes(page, () => !document.querySelector('#qr-modal').hidden);
      await page.click('#show-qr-picker');
      assert.deepEqual(await modals(), Array(5).fill(true));
      await inPane(page, 2, '#qr-cancel').press('Escape');
      assert.deepEqual(await modals(), Array(5).fill(false));
    });
  });

  it('closes to the single page in the first pane\'s choice, also from the pressed lab bar button', async () => {
    await withComparison('?compare=concepts&scenario=ready', async (page) => {
      await page.selectOption('#scenario', 'error');
      await Promise.all([page.waitForURL(/\?concept=/), page.click('#compare-close')]);
      await page.waitForFunction(() => document.querySelector('#connection-status')?.childNodes.length > 0);
      const single = () => page.evaluate(() => [location.search, document.querySelectorAll('.compare, iframe').length,
        document.querySelector('.app').hidden, document.querySelector('.lab button[data-concept][aria-pressed="true"]').dataset.concept]);
      assert.deepEqual(await single(), ['?concept=studio&scenario=error', 0, false, 'studio']);

      await Promise.all([page.waitForURL(/compare=/), page.click('#compare-open')]);
      await page.waitForFunction(panesReady);
      await Promise.all([page.waitForURL(/\?concept=/), page.click('#compare-open')]);
      await page.waitForFunction(() => document.querySelector('#connection-status')?.childNodes.length > 0);
      assert.deepEqual(await single(), ['?concept=studio&scenario=error', 0, false, 'studio']);
    });
  });

  it('pings the launcher from the top document only, at once and every 5 s', async () => {
    // In every document: pings recorded, and no worker, so that the pings run on the held clock.
    const recordPings = () => {
      delete window.Worker;
      const calls = (window.pingCalls = []);
      const original = window.fetch;
      window.fetch = function (input, options) {
        if (String(input).includes('/__studio/ping')) calls.push(String(input));
        return original.call(this, input, options);
      };
    };
    await withComparison('?compare=scenarios', async (page) => {
      const counts = async () => [await page.evaluate(() => window.pingCalls.length), ...await inPanes(page, () => window.pingCalls.length)];
      assert.deepEqual(await counts(), [1, 0, 0, 0, 0, 0]);
      await page.clock.runFor(20000);
      assert.deepEqual(await counts(), [5, 0, 0, 0, 0, 0]);
    }, { initScript: recordPings });
  });
});

describe('side by side layout', () => {
  /** Overflow of the page, captions cut off, pane rows and each pane's page width against its caption. */
  function layout() {
    const root = document.documentElement;
    const panes = [...document.querySelectorAll('.compare-pane')];
    return {
      spill: Math.max(root.scrollWidth, document.body.scrollWidth) - root.clientWidth,
      cut: [...document.querySelectorAll('.compare-caption, .compare-bar')].filter((box) => box.scrollWidth > box.clientWidth
        || box.getBoundingClientRect().right > root.clientWidth).length,
      tops: new Set(panes.map((pane) => Math.round(pane.getBoundingClientRect().top))).size,
      columns: new Set(panes.map((pane) => Math.round(pane.getBoundingClientRect().left))).size,
      sizes: panes.map((pane) => pane.querySelector('.compare-size').textContent),
      frames: panes.map((pane) => {
        const view = pane.querySelector('.compare-view');
        const frame = pane.querySelector('.compare-frame');
        const box = frame.getBoundingClientRect();
        return [frame.contentWindow.innerWidth, Math.round(view.clientWidth - box.width), Math.round(view.clientHeight - box.height)];
      }),
    };
  }

  // mode, window widths → expected [rows of panes, columns]
  const cases = [
    ['concepts', { 1920: [1, 3], 1600: [1, 3], 1280: [1, 3], 800: [2, 2], 600: [3, 1] }],
    ['scenarios', { 1920: [1, 5], 1280: [2, 3], 600: [5, 1] }],
    ['widths', { 1920: [1, 3], 1280: [1, 3], 1024: [3, 1], 600: [3, 1] }],
  ];
  for (const [mode, widths] of cases) {
    it(`lays out the ${mode} without sideways scrolling, one row at 1280 px and wider, at ${Object.keys(widths).join(', ')} px`, async () => {
      // Errors that reach the window but not the console, such as a ResizeObserver loop.
      const recordErrors = () => {
        window.errorsSeen = [];
        addEventListener('error', (event) => window.errorsSeen.push(event.message));
      };
      await withComparison(`?compare=${mode}&scenario=live`, async (page) => {
        const seen = {};
        for (const width of Object.keys(widths).map(Number).sort((a, b) => b - a)) {
          await page.setViewportSize({ width, height: 900 });
          // The captions follow the panes' new sizes.
          const shown = await page.waitForFunction((scaled) => [...document.querySelectorAll('.compare-pane')].every((pane) => {
            const size = pane.querySelector('.compare-size').textContent;
            const view = pane.querySelector('.compare-view').clientWidth;
            const laidOut = pane.querySelector('.compare-frame').contentWindow.innerWidth;
            const scale = view / laidOut;
            return size === `${laidOut} px${scaled || scale < 1 ? ` · ${Math.round(100 * scale)} %` : ''}`;
          }), mode === 'widths');
          await shown.dispose();
          const found = await page.evaluate(layout);
          seen[width] = [found.tops, found.columns];
          assert.deepEqual([found.spill, found.cut], [0, 0], `${width} px: overflow, cut captions`);
          // Every page fills its pane: laid out at least 600 px wide (Widths: its window) and scaled to the pane's width.
          for (const [i, [laidOut, across, down]] of found.frames.entries()) {
            assert.ok(laidOut >= 600 && Math.abs(across) <= 1 && Math.abs(down) <= 1, `${width} px, pane ${i + 1}: laid out ${laidOut} px, ${across} × ${down} px short`);
          }
          if (mode === 'widths') assert.deepEqual(found.frames.map(([laidOut]) => laidOut), [800, 1280, 1920]);
        }
        assert.deepEqual(seen, widths);
        assert.deepEqual(await page.evaluate(() => window.errorsSeen), []);
      }, { initScript: recordErrors });
    });
  }
});
