// WebKitGTK's MiniBrowser through WebKitWebDriver, spoken to in W3C WebDriver
// with fetch, on an Xvfb display of its own. The driver reports neither page
// errors nor console messages, so a page-side recorder collects them from the
// end of each load on; a script that failed during the load shows up as a page
// that never finished its start-up.

import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { writeFile } from 'node:fs/promises';
import { createServer } from 'node:net';
import { setTimeout as sleep } from 'node:timers/promises';
import { chordKeys, expression, recordPageErrors } from './page-script.mjs';

export const name = 'webkit';
export const MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
// The generic faces as Chromium resolves them (sans-serif: Arial, that is
// Liberation Sans here; monospace: the system's), where WebKitGTK would take
// faces of its own.
const SANS_SERIF = 'Liberation Sans';
const MONOSPACE = 'Noto Sans Mono';
// WebDriver's code points of the named keys the checks press; any other key
// is its own character.
const WEBDRIVER_KEYS = {
  Backspace: '\uE003', Tab: '\uE004', Enter: '\uE007', Shift: '\uE008', Escape: '\uE00C',
  End: '\uE010', Home: '\uE011', ArrowLeft: '\uE012', ArrowUp: '\uE013', ArrowRight: '\uE014', ArrowDown: '\uE015',
};
/** The key of an element reference in W3C WebDriver. */
const ELEMENT = 'element-6066-11e4-a52e-4f735466cecf';

/** A loopback port that was free a moment ago. */
async function freePort() {
  const server = createServer().listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address();
  server.close();
  await once(server, 'close');
  return port;
}

/** Starts Xvfb on the first free display and returns { display, stop }. */
async function startXvfb() {
  const child = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1600x1200x24', '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  let text = '';
  for await (const chunk of child.stdio[3]) {
    text += chunk;
    if (text.includes('\n')) break;
  }
  if (!/^\d+\n/.test(text)) throw new Error('Xvfb did not report its display');
  return { display: `:${text.trim()}`, stop: () => stopChild(child) };
}

async function stopChild(child) {
  if (child.exitCode !== null || child.signalCode !== null) return;
  const gone = once(child, 'exit');
  child.kill('SIGTERM');
  const killer = setTimeout(() => child.kill('SIGKILL'), 5000);
  await gone;
  clearTimeout(killer);
}

