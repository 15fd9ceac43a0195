#!/usr/bin/env bash
# Sets up, builds and runs the tests: the launcher's unit and integration tests, then the page's
# tests against the launcher, in Chromium and, for the cross-engine checks, Firefox and WebKit too.
# The sanitizer builds and the fuzzing run in scripts/test-sanitizers.sh; CI (.ci/run) runs both.
# Each stage prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/stage.sh
. scripts/stage.sh

stage "set-up" scripts/setup-debian.sh test
stage "configure" cmake --preset release >/dev/null
stage "release build" cmake --build --preset release
stage "launcher tests" ctest --preset release
# Browser test files share nothing (each starts its own launcher and browser): two at a time.
STUDIO_PREVIEW_BIN="$PWD/build/release/studio-preview/studio-preview" stage "browser tests" npm test
echo "== total: $SECONDS s"
