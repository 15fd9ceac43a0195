#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time (FUZZ_SECONDS, default 60) from the
# committed seed corpus. Any crash, leak or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}

need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed" || need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
    else
        sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
    fi
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in http_request_fuzzer:http name_lookup_fuzzer:names; do
    name=${target%%:*}
    seeds=studio-preview/fuzz/corpus/${target##*:}
    mkdir -p "$work/$name"
    echo "fuzzing $name for ${seconds}s"
    ASAN_OPTIONS=detect_leaks=1 "build/fuzz/studio-preview/fuzz/$name" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/$name" "$seeds" 2>"$work/$name.log" ||
        { tail -n 60 "$work/$name.log"; echo "fuzzing $name failed" >&2; exit 1; }
    grep -E 'stat::number_of_executed_units|stat::new_units_added' "$work/$name.log" | sed "s/^/  $name /"
done
