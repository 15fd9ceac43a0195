// The page shell on the page served by the real launcher: address query,
// scenarios, connection life cycle, sidebar collapse, tabs, footer,
// listen-only mode and concept switching.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { CONCEPTS } from './lab.mjs';

const { withLab } = useLab();

const LOCKED = ['adapter', 'bitrate', 'listen', 'record', 'log-path', 'plain-log', 'browse-log', 'sdo-timeout',
  'load-eds', 'load-dbc', 'load-a2l', 'xcp-enable', 'xcp-cro', 'xcp-dto'];

/** The shell's visible state, read in one go. */
function snapshot(page) {
  return page.evaluate((locked) => {
    const q = (selector) => document.querySelector(selector);
    const text = (selector) => q(selector).textContent;
    return {
      scenario: q('#scenario').value,
      status: text('#connection-status'),
      dot: q('#connection-status .dot')?.className,
      device: [text('#device-name'), text('#device-detail')],
      connect: [text('#connect'), !q('#connect').disabled],
      refresh: !q('#refresh').disabled,
      settings: locked.filter((id) => !q(`#${id}`).disabled).length,
      shown: ['#live-view', '#empty-state', '#sidebar-toggle'].filter((s) => !q(s).hidden),
      empty: [text('#empty-title'), text('#empty-description'), text('#empty-action'), !q('#empty-action').disabled],
      footer: [text('#footer-connection'), text('#footer-recording')],
      search: location.search,
      sidebar: q('.app').dataset.sidebar,
      tabs: [...document.querySelectorAll('.tabs > [role="tab"][aria-selected="true"]')].map((tab) => tab.id),
      panels: [...document.querySelectorAll('[role="tabpanel"]')].filter((panel) => !panel.hidden).map((panel) => panel.id),
      viewLabel: text('#view-mode-label'),
      pause: text('#pause'),
    };
  }, LOCKED);
}

const DEMO = ['JCAN Demo / USB', 'Emulated device · DEMO-0001'];

// status, device lines, [connect text, enabled], refresh enabled, unlocked settings, shown regions, empty state
const SCENARIOS = {
  missing: ['No adapter', ['No JCAN dongle detected', 'Attach an adapter, then refresh.'], ['Connect', false], true, 14,
    ['#empty-state'], ['No active CAN connection',
      'Your workspace is ready. Attach a JCAN dongle and refresh detection to begin.', 'Simulate adapter detection', true]],
  ready: ['Adapter ready', DEMO, ['Connect', true], true, 14, ['#empty-state'], ['Your adapter is ready',
    'Check the bitrate and listen-only setting, then connect to start monitoring.', 'Connect to simulated bus', true]],
  connecting: ['Connecting', DEMO, ['Connecting...', false], false, 0, ['#empty-state'], ['Establishing connection',
    'Opening the simulated adapter and configuring the CAN interface.', 'Connecting...', false]],
  live: ['Connected', DEMO, ['Disconnect', true], false, 0, ['#live-view', '#sidebar-toggle'], ['', '', '', true]],
  error: ['Connection failed', DEMO, ['Retry connection', true], true, 14, ['#empty-state'], ['Unable to open the adapter',
    'Simulated USB interface busy. Retry the connection; your settings have been preserved.', 'Retry connection', true]],
};

async function assertScenario(page, name) {
  const snap = await snapshot(page);
  const [status, device, connect, refresh, settings, shown, empty] = SCENARIOS[name];
  const pick = ({ scenario, dot, ...s }) => ({ scenario, dot, status: s.status, device: s.device, connect: s.connect,
    refresh: s.refresh, settings: s.settings, shown: s.shown, empty: s.empty });
  assert.deepEqual(pick(snap), { scenario: name, dot: `dot ${name}`, status, device, connect, refresh, settings, shown, empty });
  if (name !== 'live') assert.deepEqual(snap.footer, [status, 'No recording active']);
  assert.equal(new URLSearchParams(snap.search).get('scenario'), name);
  return snap;
}

describe('address query', () => {
  const cases = [
    ['', '?concept=studio&scenario=missing'],
    ['?concept=Bench&scenario=LIVE&notice=BOTH', '?concept=studio&scenario=missing'],
    ['?foo=1&scenario=live&concept=console#frag', '?concept=console&scenario=live'],
    ['?scenario=error&concept=bench&notice=nonsense', '?concept=bench&scenario=error'],
  ];
  for (const [query, rewritten] of cases) {
    it(`"${query}" opens as "${rewritten}"`, async () => {
      await withLab({ query }, async (page) => {
        const want = new URLSearchParams(rewritten);
        assert.equal(await page.evaluate(() => location.pathname + location.search + location.hash), `/${rewritten}`);
        assert.equal(await page.getAttribute('.app', 'data-concept'), want.get('concept'));
        await assertScenario(page, want.get('scenario'));
        assert.equal(await page.inputValue('#notices'), 'none');
      });
    });
  }

  it('is rewritten in place on every change, without new history entries', async () => {
    await withLab({ query: '?scenario=ready' }, async (page) => {
      const length = await page.evaluate(() => history.length);
      await page.click('button[data-concept="bench"]');
      assert.equal(await page.evaluate(() => location.search), '?concept=bench&scenario=ready');
      await page.selectOption('#scenario', 'error');
      assert.equal(await page.evaluate(() => location.search), '?concept=bench&scenario=error');
      assert.equal(await page.evaluate(() => history.length), length);
    });
  });
});

