// The cross-engine checks in Webkit, against the real launcher.

import * as webkit from './engines/webkit.mjs';
import { engineSuite } from './engines/suite.mjs';

engineSuite(webkit);
