// The layout audit in WebKit (see layout-audit-suite.mjs). WebKitGTK under
// WebDriver takes about a second per tab shown, so it sees a sample: the busy
// state at every tab at 800, 960 and 1280 px, where its whole-pixel glyph
// widths make the narrow layouts tightest; the start-up data on the Monitor
// tab (the sidebar, the dock and the lab bar as they first appear) at every
// width; the sidebar collapsed at the narrowest window.

import * as webkit from './engines/webkit.mjs';
import { WIDTHS, layoutAuditSuite } from './layout-audit-suite.mjs';

layoutAuditSuite(webkit, {
  widths: [800, 960, 1280],
  startUp: { widths: WIDTHS, tabs: ['monitor'] },
  collapsed: { widths: [WIDTHS[0]], tabs: ['monitor', 'objects', 'plots'] },
});
