#!/usr/bin/env bash
# Cross-builds the Windows executable, checks what kind of program it is, then runs the launcher's
# integration tests against it under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-debian.sh windows
. scripts/windows-checks.sh

# The host build carries the integration tests.
cmake --preset release >/dev/null
cmake --build --preset release --target studio_preview_integration_tests
cmake --preset windows >/dev/null
cmake --build --preset windows
exe=build/windows/studio-preview/studio-preview.exe

check_windows_exe "$exe"

# The executable's icon is the page's icon.
cmp <(tail -c +23 studio-preview/windows/quillcan.ico) studio-preview/web/quillcan-icon.png ||
    { echo "studio-preview/windows/quillcan.ico is stale: run scripts/make-windows-icon.py" >&2; exit 1; }

prepare_wine
STUDIO_PREVIEW_CMD="wine $PWD/$exe" build/release/studio-preview/tests/studio_preview_integration_tests
wineserver -k 2>/dev/null || true
