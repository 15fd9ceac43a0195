// The Plots tab on the page served by the real launcher: the signal catalogue
// built from the loaded files and its picker, the drawing of a chart (value
// range, labels, thresholds, series), the per-chart settings, zoom and
// grab-pan with their limits, the wheel, and the PNG export read back from
// the downloaded file. Chart state and the catalogue are read on the page's
// own module instance; everything else as a reviewer sees it.

import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { describe, it } from 'node:test';
import { useLab } from './fixture.mjs';
import { dragMouse } from './engines/page-script.mjs';

const { withLab } = useLab();

const LIVE = { query: '?scenario=live' };
const READY = { query: '?scenario=ready' };

const DEFAULT_SIGNALS = [
  'Node 1/Motor current', 'Node 1/Velocity actual value', 'Node 1/Target torque', 'Node 2/Digital inputs',
  'Node 2/Digital outputs', 'EngineStatus/EngineRPM', 'EngineStatus/CoolantTemp', 'BrakeCommand/BrakePressure',
  'BrakeCommand/BrakeActive', 'WheelSpeed/WheelSpeedFL', 'WheelSpeed/WheelSpeedFR', 'ecu/engine.rpm',
  'ecu/engine.load', 'ecu/ignition.advance',
];
const PALETTE = ['#edb059', '#5bd5e8', '#8fe3c0', '#f0a07a', '#c7a0f0', '#e8c35b', '#7ab8f0', '#f08aa0'];
const CHART1_VALUES = ['3.1k', '2.2k', '1.4k', '555', '-279'];
const CHART1_TIMES = ['30s', '20s', '10s', '0s'];

/** "#rrggbb" as the rgb() text that computed styles report. */
const rgb = (hex) => `rgb(${[1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16)).join(', ')})`;
const close = (actual, expected, tolerance, what) =>
  assert.ok(Math.abs(actual - expected) <= tolerance, `${what}: ${actual} is not within ${tolerance} of ${expected}`);

/** Opens the Plots tab and makes the page's module reachable as window.app. */
async function openPlots(page) {
  await page.click('#tab-plots');
  await page.evaluate(async () => {
    window.app = await import(new URL('./app.js', location.href).href);
  });
}

/** Loads files while no connection is open, then goes live (the Plots tab lives in the live workspace). */
async function loadThenGoLive(page, dbcLoads) {
  await page.click('.protocols summary:has-text("DBC")');
  for (let i = 0; i < dbcLoads; i += 1) await page.click('#load-dbc');
  await page.selectOption('#scenario', 'live');
  await openPlots(page);
}

/** The chart as drawn: sizes, labels, grid, thresholds, series, legend and the box's state. */
const drawing = (page) => page.evaluate(() => {
  const svg = document.querySelector('#plot-svg');
  const box = svg.getBoundingClientRect();
  const labels = (anchor) => [...svg.querySelectorAll(`text.axis[text-anchor="${anchor}"]`)];
  const canvas = document.querySelector('.plot-canvas');
  return {
    size: [Math.round(box.width), Math.round(box.height)],
    viewBox: svg.getAttribute('viewBox'),
    clip: [...svg.querySelectorAll('clipPath#plotClip > rect')].map((rect) =>
      ['x', 'y', 'width', 'height'].map((name) => Number(rect.getAttribute(name)))),
    values: labels('end').map((node) => node.textContent),
    times: labels('middle').map((node) => node.textContent),
    grid: [...svg.querySelectorAll('line.grid')].map((line) => Number(line.getAttribute('y1'))),
    thresholds: [...svg.querySelectorAll('line.threshold')].map((line) => ({
      y: Number(line.getAttribute('y1')),
      span: [Number(line.getAttribute('x1')), Number(line.getAttribute('x2'))],
      stroke: getComputedStyle(line).stroke,
      dash: getComputedStyle(line).strokeDasharray,
      clipped: line.hasAttribute('clip-path'),
    })),
    series: [...svg.querySelectorAll('polyline.series')].map((line) => ({
      stroke: line.getAttribute('stroke'),
      clip: line.getAttribute('clip-path'),
      fill: getComputedStyle(line).fill,
      points: line.getAttribute('points').split(' ').map((pair) => pair.split(',').map(Number)),
    })),
    coordinates: [...svg.querySelectorAll('*')].flatMap((node) => [...node.attributes]
      .filter((attr) => /^([xy][12]?|width|height|points)$/.test(attr.name)).flatMap((attr) => attr.value.split(/[ ,]/))),
    legend: [...document.querySelectorAll('#plot-legend .legend-chip')].map((chip) => chip.textContent),
    emptyShown: !document.querySelector('#plot-empty').hidden,
    zoomed: canvas.classList.contains('zoomed'),
    panning: canvas.classList.contains('panning'),
  };
});