describe('scenarios and connection', () => {
  it('every scenario of the select shows its texts and enabled states; "connecting" has no timer', async () => {
    await withLab({ clock: true }, async (page) => {
      for (const name of ['ready', 'error', 'live', 'connecting', 'missing', 'connecting']) {
        await page.selectOption('#scenario', name);
        await page.clock.runFor(5000);
        await assertScenario(page, name);
      }
    });
  });

  it('Connect shows "connecting" at once and "live" after exactly 650 ms; Disconnect returns to ready', async () => {
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      await page.click('#connect');
      await assertScenario(page, 'connecting');
      await page.click('button[data-concept="console"]'); // a concept change keeps the pending connection
      await page.clock.runFor(649);
      await assertScenario(page, 'connecting');
      await page.clock.runFor(1);
      assert.equal((await assertScenario(page, 'live')).search, '?concept=console&scenario=live');
      await page.click('#connect');
      await assertScenario(page, 'ready');
    });
  });

  it('a scenario chosen during the 650 ms wins over the late switch to live', async () => {
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      await page.click('#empty-action');
      await page.clock.runFor(300);
      await page.selectOption('#scenario', 'missing');
      await page.clock.runFor(2000);
      await assertScenario(page, 'missing');
    });
  });

  it('detection, refresh and retry lead through the scenarios; connect is ignored in missing and connecting', async () => {
    await withLab({ clock: true }, async (page) => {
      await page.evaluate(() => document.querySelector('#connect').click());
      await page.clock.runFor(1000);
      await assertScenario(page, 'missing');
      await page.click('#empty-action');
      await assertScenario(page, 'ready');
      for (const from of ['missing', 'error']) {
        await page.selectOption('#scenario', from);
        await page.click('#refresh');
        await assertScenario(page, 'ready');
      }
      await page.selectOption('#scenario', 'connecting');
      await page.evaluate(() => document.querySelector('#connect').click());
      await page.clock.runFor(1000);
      await assertScenario(page, 'connecting');
      for (const retry of ['#connect', '#empty-action']) {
        await page.selectOption('#scenario', 'error');
        await page.click(retry);
        await assertScenario(page, 'connecting');
        await page.clock.runFor(650);
        await assertScenario(page, 'live');
      }
    });
  });
});

describe('sidebar collapse and tabs', () => {
  it('collapses only while live; any scenario change expands it and hides the button', async () => {
    await withLab({ query: '?scenario=live', clock: true }, async (page) => {
      const toggle = () => page.$eval('#sidebar-toggle', (b) =>
        [b.textContent, b.getAttribute('aria-pressed'), b.getAttribute('aria-label'), document.querySelector('.app').dataset.sidebar]);
      assert.deepEqual(await toggle(), ['‹', 'false', 'Collapse connection panel', 'expanded']);
      await page.click('#sidebar-toggle');
      assert.deepEqual(await toggle(), ['›', 'true', 'Expand connection panel', 'collapsed']);
      await page.click('#sidebar-toggle');
      assert.deepEqual(await toggle(), ['‹', 'false', 'Collapse connection panel', 'expanded']);
      await page.click('#sidebar-toggle');
      await page.click('#connect');
      await assertScenario(page, 'ready');
      assert.deepEqual(await toggle(), ['‹', 'false', 'Collapse connection panel', 'expanded']);
      await page.evaluate(() => document.querySelector('#sidebar-toggle').click());
      assert.equal((await snapshot(page)).sidebar, 'expanded');
      await page.click('#connect');
      await page.clock.runFor(650);
      assert.equal((await assertScenario(page, 'live')).sidebar, 'expanded');
      await page.click('#sidebar-toggle');
      await page.selectOption('#scenario', 'live');
      assert.equal((await snapshot(page)).sidebar, 'expanded');
    });
  });

  it('shows one panel and its view label per tab, focuses #tx-mode for Transmit; a scenario change returns to Monitor', async () => {
    const labels = { monitor: 'Receive view', sniffer: 'Sniffer view', objects: 'Object dictionary',
      transmit: 'Transmit view', plots: 'Plots view', daq: 'DAQ acquisition' };
    await withLab({ query: '?scenario=live' }, async (page) => {
      for (const [tab, label] of Object.entries(labels)) {
        await page.click(`#tab-${tab}`);
        if (tab === 'monitor') await page.click('#pause');
        const snap = await snapshot(page);
        assert.deepEqual([snap.tabs, snap.panels, snap.viewLabel], [[`tab-${tab}`], [`${tab}-panel`], label]);
        assert.equal(await page.getAttribute(`#${tab}-panel`, 'aria-labelledby'), `tab-${tab}`);
        const focused = await page.evaluate(() => document.activeElement.id);
        assert.equal(focused, { transmit: 'tx-mode', monitor: 'pause' }[tab] ?? `tab-${tab}`);
      }
      await page.click('button[data-concept="bench"]');
      assert.deepEqual((await snapshot(page)).tabs, ['tab-daq']);
      await page.selectOption('#scenario', 'live');
      const snap = await snapshot(page);
      assert.deepEqual([snap.tabs, snap.panels, snap.viewLabel, snap.pause], [['tab-monitor'], ['monitor-panel'], 'Receive view', 'Pause']);
    });
  });
});

