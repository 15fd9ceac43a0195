// The layout audit in Firefox (see layout-audit-suite.mjs): the busy state at
// every tab; the start-up data on the Monitor tab, which shows the sidebar,
// the dock and the lab bar as they first appear; the sidebar collapsed at
// the narrowest and widest window.

import * as firefox from './engines/firefox.mjs';
import { WIDTHS, layoutAuditSuite } from './layout-audit-suite.mjs';

layoutAuditSuite(firefox, {
  startUp: { widths: WIDTHS, tabs: ['monitor'] },
  collapsed: { widths: [WIDTHS[0], WIDTHS.at(-1)], tabs: ['monitor', 'objects', 'plots'] },
});
