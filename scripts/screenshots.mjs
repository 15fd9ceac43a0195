#!/usr/bin/env node
// Screenshots of the lab for looking at it as a reviewer does: every concept ×
// window width × engine × workspace tab, in the busy state (see
// studio-preview/e2e/busy-state.mjs), against the launcher that was built.
// Each picture is the whole page of a window 900 px high, named
// engine-concept-width-tab.png (WebKit: one file per screen, the further ones
// ending in -2, -3, …), in build/screenshots/ (kept out of git).
//
//   node scripts/screenshots.mjs [--out DIR] [--engines chromium,firefox,webkit]
//        [--concepts studio,bench,console] [--widths 800,960,1280,1920]
//        [--tabs monitor,sniffer,objects,transmit,plots,daq] [--state busy|live]
//
// The launcher is $STUDIO_PREVIEW_BIN, else build/release/studio-preview/studio-preview.

import { mkdir, mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { REPO_ROOT, startLauncher } from '../studio-preview/e2e/fixture.mjs';
import { addLabButton, enterBusyState, showTab } from '../studio-preview/e2e/busy-state.mjs';
import { until } from '../studio-preview/e2e/lab.mjs';

const { values } = parseArgs({
  options: {
    out: { type: 'string', default: path.join(REPO_ROOT, 'build/screenshots') },
    engines: { type: 'string', default: 'chromium,firefox,webkit' },
    concepts: { type: 'string', default: 'studio,bench,console' },
    widths: { type: 'string', default: '800,960,1280,1920' },
    tabs: { type: 'string', default: 'monitor,sniffer,objects,transmit,plots,daq' },
    state: { type: 'string', default: 'busy' },
  },
});
const list = (text) => text.split(',').map((item) => item.trim()).filter(Boolean);
const HEIGHT = 900;

/**
 * Saves the whole page as base.png. WebKit's driver captures the viewport
 * only: there each further screen of the page, scrolled down by a window
 * height, goes to base-2.png, base-3.png and so on. Returns the number of files.
 */
async function shoot(page, engine, base) {
  if (engine !== 'webkit') {
    await page.screenshot(`${base}.png`, { fullPage: true });
    return 1;
  }
  const screens = await page.evaluate(() => Math.ceil(document.documentElement.scrollHeight / innerHeight));
  for (let screen = 0; screen < screens; screen += 1) {
    await page.evaluate((y) => new Promise((resolve) => {
      window.scrollTo(0, y);
      requestAnimationFrame(() => requestAnimationFrame(resolve));
    }), screen * HEIGHT);
    await page.screenshot(screen ? `${base}-${screen + 1}.png` : `${base}.png`);
  }
  await page.evaluate(() => window.scrollTo(0, 0));
  return screens;
}

/** Opens the lab in one engine, brings it into the state asked for and shoots every concept, width and tab. */
async function shootEngine(engine, launcher, downloads) {
  const adapter = await import(`../studio-preview/e2e/engines/${engine}.mjs`);
  const browser = await adapter.launch({ downloads });
  let count = 0;
  try {
    const page = await browser.newPage();
    await page.goto(`${launcher.origin}/?concept=studio&scenario=live`);
    await until(page, () => document.querySelector('#connection-status')?.childNodes.length > 0, 'the page\'s start-up');
    await page.evaluate(addLabButton, 'Side by side');
    if (values.state === 'busy') await page.evaluate(enterBusyState);
    await page.evaluate(() => document.fonts.ready.then(() => undefined));
    for (const concept of list(values.concepts)) {
      await page.evaluate((name) => document.querySelector(`button[data-concept="${name}"]`).click(), concept);
      for (const width of list(values.widths).map(Number)) {
        await page.resize(width, HEIGHT);
        for (const tab of list(values.tabs)) {
          await page.evaluate(showTab, tab);
          count += await shoot(page, engine, path.join(values.out, `${engine}-${concept}-${width}-${tab}`));
        }
      }
    }
    const errors = await page.errors();
    if (errors.length) console.error(`${engine}: page errors:\n  ${errors.join('\n  ')}`);
  } finally {
    await browser.close();
  }
  return count;
}

const downloads = await mkdtemp(path.join(tmpdir(), 'quillcan-screenshots-'));
await mkdir(values.out, { recursive: true });
let count = 0;
try {
  for (const engine of list(values.engines)) {
    // A launcher per engine: one ends by itself once the engine before it has closed its tab.
    const launcher = await startLauncher();
    try {
      count += await shootEngine(engine, launcher, downloads);
    } finally {
      await launcher.stop();
    }
    console.log(`${engine}: done`);
  }
} finally {
  await rm(downloads, { recursive: true, force: true });
}
console.log(`${count} screenshots in ${path.relative(process.cwd(), values.out) || '.'}`);