/** Picker rows: label, unit, pressed, dot colour. */
const picker = (page) => page.$$eval('#plot-signals .plot-signal', (rows) => rows.map((row) => ({
  label: row.querySelector('.sig-label').textContent,
  unit: row.querySelector('.sig-unit').textContent,
  pressed: row.getAttribute('aria-pressed'),
  dot: getComputedStyle(row.querySelector('.sig-dot')).backgroundColor,
})));

const pickSignal = (page, label, nth = 0) =>
  page.locator('#plot-signals .plot-signal', { has: page.locator('.sig-label', { hasText: label }) }).nth(nth).click();
const chartState = (page, index = 0) => page.evaluate((i) => {
  const { zoom, panX, panY, thresholds, assigned, window: seconds, yrange } = app.charts[i];
  return { zoom, panX, panY, thresholds: [...thresholds], assigned: [...assigned], window: seconds, yrange };
}, index);
const showChart = (page, n) => page.click(`#plot-tabs .plot-tab:text-is("Chart ${n}")`);

/** Pearson correlation of two equally long lists. */
function correlation(xs, ys) {
  const mean = (list) => list.reduce((sum, v) => sum + v, 0) / list.length;
  const [mx, my] = [mean(xs), mean(ys)];
  let [sxy, sxx, syy] = [0, 0, 0];
  xs.forEach((x, i) => {
    sxy += (x - mx) * (ys[i] - my);
    sxx += (x - mx) ** 2;
    syy += (ys[i] - my) ** 2;
  });
  return sxy / Math.sqrt(sxx * syy);
}

/** Drags on the chart from its centre by (dx, dy) in steps; returns while the button is still down when `hold`. */
const drag = async (page, dx, dy, { hold = false, steps = 5 } = {}) =>
  dragMouse(page.mouse, await page.locator('.plot-canvas').boundingBox(), dx, dy, { hold, steps });

