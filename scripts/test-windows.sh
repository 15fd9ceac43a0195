#!/usr/bin/env bash
# Cross-builds the Windows executable, checks what kind of program it is, then runs the launcher's
# integration tests against it under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    else
        sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    fi
fi
scripts/setup-debian.sh build

# The host build carries the integration tests.
cmake --preset release >/dev/null
cmake --build --preset release --target studio_preview_integration_tests
cmake --preset windows >/dev/null
cmake --build --preset windows
exe=build/windows/studio-preview/studio-preview.exe

# A windowed program that needs nothing beyond the system's own DLLs.
info=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$info" || { echo "not a Windows GUI program" >&2; exit 1; }
system_dlls='^(kernel32|user32|advapi32|shell32|ole32|oleaut32|ws2_32|mswsock|msvcrt|ntdll|gdi32|comctl32|shlwapi|bcrypt|crypt32|iphlpapi|secur32|ucrtbase|api-ms-win-.*)\.dll$'
while read -r dll; do
    if ! grep -qiE "$system_dlls" <<<"$dll"; then
        echo "imports a DLL outside the Windows system set: $dll" >&2
        exit 1
    fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$info")
echo "studio-preview.exe: Windows GUI subsystem; imports: $(sed -n 's/^\s*DLL Name: //p' <<<"$info" | tr '\n' ' ')"

# The executable's icon is the page's icon.
cmp <(tail -c +23 studio-preview/windows/quillcan.ico) studio-preview/web/quillcan-icon.png ||
    { echo "studio-preview/windows/quillcan.ico is stale: run scripts/make-windows-icon.py" >&2; exit 1; }

export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineboot --init >/dev/null 2>&1 || true
STUDIO_PREVIEW_CMD="wine $PWD/$exe" build/release/studio-preview/tests/studio_preview_integration_tests
wineserver -k 2>/dev/null || true
