// What every engine adapter shares: how a function and its arguments travel to
// the page, the page-side recorders the checks read back, and the mouse drag
// of the drivers that have a mouse of their own.

/** A script expression that calls `fn` with `args` (JSON values) and yields its result. */
export function expression(fn, args) {
  return `(${fn.toString()})(...${JSON.stringify(args)})`;
}

/**
 * The keys of a chord as the adapters' `press` takes it ("Shift+Tab",
 * "ArrowDown", " "): the keys to hold in order, the pressed key last.
 */
export const chordKeys = (chord) => (chord.length > 1 ? chord.split('+') : [chord]);

export const pageErrorText = (message) => `pageerror: ${message}`;

/**
 * Page-side error recorder for engines whose driver reports neither uncaught
 * errors nor console messages: collects them from the moment it runs.
 */
export function recordPageErrors() {
  if (window.engineErrors) return;
  const errors = (window.engineErrors = []);
  addEventListener('error', (event) => errors.push(`pageerror: ${event.message}`));
  addEventListener('unhandledrejection', (event) => errors.push(`pageerror: ${event.reason}`));
  const original = console.error;
  console.error = (...parts) => {
    errors.push(`console: ${parts.join(' ')}`);
    original.apply(console, parts);
  };
}

/**
 * Drags from the middle of `box` by (dx, dy) in `steps` moves with a driver's
 * mouse (Playwright's and Puppeteer's take the same calls); with `hold` the
 * button stays down at the end.
 */
export async function dragMouse(mouse, box, dx, dy, { steps = 4, hold = false } = {}) {
  const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
  await mouse.move(x, y);
  await mouse.down();
  await mouse.move(x + dx, y + dy, { steps });
  if (!hold) await mouse.up();
}