describe('signal catalogue and picker', () => {
  it('holds the plottable leaves of the default files in order, coloured and timed by position; judges raw values', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      const signals = await page.evaluate(() => app.derivePlotSignals());
      assert.deepEqual(signals.map((signal) => signal.label), DEFAULT_SIGNALS);
      assert.ok(signals.every((signal) => signal.key === signal.label));
      const byLabel = Object.fromEntries(signals.map((signal) => [signal.label, signal]));
      const expected = {
        'Node 1/Velocity actual value': { base: 1185, amp: 142.2, color: '#5bd5e8', freq: 0.07, phase: 0.5, unit: '' },
        'EngineStatus/EngineRPM': { base: 2480, amp: 297.6, color: '#e8c35b', freq: 0.04, phase: 2.5, unit: 'rpm' },
        'WheelSpeed/WheelSpeedFL': { base: 0, amp: 1, color: '#5bd5e8', freq: 0.16, phase: 1, unit: 'km/h' },
      };
      for (const [label, want] of Object.entries(expected)) {
        const got = byLabel[label];
        assert.equal(got.color, want.color, label);
        assert.equal(got.unit, want.unit, label);
        for (const field of ['base', 'amp', 'freq', 'phase']) close(got[field], want[field], 1e-9, `${label} ${field}`);
      }

      // The picker shows the same list with the palette by position; chart 1 has its two signals.
      const rows = await picker(page);
      assert.deepEqual(rows.map((row) => row.label), DEFAULT_SIGNALS);
      assert.deepEqual(rows.map((row) => row.dot), DEFAULT_SIGNALS.map((_, i) => rgb(PALETTE[i % 8])));
      assert.deepEqual(rows.filter((row) => row.pressed === 'true').map((row) => row.label),
        ['EngineStatus/EngineRPM', 'WheelSpeed/WheelSpeedFL']);
      assert.deepEqual(rows.slice(6, 9).map((row) => row.unit), ['°C', 'kPa', '']);

      const judged = await page.evaluate(() => ({
        values: ['0x04A1', '0X1f', ' 0x10 ', '12.5 rpm', '-3', '0x', '0xZZ', 'abc', '', 'Infinity', 42].map(app.plotValue),
        plottable: [['Speed', 'u16', '1'], ['Flag', 'BOOL', '0'], ['Level', 'f64', '-0.5'], ['Mapped object 1', 'U32', '1', 'TPDO1 Mapping'],
          ['STATUSWORD', 'U16', '1'], ['Number of Entries', 'U8', '2'], ['Name', 'STR', '12'], ['Odd', 'x8', '1'], ['Word', 'u', '1'],
          ['Text', 'u8', 'n/a']].map(([name, type, value, group = 'Group']) => app.isPlottable({ name, type, value }, group)),
      }));
      assert.deepEqual(judged.values, [1185, 31, 16, 12.5, -3, null, null, null, null, null, null]);
      assert.deepEqual(judged.plottable, [true, true, true, false, false, false, false, false, false, false]);
    });
  });

  it('takes the series colours of the concept on show', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      // None of the concepts names colours of its own; one is made to here.
      await page.addStyleTag({ content: '.app[data-concept="bench"] { --series-2: #405060; --series-6: #102030; }' });
      const colours = async () => [(await drawing(page)).series.map((series) => series.stroke),
        (await picker(page)).slice(0, 3).map((row) => row.dot)];
      const shipped = [[PALETTE[5], PALETTE[1]], PALETTE.slice(0, 3).map(rgb)];
      assert.deepEqual(await colours(), shipped);
      await page.click('button[data-concept="bench"]');
      assert.deepEqual(await colours(), [['#102030', '#405060'], [PALETTE[0], '#405060', PALETTE[2]].map(rgb)]);
      await page.click('button[data-concept="studio"]');
      assert.deepEqual(await colours(), shipped);
    });
  });

  it('filters by label in any case and toggles signals on the active chart only', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      await page.fill('#plot-filter', '  WHEEL ');
      assert.deepEqual((await picker(page)).map((row) => row.label), ['WheelSpeed/WheelSpeedFL', 'WheelSpeed/WheelSpeedFR']);
      await pickSignal(page, 'WheelSpeed/WheelSpeedFR');
      await page.fill('#plot-filter', 'enginerpm');
      await pickSignal(page, 'EngineStatus/EngineRPM');
      let view = await drawing(page);
      assert.deepEqual(view.legend, ['WheelSpeed/WheelSpeedFL km/h', 'WheelSpeed/WheelSpeedFR km/h']);
      assert.deepEqual(view.series.map((series) => series.stroke), ['#5bd5e8', '#8fe3c0']);
      assert.equal((await picker(page))[0].pressed, 'false');
      // Re-adding appends at the end of the assignment order.
      await pickSignal(page, 'EngineStatus/EngineRPM');
      assert.deepEqual((await chartState(page)).assigned,
        ['WheelSpeed/WheelSpeedFL', 'WheelSpeed/WheelSpeedFR', 'EngineStatus/EngineRPM']);
      await page.fill('#plot-filter', 'no such signal');
      assert.deepEqual(await picker(page), []);

      await page.fill('#plot-filter', '');
      await showChart(page, 2);
      view = await drawing(page);
      assert.deepEqual([view.legend, view.series.length, view.emptyShown], [[], 0, true]);
      assert.ok((await picker(page)).every((row) => row.pressed === 'false'));
      assert.deepEqual(await page.$$eval('#plot-tabs .plot-tab', (tabs) => tabs.map((tab) => `${tab.textContent}:${tab.getAttribute('aria-selected')}`)),
        Array.from({ length: 8 }, (_, i) => `Chart ${i + 1}:${i === 1}`));
      await pickSignal(page, 'ecu/engine.load');
      assert.deepEqual([(await drawing(page)).legend, (await drawing(page)).emptyShown], [['ecu/engine.load %'], false]);
      await showChart(page, 1);
      assert.equal((await drawing(page)).legend.length, 3);
    });
  });

  it('DBC files loaded later slot in before the A2L signals; colours shift, assignments stay, one key pressed twice', async () => {
    await withLab(READY, async (page) => {
      await page.selectOption('#scenario', 'live');
      await openPlots(page);
      await pickSignal(page, 'ecu/engine.rpm');
      assert.deepEqual((await drawing(page)).series.map((series) => series.stroke), ['#e8c35b', '#5bd5e8', PALETTE[11 % 8]]);

      // body.dbc, then two generated databases that both hold "Message1/Signal1".
      await page.selectOption('#scenario', 'ready');
      await loadThenGoLive(page, 3);
      const signals = await page.evaluate(() => app.derivePlotSignals());
      assert.deepEqual(signals.map((signal) => signal.label), [...DEFAULT_SIGNALS.slice(0, 11), 'DoorStatus/DoorFrontLeft',
        'DoorStatus/DoorFrontRight', 'Message1/Signal1', 'Message1/Signal1', ...DEFAULT_SIGNALS.slice(11)]);
      const rpm = signals.find((signal) => signal.label === 'ecu/engine.rpm');
      assert.deepEqual([rpm.color, rpm.freq.toFixed(2), rpm.phase], [PALETTE[15 % 8], '0.04', 0.5]);
      assert.deepEqual((await chartState(page)).assigned, ['EngineStatus/EngineRPM', 'WheelSpeed/WheelSpeedFL', 'ecu/engine.rpm']);
      assert.deepEqual((await drawing(page)).series.map((series) => series.stroke), ['#e8c35b', '#5bd5e8', PALETTE[15 % 8]]);

      const twins = () => picker(page).then((list) => list.filter((row) => row.label === 'Message1/Signal1').map((row) => row.pressed));
      assert.deepEqual(await twins(), ['false', 'false']);
      await pickSignal(page, 'Message1/Signal1', 1);
      assert.deepEqual(await twins(), ['true', 'true']);
      const view = await drawing(page);
      assert.equal(view.legend[3], 'Message1/Signal1 ');
      // Only the first of the two is drawn, in its own colour.
      assert.deepEqual(view.series.map((series) => series.stroke).slice(3), [PALETTE[13 % 8]]);
      await pickSignal(page, 'Message1/Signal1', 0);
      assert.deepEqual([await twins(), (await drawing(page)).series.length], [['false', 'false'], 3]);
    });
  });
});

