#!/usr/bin/env bash
# Installs what building and testing the preview needs on Debian 12, when it is missing.
#   scripts/setup-debian.sh build   – compiler, CMake, Boost, the media type table
#   scripts/setup-debian.sh test    – the above, plus GoogleTest, clang for fuzzing, Chromium,
#                                     Firefox ESR, WebKitGTK's WebDriver, Xvfb, the fonts the
#                                     engines are compared in, Node.js and the npm packages of the
#                                     browser tests
#   scripts/setup-debian.sh windows – the build set, plus MinGW-w64 and Wine: cross-build the
#                                     Windows executable and run it
#   scripts/setup-debian.sh release – the windows set, plus curl to try what was built
#   scripts/setup-debian.sh bench   – the build set, plus nginx, wrk, hyperfine, curl and perf for
#                                     bench/launcher-vs-nginx.sh (nginx is not started as a service)
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-build}
packages=(g++ cmake ninja-build libboost1.81-dev media-types xdg-utils)
if [ "$what" = test ]; then
    packages+=(googletest libgtest-dev chromium firefox-esr webkit2gtk-driver xvfb xauth
               fonts-liberation fonts-noto-core fonts-noto-mono clang libclang-rt-14-dev)
    command -v node >/dev/null 2>&1 || packages+=(nodejs)
    command -v npm >/dev/null 2>&1 || packages+=(npm)
fi
if [ "$what" = windows ] || [ "$what" = release ]; then
    packages+=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64)
fi
if [ "$what" = release ]; then
    packages+=(curl)
fi
if [ "$what" = bench ]; then
    packages+=(nginx-light wrk hyperfine curl linux-perf)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    # The bench starts nginx itself; its package must not start one on port 80.
    if [ "$what" = bench ] && [ ! -e /usr/sbin/policy-rc.d ] && [ "$(id -u)" -eq 0 ]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod 755 /usr/sbin/policy-rc.d
        trap 'rm -f /usr/sbin/policy-rc.d' EXIT
    fi
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    elif command -v sudo >/dev/null 2>&1; then
        sudo apt-get update -qq
        sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    else
        echo "Missing packages (run as root to install them): ${missing[*]}" >&2
        exit 1
    fi
fi

if [ "$what" = test ] && [ -f package-lock.json ]; then
    npm ci --no-audit --no-fund --loglevel=error
fi