export async function launch({ downloads }) {
  const xvfb = await startXvfb();
  const port = await freePort();
  const driver = spawn('WebKitWebDriver', [`--port=${port}`], {
    stdio: 'ignore',
    env: { ...process.env, DISPLAY: xvfb.display, XDG_DOWNLOAD_DIR: downloads },
  });
  const base = `http://127.0.0.1:${port}`;
  const call = async (method, route, body) => {
    const response = await fetch(`${base}${route}`, {
      method, headers: { 'content-type': 'application/json' }, body: body && JSON.stringify(body),
    });
    const { value } = await response.json();
    if (value?.error) throw new Error(`WebDriver ${method} ${route}: ${value.error} ${value.message}`);
    return value;
  };
  for (let attempt = 0; ; attempt += 1) {
    try {
      await call('GET', '/status');
      break;
    } catch (error) {
      if (attempt > 200) throw error;
      await sleep(50);
    }
  }
  const { sessionId } = await call('POST', '/session', {
    capabilities: { alwaysMatch: { 'webkitgtk:browserOptions': { binary: MINIBROWSER, args: ['--automation', `--sans-serif-font-family=${SANS_SERIF}`, `--monospace-font-family=${MONOSPACE}`] } } },
  });
  const session = `/session/${sessionId}`;
  const evaluate = async (fn, ...args) => {
    const result = await call('POST', `${session}/execute/async`, {
      script: `const done = arguments[arguments.length - 1];
        Promise.resolve().then(() => ${expression(fn, args)})
          .then((value) => done({ value }), (error) => done({ error: String(error && error.stack || error) }));`,
      args: [],
    });
    if (result.error) throw new Error(result.error);
    return result.value;
  };
  const element = async (selector) => {
    const found = await call('POST', `${session}/element`, { using: 'css selector', value: selector });
    return Object.values(found)[0];
  };
  // Runs `action` with the driver in the document of the frame element `frame` names (when given).
  const within = async (frame, action) => {
    if (!frame) return action();
    await call('POST', `${session}/frame`, { id: { [ELEMENT]: await element(frame) } });
    try {
      return await action();
    } finally {
      await call('POST', `${session}/frame/parent`, {});
    }
  };
  let open = false;
  return {
    async newPage() {
      if (open) throw new Error('the WebKit adapter drives one page at a time');
      open = true;
      const errors = [];
      const collect = async () => {
        try {
          errors.push(...((await evaluate(() => window.engineErrors?.splice(0))) ?? []));
        } catch {
          // no document yet
        }
      };
      const page = {
        errors: async () => {
          await collect();
          return errors;
        },
        // Where MiniBrowser saves a download is its own affair: the page-side
        // record of the offered file is what this engine checks.
        downloaded: null,
        async goto(url) {
          await collect();
          await call('POST', `${session}/url`, { url });
          await evaluate(recordPageErrors);
        },
        async resize(width, height) {
          // The window rectangle includes the browser's own frame: size it,
          // measure the viewport and correct by the difference.
          let [outerWidth, outerHeight] = [width, height];
          let reached;
          for (let round = 0; round < 3; round += 1) {
            await call('POST', `${session}/window/rect`, { width: outerWidth, height: outerHeight });
            // The window takes the size a moment later: wait for the viewport
            // to reach it, or to hold one size for a while.
            const end = performance.now() + 3000;
            for (let steady = 0; steady < 10 && performance.now() < end; await sleep(30)) {
              const now = await evaluate(() => [innerWidth, innerHeight]);
              if (now[0] === width && now[1] === height) {
                reached = now;
                break;
              }
              steady = reached && now[0] === reached[0] && now[1] === reached[1] ? steady + 1 : 0;
              reached = now;
            }
            const [w, h] = reached;
            if (w === width && h === height) return;
            outerWidth += width - w;
            outerHeight += height - h;
          }
          throw new Error(`WebKit viewport did not reach ${width}×${height}, but ${reached.join('×')}`);
        },
        evaluate,
        click: (selector, { frame } = {}) => within(frame, async () => {
          await call('POST', `${session}/element/${await element(selector)}/click`, {});
        }),
        type: (selector, text, { frame } = {}) => within(frame, async () => {
          await call('POST', `${session}/element/${await element(selector)}/value`, { text });
        }),
        async drag(selector, dx, dy) {
          await evaluate((s) => document.querySelector(s).scrollIntoView({ block: 'center' }), selector);
          const origin = { [ELEMENT]: await element(selector) };
          await call('POST', `${session}/actions`, {
            actions: [{
              type: 'pointer', id: 'mouse', parameters: { pointerType: 'mouse' }, actions: [
                { type: 'pointerMove', origin, x: 0, y: 0, duration: 0 },
                { type: 'pointerDown', button: 0 },
                { type: 'pointerMove', origin: 'pointer', x: Math.round(dx / 2), y: Math.round(dy / 2), duration: 50 },
                { type: 'pointerMove', origin: 'pointer', x: dx - Math.round(dx / 2), y: dy - Math.round(dy / 2), duration: 50 },
                { type: 'pointerUp', button: 0 },
              ],
            }],
          });
          await call('DELETE', `${session}/actions`);
        },
        async press(chord) {
          const keys = chordKeys(chord).map((key) => {
            if (!Object.hasOwn(WEBDRIVER_KEYS, key) && key.length > 1) throw new Error(`no WebDriver code for the key ${key}`);
            return WEBDRIVER_KEYS[key] ?? key;
          });
          await call('POST', `${session}/actions`, {
            actions: [{
              type: 'key', id: 'keyboard', actions: [
                ...keys.map((value) => ({ type: 'keyDown', value })),
                ...keys.reverse().map((value) => ({ type: 'keyUp', value })),
              ],
            }],
          });
        },
        async screenshot(file) {
          await writeFile(file, Buffer.from(await call('GET', `${session}/screenshot`), 'base64'));
        },
        async close() {
          open = false;
          await call('POST', `${session}/url`, { url: 'about:blank' });
        },
      };
      await page.resize(1400, 1000);
      return page;
    },
    async close() {
      try {
        await call('DELETE', session);
      } finally {
        await stopChild(driver);
        await xvfb.stop();
      }
    },
  };
}
