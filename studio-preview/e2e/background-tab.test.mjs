// Slow check (about 70 s) of the heartbeat in a hidden background tab.
//
// Chromium throttles the timers of a tab that has been hidden for a while to
// one wake-up a minute, so a 5 s main-thread interval falls silent long enough
// for the launcher to quit under an open tab. Playwright keeps its pages
// "visible"; here a real Chromium runs under Xvfb with a fresh profile, the
// throttling grace period cut to 10 s, about:blank in front and the lab in a
// background tab. The launcher must still run 50 s later and end by itself
// soon after the browser is gone.
//
// Run alone: node --test studio-preview/e2e/background-tab.test.mjs

import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { after, it } from 'node:test';
import { CHROMIUM, CHROMIUM_FLAGS, startLauncher } from './fixture.mjs';

// Throttled pings would fall silent 10 s after the start (the grace period)
// and come once a minute from then on, so the launcher would have quit by about
// 30 s (15 s of silence, found by its 5 s check). A page that never pinged is
// caught by the exit below: that launcher would run on to its 90 s limit.
const KEEP_ALIVE_MS = 50_000;
// The launcher ends 15-20 s after the last ping, which came before the browser stopped; plus a
// second for the launcher's own stop.
const EXIT_WITHIN_MS = 21_000;

const cleanups = [];
after(async () => {
  for (const cleanup of cleanups.reverse()) await cleanup();
});

function startBrowser(profile, url) {
  const child = spawn('xvfb-run', ['--auto-servernum', '--server-args=-screen 0 1280x900x24', CHROMIUM, ...CHROMIUM_FLAGS,
    '--no-default-browser-check', '--password-store=basic', `--user-data-dir=${profile}`,
    '--enable-features=IntensiveWakeUpThrottling:grace_period_seconds/10', 'about:blank', url],
  { detached: true, stdio: 'ignore' });
  const exited = new Promise((resolve) => child.once('exit', resolve));
  const signal = (name) => {
    try {
      process.kill(-child.pid, name); // the whole group: xvfb-run, Xvfb and Chromium
    } catch {
      // already gone
    }
  };
  return {
    exited,
    async stop() {
      signal('SIGTERM');
      const killer = setTimeout(() => signal('SIGKILL'), 5000);
      await exited;
      clearTimeout(killer);
    },
  };
}

it('keeps the launcher alive under a hidden background tab, and lets it go after the browser', { timeout: 240_000 }, async () => {
  const launcher = await startLauncher();
  cleanups.push(() => launcher.stop());
  const profile = await mkdtemp(path.join(tmpdir(), 'quillcan-e2e-profile-'));
  cleanups.push(() => rm(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 300 }));
  const browser = startBrowser(profile, launcher.url);
  cleanups.push(() => browser.stop());

  const start = performance.now();
  const ended = await Promise.race([launcher.exited.then(() => 'launcher'), browser.exited.then(() => 'browser'), sleep(KEEP_ALIVE_MS)]);
  const seconds = Math.round((performance.now() - start) / 1000);
  assert.equal(ended, undefined, `the ${ended} ended after ${seconds} s: ${launcher.stdout.join(' | ')}`);

  await browser.stop();
  const stopped = performance.now();
  const result = await Promise.race([launcher.exited, sleep(EXIT_WITHIN_MS)]);
  assert.ok(result, `launcher still running ${Math.round(performance.now() - stopped)} ms after the browser stopped`);
  assert.deepEqual(result, { code: 0, signal: null });
  assert.equal(launcher.stdout.at(-1), 'No open preview tab — exiting.');
});