describe('drawing', () => {
  it('draws chart 1 at start: value and time labels, a dashed threshold and two clipped series at the box size', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      const view = await drawing(page);
      const [W, H] = view.size;
      assert.ok(W > 500 && H > 240, `chart size ${W} × ${H}`);
      assert.equal(view.viewBox, `0 0 ${W} ${H}`);
      assert.deepEqual(view.clip, [[48, 10, W - 58, H - 36]]);
      assert.deepEqual(view.values, CHART1_VALUES);
      assert.deepEqual(view.times, CHART1_TIMES);
      assert.equal(view.thresholds.length, 1);
      assert.deepEqual(view.thresholds[0].span, [48, W - 10]);
      assert.deepEqual([view.thresholds[0].stroke, view.thresholds[0].dash, view.thresholds[0].clipped],
        [rgb('#ee996d'), '4px, 3px', false]);
      assert.ok(view.thresholds[0].y > view.grid[0] && view.thresholds[0].y < view.grid[1]);

      assert.deepEqual(view.series.map((series) => [series.stroke, series.clip, series.fill, series.points.length]),
        [['#e8c35b', 'url(#plotClip)', 'none', 120], ['#5bd5e8', 'url(#plotClip)', 'none', 120]]);
      const rpm = view.series[0].points;
      close(rpm[0][0], 48, 0.05, 'first point');
      close(rpm[119][0], W - 10, 0.05, 'last point');
      // The curve is the sine of the signal's frequency and phase over 30 s (y grows downwards).
      const wave = rpm.map((_, i) => Math.sin(2 * Math.PI * 0.04 * ((i / 119) * 30) + 2.5));
      assert.ok(correlation(wave, rpm.map(([, y]) => y)) < -0.99999);
      assert.ok(view.coordinates.every((text) => /^-?\d+(\.\d)?$/.test(text)), 'whole numbers or one decimal');

      assert.deepEqual(view.legend, ['EngineStatus/EngineRPM rpm', 'WheelSpeed/WheelSpeedFL km/h']);
      assert.deepEqual([view.emptyShown, view.zoomed], [false, false]);
    });
  });

  it('an empty chart is a grid over -0.1…1.1; thresholds set the range; "＋ Threshold" takes the first signal\'s base', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      await page.click('#plot-threshold');
      let view = await drawing(page);
      assert.deepEqual(view.values, CHART1_VALUES);
      assert.equal(view.thresholds.length, 2);
      assert.ok(view.thresholds[1].y > view.thresholds[0].y, 'the line at 2480 lies below the one at 2600');
      assert.deepEqual((await chartState(page)).thresholds, [2600, 2480]);

      await showChart(page, 2);
      view = await drawing(page);
      assert.deepEqual([view.values, view.emptyShown, view.series.length], [['1.1', '0.8', '0.5', '0.2', '-0.1'], true, 0]);
      await page.click('#plot-threshold');
      view = await drawing(page);
      // One value: the range is widened by 1 each way, then by a tenth.
      assert.deepEqual(view.values, ['1.2', '0.6', '0.0', '-0.6', '-1.2']);
      assert.equal(view.thresholds[0].y, view.grid[2]);
      assert.equal(view.emptyShown, true);

      await pickSignal(page, 'EngineStatus/EngineRPM');
      await page.click('#plot-threshold');
      await pickSignal(page, 'EngineStatus/EngineRPM');
      view = await drawing(page);
      assert.deepEqual(view.values, ['2.7k', '2.0k', '1.2k', '496', '-248']);
      assert.equal(view.thresholds.length, 2);
      assert.deepEqual((await chartState(page, 1)).thresholds, [0, 2480]);
      await showChart(page, 1);
      assert.equal((await drawing(page)).thresholds.length, 2);
    });
  });

  it('the window and the Y-range are settings of each chart', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      await page.selectOption('#plot-window', '10 s');
      let view = await drawing(page);
      assert.deepEqual(view.times, ['10s', '7s', '3s', '0s']);
      const rpm = view.series[0].points;
      const wave = rpm.map((_, i) => Math.sin(2 * Math.PI * 0.04 * ((i / 119) * 10) + 2.5));
      assert.ok(correlation(wave, rpm.map(([, y]) => y)) < -0.99999);

      await showChart(page, 2);
      assert.deepEqual(await page.$eval('#plot-window', (select) => [select.value, select.selectedOptions[0].textContent]), ['30 s', '30 s']);
      await pickSignal(page, 'ecu/engine.load');
      const labels = async () => (await drawing(page)).values.map(Number);
      const auto = await labels();
      assert.ok(auto[4] > 30, `auto range starts near the signal: ${auto}`);
      await page.selectOption('#plot-yrange', 'fixed');
      // From zero: 0 … max, widened by a tenth, so the top label is eleven times the bottom one.
      const fixed = await labels();
      assert.ok(fixed[4] < 0 && Math.abs(fixed[0] / fixed[4] + 11) < 0.3, `from-zero labels ${fixed}`);
      assert.ok(fixed[0] > auto[0]);

      await showChart(page, 1);
      assert.deepEqual(await page.$$eval('#plot-window, #plot-yrange', (selects) => selects.map((select) => select.value)), ['10 s', 'auto']);
      assert.deepEqual(await chartState(page, 1).then(({ window: seconds, yrange }) => [seconds, yrange]), [30, 'fixed']);
    });
  });

  it('the drawing follows the size of its box: window resize and a collapsed sidebar', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      const matches = () => page.waitForFunction(() => {
        const svg = document.querySelector('#plot-svg');
        const box = svg.getBoundingClientRect();
        return svg.getAttribute('viewBox') === `0 0 ${Math.round(box.width)} ${Math.round(box.height)}`;
      });
      const wide = (await drawing(page)).size[0];
      await page.setViewportSize({ width: 1100, height: 1000 });
      await matches();
      const narrow = await drawing(page);
      assert.ok(narrow.size[0] < wide - 200, `${narrow.size[0]} after ${wide}`);
      assert.deepEqual(narrow.values, CHART1_VALUES);
      close(narrow.series[0].points[119][0], narrow.size[0] - 10, 0.05, 'last point after resize');

      await page.click('#sidebar-toggle');
      await page.waitForFunction((before) => document.querySelector('#plot-svg').getBoundingClientRect().width > before + 250, narrow.size[0]);
      await matches();
      const view = await drawing(page);
      close(view.series[0].points[119][0], view.size[0] - 10, 0.05, 'last point after collapsing the sidebar');
    });
  });
});

