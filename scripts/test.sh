#!/usr/bin/env bash
# Sets up, builds and runs every test: the launcher's unit and integration tests, then the page's
# tests in a real browser against the launcher.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh test
cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release
# The same tests under AddressSanitizer + UndefinedBehaviorSanitizer, and under ThreadSanitizer.
for preset in asan tsan; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
# Fuzzing of the request path and of the name decoding, bounded in time.
scripts/fuzz.sh
if [ -f package.json ]; then
    STUDIO_PREVIEW_BIN="$PWD/build/release/studio-preview/studio-preview" npm test
fi
