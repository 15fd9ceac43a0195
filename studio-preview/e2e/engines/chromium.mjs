// Chromium through playwright-core: the engine the other two are compared with.

import { launchBrowser } from '../fixture.mjs';
import { dragMouse, expression, pageErrorText } from './page-script.mjs';

export const name = 'chromium';

export async function launch({ downloads }) {
  const browser = await launchBrowser();
  return {
    async newPage() {
      const context = await browser.newContext({ viewport: { width: 1400, height: 1000 }, acceptDownloads: true });
      const page = await context.newPage();
      const errors = [];
      const arrived = new Map();
      page.on('pageerror', (error) => errors.push(pageErrorText(error.message)));
      page.on('console', (message) => message.type() === 'error' && errors.push(`console: ${message.text()}`));
      page.on('download', async (download) => {
        const file = `${downloads}/${download.suggestedFilename()}`;
        await download.saveAs(file);
        arrived.set(download.suggestedFilename(), file);
      });
      return {
        errors: async () => errors,
        downloaded: (fileName) => arrived.get(fileName),
        goto: (url) => page.goto(url),
        resize: (width, height) => page.setViewportSize({ width, height }),
        evaluate: (fn, ...args) => page.evaluate(expression(fn, args)),
        // With `frame`, the selector is looked up in the document of the frame element it names.
        click: (selector, { frame } = {}) => (frame ? page.frameLocator(frame).locator(selector).click() : page.click(selector)),
        type: (selector, text, { frame } = {}) => (frame ? page.frameLocator(frame) : page).locator(selector).pressSequentially(text),
        press: (chord) => page.keyboard.press(chord),
        drag: async (selector, dx, dy) => dragMouse(page.mouse, await page.locator(selector).boundingBox(), dx, dy),
        screenshot: (path, { fullPage = false } = {}) => page.screenshot({ path, fullPage }),
        close: () => context.close(),
      };
    },
    close: () => browser.close(),
  };
}
