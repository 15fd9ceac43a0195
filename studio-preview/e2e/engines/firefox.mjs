// Firefox ESR through puppeteer-core over WebDriver BiDi (no driver binary).
// Downloads are saved without asking into the suite's download folder.

import { existsSync } from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { expression, pageErrorText } from './page-script.mjs';

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
        click: (selector) => page.click(selector),
        async drag(selector, dx, dy) {
          const box = await (await page.$(selector)).boundingBox();
          const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
          await page.mouse.move(x, y);
          await page.mouse.down();
          await page.mouse.move(x + dx, y + dy, { steps: 4 });
          await page.mouse.up();
        },
        screenshot: (file, { fullPage = false } = {}) => page.screenshot({ path: file, fullPage }),
        close: () => page.close(),
      };
    },
    close: () => browser.close(),
  };
}
