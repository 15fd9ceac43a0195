// Firefox ESR through puppeteer-core over WebDriver BiDi (no driver binary).
// Downloads are saved without asking into the suite's download folder.

import { existsSync } from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { chordKeys, dragMouse, expression, pageErrorText } from './page-script.mjs';

export const name = 'firefox';
export const FIREFOX = '/usr/bin/firefox-esr';

export async function launch({ downloads }) {
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: FIREFOX,
    headless: true,
    extraPrefsFirefox: {
      // The design's font stack ends in the generic sans-serif, which each
      // browser resolves by its own default; Chromium's is Arial (Liberation
      // Sans here), Firefox's the system's (Noto Sans). Same face, same boxes.
      'font.name.sans-serif.x-western': 'Liberation Sans',
      'browser.download.dir': downloads,
      'browser.download.folderList': 2,
      'browser.download.useDownloadDir': true,
      'browser.download.always_ask_before_handling_new_types': false,
      'browser.helperApps.neverAsk.saveToDisk': 'text/csv,image/png',
    },
  });
  return {
    async newPage() {
      const page = await browser.newPage();
      await page.setViewport({ width: 1400, height: 1000 });
      const errors = [];
      // The page, or the document of the frame element `frame` names.
      const within = async (frame) => (frame ? (await page.$(frame)).contentFrame() : page);
      page.on('pageerror', (error) => errors.push(pageErrorText(error.message)));
      page.on('console', (message) => message.type() === 'error' && errors.push(`console: ${message.text()}`));
      return {
        errors: async () => errors,
        downloaded(fileName) {
          const file = path.join(downloads, fileName);
          // Firefox writes into a .part file and renames it when complete.
          return existsSync(file) && !existsSync(`${file}.part`) ? file : undefined;
        },
        goto: (url) => page.goto(url),
        resize: (width, height) => page.setViewport({ width, height }),
        evaluate: (fn, ...args) => page.evaluate(expression(fn, args)),
        async click(selector, { frame } = {}) {
          if (!frame) return page.click(selector);
          // Puppeteer places a click in a frame by the frame's box as laid out, not as drawn: in a
          // scaled frame it would land elsewhere. The element's middle as drawn, from the top document:
          const [x, y] = await page.evaluate((frameSelector, elementSelector) => {
            const holder = document.querySelector(frameSelector);
            const drawn = holder.getBoundingClientRect();
            const scale = drawn.width / holder.offsetWidth;
            const target = holder.contentDocument.querySelector(elementSelector);
            target.scrollIntoView({ block: 'nearest' });
            const box = target.getBoundingClientRect();
            return [drawn.left + (holder.clientLeft + box.left + box.width / 2) * scale,
              drawn.top + (holder.clientTop + box.top + box.height / 2) * scale];
          }, frame, selector);
          return page.mouse.click(x, y);
        },
        type: async (selector, text, { frame } = {}) => (await within(frame)).type(selector, text),
        async press(chord) {
          const keys = chordKeys(chord);
          const held = keys.slice(0, -1);
          for (const key of held) await page.keyboard.down(key);
          await page.keyboard.press(keys.at(-1));
          for (const key of held.reverse()) await page.keyboard.up(key);
        },
        drag: async (selector, dx, dy) => dragMouse(page.mouse, await (await page.$(selector)).boundingBox(), dx, dy),
        screenshot: (file, { fullPage = false } = {}) => page.screenshot({ path: file, fullPage }),
        close: () => page.close(),
      };
    },
    close: () => browser.close(),
  };
}
