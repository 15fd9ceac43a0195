#!/usr/bin/env bash
# Sets up, builds and starts the preview (it opens the default browser).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh build
cmake --preset release >/dev/null
cmake --build --preset release --target studio-preview
exec build/release/studio-preview/studio-preview "$@"