describe('footer, recording and listen-only mode', () => {
  it('shows connection, pause and recording while live', async () => {
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      const reconnect = async () => {
        await page.click('#connect');
        await page.clock.runFor(650);
        return (await snapshot(page)).footer;
      };
      await page.check('#plain-log');
      assert.deepEqual(await reconnect(), ['Connected · 250 kbit/s', 'Simulated recording · quillcan.jsonl + plain-text']);
      await page.click('#pause');
      assert.deepEqual([(await snapshot(page)).pause, (await snapshot(page)).footer[0]], ['Resume', 'Connected · 250 kbit/s · View paused']);
      await page.click('#connect');
      await page.click('#browse-log');
      await page.selectOption('#bitrate', '500 kbit/s');
      await page.uncheck('#plain-log');
      assert.deepEqual(await reconnect(), ['Connected · 500 kbit/s', 'Simulated recording · ~/captures/quillcan.jsonl']);
      assert.equal((await snapshot(page)).pause, 'Pause');
      await page.click('#pause');
      assert.equal((await snapshot(page)).footer[0], 'Connected · 500 kbit/s · View paused');
      await page.click('#connect');
      await page.uncheck('#record');
      assert.deepEqual(await reconnect(), ['Connected · 500 kbit/s', 'No recording active']);
      assert.equal(await page.textContent('.footer-right'), 'SIMULATION · No USB or CAN access');
      assert.match(await page.textContent('.footer-brand'), /^\s*v0\.3\.2\s*$/);
      assert.equal(await page.getAttribute('.footer-brand img.tevolark-mark', 'src'), './tevolark-logo.svg');
    });
  });

  it('listen-only switches the bottom line and the transmit controls at once, and is locked while connected', async () => {
    await withLab({ query: '?scenario=ready', clock: true }, async (page) => {
      const effects = () => page.evaluate(() => [document.querySelector('#mode-summary').textContent,
        ...['#listen-banner', '#tx-send', '#sniffer-tx-add'].map((s) => (s === '#listen-banner' ? !document.querySelector(s).hidden : document.querySelector(s).disabled))]);
      assert.deepEqual(await effects(), ['Active mode', false, false, false]);
      await page.check('#listen');
      assert.deepEqual(await effects(), ['Listen-only / passive', true, true, true]);
      await page.click('#connect');
      assert.equal(await page.isDisabled('#listen'), true);
      await page.clock.runFor(650);
      assert.equal(await page.isDisabled('#listen'), true);
      await page.click('#tab-transmit');
      assert.equal(await page.textContent('#listen-banner'),
        'Listen-only mode is active — transmission is disabled. Clear “Listen-only mode” before connecting to send frames.');
      assert.equal(await page.isVisible('#listen-banner'), true);
      await page.click('#connect');
      await page.uncheck('#listen');
      assert.deepEqual(await effects(), ['Active mode', false, false, false]);
    });
  });
});

describe('concepts', () => {
  it('each concept button sets the frame, the description and the pressed state, keeping the scenario', async () => {
    const descriptions = {
      studio: 'A / Dark studio - familiar left-hand setup, focused traffic workspace, tevolark gold accents.',
      bench: 'B / Light workbench - bright engineering workspace, right-hand inspector, softer visual hierarchy.',
      console: 'C / Wide console - top-docked setup, maximum traffic width, muted green instrument styling.',
    };
    await withLab({ query: '?scenario=error' }, async (page) => {
      assert.equal(await page.textContent('#concept-description'), descriptions.studio);
      for (const concept of ['bench', 'console', 'studio']) {
        await page.click(`button[data-concept="${concept}"]`);
        assert.equal(await page.getAttribute('.app', 'data-concept'), concept);
        assert.equal(await page.textContent('#concept-description'), descriptions[concept]);
        const pressed = await page.$$eval('button[data-concept]', (all) => all.map((b) => b.getAttribute('aria-pressed')));
        assert.deepEqual(pressed, CONCEPTS.map((name) => String(name === concept)));
        await assertScenario(page, 'error');
      }
    });
  });
});