describe('zoom and grab-pan', () => {
  it('the buttons zoom both axes by 1.3 within 0.25 … 8; Fit and a round trip give the unzoomed view', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      const start = await drawing(page);
      const step = (view) => view.series[0].points[1][0] - view.series[0].points[0][0];
      const rise = (view) => view.series[0].points[40][1] - view.series[0].points[0][1];
      for (let i = 0; i < 2; i += 1) await page.click('#plot-zoom-in');
      let view = await drawing(page);
      close((await chartState(page)).zoom, 1.69, 1e-9, 'zoom after two presses');
      close(step(view) / step(start), 1.69, 0.01, 'time axis');
      close(rise(view) / rise(start), 1.69, 0.01, 'value axis');
      assert.equal(view.zoomed, true);
      // Three presses in and three out come back to exactly 1, though 1.3 ** 3 / 1.3 ** 3 is not 1 in floating point.
      await page.click('#plot-zoom-in');
      for (let i = 0; i < 3; i += 1) await page.click('#plot-zoom-out');
      view = await drawing(page);
      assert.deepEqual([(await chartState(page)).zoom, view.zoomed, view.values, view.times], [1, false, CHART1_VALUES, CHART1_TIMES]);

      const zooms = [];
      for (let i = 0; i < 9; i += 1) {
        await page.click('#plot-zoom-in');
        zooms.push((await chartState(page)).zoom);
      }
      close(zooms[6], 1.3 ** 7, 1e-9, 'seventh press');
      assert.deepEqual(zooms.slice(7), [8, 8]);
      close(step(await drawing(page)) / step(start), 8, 0.05, 'time axis at 8');
      await page.click('#plot-fit');
      view = await drawing(page);
      assert.deepEqual([(await chartState(page)).zoom, view.zoomed, view.values, view.times], [1, false, CHART1_VALUES, CHART1_TIMES]);

      for (let i = 0; i < 7; i += 1) await page.click('#plot-zoom-out');
      assert.equal((await chartState(page)).zoom, 0.25);
      assert.equal((await drawing(page)).zoomed, true);
      // Every chart keeps its own zoom.
      await showChart(page, 2);
      assert.equal((await drawing(page)).zoomed, false);
    });
  });

  it('a drag moves the zoomed view with the pointer but never past the base range', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      const start = await drawing(page);
      const [W] = start.size;
      await drag(page, 40, 30);
      assert.deepEqual(await drawing(page), start, 'no drag at zoom 1');

      for (let i = 0; i < 2; i += 1) await page.click('#plot-zoom-in');
      const zoomed = await drawing(page);
      await drag(page, 20, 10, { hold: true });
      let view = await drawing(page);
      assert.equal(view.panning, true);
      view.series[0].points.forEach(([x, y], i) => {
        close(x - zoomed.series[0].points[i][0], 20, 0.15, `x shift of point ${i}`);
        close(y - zoomed.series[0].points[i][1], 10, 0.15, `y shift of point ${i}`);
      });
      await page.mouse.up();
      assert.equal((await drawing(page)).panning, false);

      // Far right and down: the view stops at time 0 and at the top of the base range.
      await drag(page, 2000, 2000, { steps: 3 });
      view = await drawing(page);
      close(view.series[0].points[0][0], 48, 0.05, 'first point at the left edge');
      assert.equal(view.times[0], '30s');
      assert.equal(view.values[0], CHART1_VALUES[0]);
      // Far left and up: the view stops at the window's end and the bottom of the base range.
      await drag(page, -3000, -3000, { steps: 3 });
      view = await drawing(page);
      close(view.series[0].points[119][0], W - 10, 0.05, 'last point at the right edge');
      assert.equal(view.times[3], '0s');
      assert.equal(view.values[4], CHART1_VALUES[4]);

      await page.click('#plot-fit');
      const state = await chartState(page);
      assert.deepEqual([state.zoom, state.panX, state.panY], [1, 0, 0]);
      assert.deepEqual(await drawing(page), start);
    });
  });

  it('zoomed out, the picture sits in the middle and can be moved inside the view but not out of it', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      const [W, H] = (await drawing(page)).size;
      await page.click('#plot-zoom-out');
      let points = (await drawing(page)).series[0].points;
      close(points[0][0] + points[119][0], 48 + (W - 10), 0.1, 'centred in time');
      close(points[0][0], 48 + ((W - 58) * (1 - 1 / 1.3)) / 2, 0.1, 'left end of the smaller picture');
      await drag(page, 2000, 0, { steps: 3 });
      points = (await drawing(page)).series[0].points;
      close(points[119][0], W - 10, 0.05, 'moved to the right edge');
      await drag(page, -3000, 0, { steps: 3 });
      points = (await drawing(page)).series[0].points;
      close(points[0][0], 48, 0.05, 'moved to the left edge');
      // The values of the zoomed-out picture stay inside the plot area too.
      await drag(page, 0, 3000, { steps: 3 });
      const ys = (await drawing(page)).series.flatMap((series) => series.points.map(([, y]) => y));
      assert.ok(Math.max(...ys) <= H - 26 && Math.min(...ys) >= 10, 'inside the plot area');
    });
  });

  it('the wheel zooms by 1.12 over the chart and leaves the page where it is', async () => {
    await withLab({ ...LIVE, viewport: { width: 1400, height: 700 } }, async (page) => {
      await openPlots(page);
      await page.evaluate(() => window.scrollTo(0, 0));
      const box = await page.locator('.plot-canvas').boundingBox();
      await page.mouse.move(box.x + box.width / 2, Math.min(box.y + 60, 690));
      await page.mouse.wheel(0, -120);
      await page.waitForFunction(() => app.charts[0].zoom !== 1);
      close((await chartState(page)).zoom, 1.12, 1e-9, 'one step up');
      await page.mouse.wheel(0, 120);
      await page.mouse.wheel(0, 120);
      await page.waitForFunction(() => app.charts[0].zoom < 1);
      close((await chartState(page)).zoom, 1 / 1.12, 1e-9, 'two steps down');
      await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
      assert.equal(await page.evaluate(() => window.scrollY), 0);
      // The same wheel over the lab bar scrolls the page.
      await page.mouse.move(200, 30);
      await page.mouse.wheel(0, 120);
      await page.waitForFunction(() => window.scrollY > 0);
      close((await chartState(page)).zoom, 1 / 1.12, 1e-9, 'no zoom outside the chart');
    });
  });
});

