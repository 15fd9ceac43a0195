// The cross-engine checks in Firefox, against the real launcher.

import * as firefox from './engines/firefox.mjs';
import { engineSuite } from './engines/suite.mjs';

engineSuite(firefox);
