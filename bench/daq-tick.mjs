// Benchmark: main-thread time of one DAQ acquisition tick, with eight rows
// acquiring (four bound to ECU events, four polled) and the XCP log full (300
// entries), in the real launcher and headless Chromium.
//
//   node bench/daq-tick.mjs      (after building the launcher; STUDIO_PREVIEW_BIN as for the browser tests)
//
// The acquisition is started from the page's controls; the bench then takes
// over the 250 ms timer so that ticks happen only when it asks. Measured as
// every row of bench/frame-budgets.mjs (the tick is run in a task of its own,
// the frame it causes counted, a cycle without a tick subtracted); the target
// is 4 ms.

import { runFrameBudgets } from './frame-budgets.mjs';
import { daqText, daqTick } from './page-rows.mjs';

await runFrameBudgets([daqTick, daqText]);
