// Benchmark: main-thread time of one keystroke in the object tree's filter
// with a large workspace (the sample catalogues plus 60 generated files of
// each type, about 600 tree rows), in the real launcher and headless Chromium.
//
//   node bench/object-tree-filter.mjs      (after building the launcher; STUDIO_PREVIEW_BIN as for the browser tests)
//
// Each keystroke is a real key press in #obj-filter followed by a wait for
// the next frame; a Shift press, which changes nothing, is the baseline.
// Measured as every row of bench/frame-budgets.mjs; the target is 10 ms.

import { runFrameBudgets } from './frame-budgets.mjs';
import { treeFilter } from './page-rows.mjs';

await runFrameBudgets([treeFilter]);
