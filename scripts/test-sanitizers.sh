#!/usr/bin/env bash
# The launcher's unit and integration tests under AddressSanitizer + UndefinedBehaviorSanitizer and
# under ThreadSanitizer, then fuzzing of the request path and of the name decoding, bounded in time.
# Needs what scripts/test.sh sets up. Each stage prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/stage.sh
. scripts/stage.sh

scripts/setup-debian.sh test
for preset in asan tsan; do
    stage "$preset configure" cmake --preset "$preset" >/dev/null
    stage "$preset build" cmake --build --preset "$preset"
    stage "$preset tests" ctest --preset "$preset"
done
stage "fuzzing" scripts/fuzz.sh
echo "== total: $SECONDS s"
