// Shared set-up of the browser tests: the real launcher binary and a headless
// Chromium driven by playwright-core, or another engine through its adapter.
//
// Binary: $STUDIO_PREVIEW_BIN (relative paths are taken from the repository
// root), else build/release/studio-preview/studio-preview.

import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { createInterface } from 'node:readline';
import { after, before } from 'node:test';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const REPO_ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const CHROMIUM = '/usr/bin/chromium';
export const CHROMIUM_FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

const BANNER = /^QuillCAN Studio Preview: (http:\/\/127\.0\.0\.1:\d+)\/\?concept=studio&scenario=ready$/;

export function launcherPath() {
  const configured = process.env.STUDIO_PREVIEW_BIN;
  return configured ? path.resolve(REPO_ROOT, configured) : path.join(REPO_ROOT, 'build/release/studio-preview/studio-preview');
}

/**
 * Starts the launcher with --no-open and reads the address from its first
 * line. `exited` resolves to { code, signal }; `stdout` collects its lines;
 * `startedAt` is when the banner arrived (performance.now()).
 */
export async function startLauncher() {
  const bin = launcherPath();
  if (!existsSync(bin)) throw new Error(`no launcher at ${bin}: build it (cmake --preset release && cmake --build --preset release) or set STUDIO_PREVIEW_BIN`);
  const child = spawn(bin, ['--no-open'], { stdio: ['ignore', 'pipe', 'inherit'] });
  const stdout = [];
  let running = true;
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => {
    running = false;
    resolve({ code, signal });
  }));
  const origin = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no banner from the launcher within 15 s')), 15000);
    createInterface({ input: child.stdout }).on('line', (line) => {
      if (stdout.push(line) > 1) return;
      clearTimeout(timer);
      const match = BANNER.exec(line);
      if (match) resolve(match[1]);
      else reject(new Error(`unexpected first launcher line ${JSON.stringify(line)}`));
    });
    child.once('error', reject);
    exited.then(({ code }) => reject(new Error(`launcher ended before its banner, status ${code}`)));
  });
  return {
    origin,
    startedAt: performance.now(),
    url: `${origin}/?concept=studio&scenario=ready`,
    exited,
    stdout,
    isRunning: () => running,
    async stop() {
      if (running) child.kill('SIGINT');
      const killer = setTimeout(() => child.kill('SIGKILL'), 10000);
      const result = await exited;
      clearTimeout(killer);
      return result;
    },
  };
}

export function launchBrowser() {
  return chromium.launch({ executablePath: CHROMIUM, headless: true, args: ['--headless', ...CHROMIUM_FLAGS] });
}

/** The lab's start-up has finished: the connection status is filled in. */
const labStarted = () => document.querySelector('#connection-status')?.childNodes.length > 0;

/**
 * Opens the lab in a fresh browser context at `path` + `query` and waits for
 * `ready` (a page function; by default the lab's start-up). With `clock` the
 * page's timers stand still and move only through page.clock. Page errors and
 * console errors are collected in `errors`.
 */
export async function openLab(browser, launcher, { query = '', path: at = '/', viewport = { width: 1400, height: 1000 }, clock = false, initScript, ready = labStarted } = {}) {
  const context = await browser.newContext({ viewport });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(`pageerror: ${error.message}`));
  page.on('console', (message) => message.type() === 'error' && errors.push(`console: ${message.text()}`));
  if (clock) {
    const start = Date.parse('2026-03-02T10:00:00Z');
    await page.clock.install({ time: start });
    await page.clock.pauseAt(start + 1000);
  }
  if (initScript) await page.addInitScript(initScript);
  await page.goto(`${launcher.origin}${at}${query}`);
  await page.waitForFunction(ready);
  return { context, page, errors };
}

/**
 * Registers a launcher and a browser for the calling test file (or describe
 * block) and returns { launcher, browser, withLab, closeBrowser };
 * withLab(options, body) opens the lab in Chromium, runs body(page, lab) and
 * then checks that the page logged no error. With `engine` (an adapter of
 * engines/) the browser is that engine's, saving downloads into a folder of
 * its own (`downloads`), and `page` is one page of it, opened before the
 * tests. closeBrowser() closes the browser before the end (once).
 */
export function useLab({ engine } = {}) {
  const env = {};
  let closing = null;
  env.closeBrowser = () => (closing ??= env.browser?.close());
  before(async () => {
    env.launcher = await startLauncher();
    if (!engine) {
      env.browser = await launchBrowser();
      return;
    }
    env.downloads = await mkdtemp(path.join(tmpdir(), `quillcan-${engine.name}-`));
    env.browser = await engine.launch({ downloads: env.downloads });
    env.page = await env.browser.newPage();
  });
  after(async () => {
    await env.closeBrowser();
    await env.launcher?.stop();
    if (env.downloads) await rm(env.downloads, { recursive: true, force: true });
  });
  env.withLab = async (options, body) => {
    const lab = await openLab(env.browser, env.launcher, options);
    try {
      await body(lab.page, lab);
      assert.deepEqual(lab.errors, [], 'page errors');
    } finally {
      await lab.context.close();
    }
  };
  return env;
}