/** Width, height and the IHDR fields of a PNG file. */
function pngHeader(bytes) {
  assert.deepEqual([...bytes.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10], 'PNG signature');
  assert.equal(bytes.subarray(12, 16).toString('latin1'), 'IHDR');
  return [bytes.readUInt32BE(16), bytes.readUInt32BE(20)];
}

/** Clicks export (then `meanwhile`, in the same task) and returns the download's name and bytes. */
async function exportPng(page, meanwhile) {
  const [download] = await Promise.all([
    page.waitForEvent('download'),
    page.evaluate((then) => {
      document.querySelector('#plot-export').click();
      if (then) document.querySelectorAll('#plot-tabs .plot-tab')[then].click();
    }, meanwhile),
  ]);
  const bytes = await readFile(await download.path());
  return { name: download.suggestedFilename(), bytes };
}

/** Decodes a PNG in the page: the corner pixel and how many pixels are close to each colour. */
const pixels = (page, bytes, colours) => page.evaluate(async ({ base64, colours: wanted }) => {
  const blob = await (await fetch(`data:image/png;base64,${base64}`)).blob();
  const bitmap = await createImageBitmap(blob);
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  const context = canvas.getContext('2d');
  context.drawImage(bitmap, 0, 0);
  const { data } = context.getImageData(0, 0, bitmap.width, bitmap.height);
  const targets = wanted.map((hex) => [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16)));
  const counts = targets.map(() => 0);
  for (let i = 0; i < data.length; i += 4) {
    targets.forEach(([r, g, b], k) => {
      if (Math.abs(data[i] - r) + Math.abs(data[i + 1] - g) + Math.abs(data[i + 2] - b) < 24) counts[k] += 1;
    });
  }
  return { corner: [...data.subarray(0, 4)], counts };
}, { base64: bytes.toString('base64'), colours });

