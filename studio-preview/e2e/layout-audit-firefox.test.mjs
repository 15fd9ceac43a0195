// The layout audit in Firefox (see layout-audit-suite.mjs): every state, tab
// and width.

import * as firefox from './engines/firefox.mjs';
import { layoutAuditSuite } from './layout-audit-suite.mjs';

layoutAuditSuite(firefox);
