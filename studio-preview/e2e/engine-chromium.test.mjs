// The cross-engine checks in Chromium, against the real launcher.

import * as chromium from './engines/chromium.mjs';
import { engineSuite } from './engines/suite.mjs';

engineSuite(chromium);
