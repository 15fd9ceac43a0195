// What every engine adapter shares: how a function and its arguments travel to
// the page, and the page-side recorders the checks read back.

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