describe('PNG export', () => {
  for (const [concept, field] of [['studio', [16, 21, 30]], ['bench', [255, 255, 255]]]) {
    it(`${concept}: "chart-1.png" at twice the chart's size on the field colour, with the concept's line colours`, async () => {
      await withLab({ query: `?concept=${concept}&scenario=live` }, async (page) => {
        await openPlots(page);
        const [w, h] = (await drawing(page)).size;
        const { name, bytes } = await exportPng(page);
        assert.equal(name, 'chart-1.png');
        assert.deepEqual(pngHeader(bytes), [2 * w, 2 * h]);
        const { corner, counts } = await pixels(page, bytes, ['#ee996d', '#e8c35b', '#5bd5e8']);
        assert.deepEqual(corner, [...field, 255]);
        // Threshold dashes and both series are in the picture, drawn by the copy's own style rules.
        assert.ok(counts.every((count) => count > 200), `pixels of threshold and series: ${counts}`);
      });
    });
  }

  it('a 700 × 300 chart gives a 1400 × 600 file, named after the chart whose picture it holds', async () => {
    await withLab(LIVE, async (page) => {
      await openPlots(page);
      await page.$eval('#plot-svg', (svg) => {
        svg.style.width = '700px';
        svg.style.height = '300px';
      });
      await page.waitForFunction(() => document.querySelector('#plot-svg').getAttribute('viewBox') === '0 0 700 300');
      // Another chart chosen while the picture is being made does not rename it.
      const first = await exportPng(page, 2);
      assert.deepEqual([first.name, pngHeader(first.bytes)], ['chart-1.png', [1400, 600]]);
      assert.equal(await page.$eval('.plot-tab[aria-selected="true"]', (tab) => tab.textContent), 'Chart 3');
      // Chart 3 is empty: its picture is the bare field colour with grid and labels, no series.
      const third = await exportPng(page);
      assert.equal(third.name, 'chart-3.png');
      const { counts } = await pixels(page, third.bytes, ['#e8c35b', '#5bd5e8']);
      assert.deepEqual(counts, [0, 0]);
    });
  });
});
