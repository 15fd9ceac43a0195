#!/usr/bin/env bash
# Makes what reviewers receive: the Windows executable and the Linux binary of the launcher,
# stripped and named with their version, and their SHA-256 sums, in dist/.
#
# Both are built from the last commit (a copy of it, so that nothing uncommitted or untracked gets
# in), with SOURCE_DATE_EPOCH set to its time. Before anything is written to dist/, each is checked:
# the Windows file is a GUI-subsystem program that imports only system DLLs; both start, serve the
# page and end by themselves once their tab goes quiet (the Windows one under Wine); and a second
# build, from a second copy in another path and clean build folders, gives the same bytes.
#
#   scripts/release.sh                    build twice, check, write dist/
#   scripts/release.sh --reuse-test-builds
#       take the builds the tests just made (build/release, build/windows: clean folders, this
#       commit, the same SOURCE_DATE_EPOCH, as .ci/run does) as the second build
set -euo pipefail
cd "$(dirname "$0")/.."

reuse_test_builds=false
case "${1-}" in
    "") ;;
    --reuse-test-builds) reuse_test_builds=true ;;
    *) echo "usage: scripts/release.sh [--reuse-test-builds]" >&2; exit 2 ;;
esac

fail() {
    echo "release: FAILED: $*" >&2
    exit 1
}

# shellcheck source=scripts/stage.sh
. scripts/stage.sh

# A failed run leaves no dist/ behind that could be taken for its result.
rm -rf dist
scripts/setup-debian.sh release
. scripts/windows-checks.sh

if $reuse_test_builds; then
    [ -f build/release/studio-preview/studio-preview ] && [ -f build/windows/studio-preview/studio-preview.exe ] ||
        fail "--reuse-test-builds needs build/release and build/windows (scripts/test.sh, scripts/test-windows.sh)"
fi
commit=$(git rev-parse HEAD) || fail "not a git checkout: the release is built from the last commit"
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain)" ]; then
    echo "release: note: the working tree has changes; the release is built from the last commit" \
        "$(git rev-parse --short HEAD) without them"
fi

# The two builds live in folders of different lengths, so that a path or its length that found
# its way into a file shows as a difference.
first=build/release-first
second=build/release-second
linux_name=studio-preview
windows_name=studio-preview.exe

# build_copy <folder>: exports the last commit to <folder>/src, builds the launcher for Linux and
# for Windows in clean folders beside it and leaves both, stripped, in <folder>/out.
build_copy() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir/src" "$dir/out"
    git archive --format=tar "$commit" | tar -x -C "$dir/src"
    local src="$dir/src" root=$PWD
    (cd "$src" && cmake --preset release -B "$root/$dir/linux" -DSTUDIO_PREVIEW_TESTS=OFF >/dev/null)
    cmake --build "$dir/linux" --target studio-preview
    (cd "$src" && cmake --preset windows -B "$root/$dir/windows" >/dev/null)
    cmake --build "$dir/windows"
    strip_both "$dir/linux/studio-preview/studio-preview" "$dir/windows/studio-preview/studio-preview.exe" \
        "$dir/out"
}

# strip_both <linux binary> <windows executable> <folder>: stripping a Windows executable writes
# the time into its header, SOURCE_DATE_EPOCH's when it is set.
strip_both() {
    strip --strip-all -o "$3/$linux_name" "$1"
    x86_64-w64-mingw32-strip --strip-all -o "$3/$windows_name" "$2"
}

# serves_and_stops <label> <page folder> <command...>: starts the launcher without a browser and
# checks that it prints its address, answers GET / with the entry document and the launcher marker
# before </head>, answers the heartbeat, and then ends by itself with status 0 and its exit line
# once the heartbeat stops, as when the reviewer closes the tab. Every wait is for a line or an
# answer; the time limits only keep a hung launcher from hanging the release.
serves_and_stops() (
    local label=$1 web=$2
    shift 2
    local log="$first/$label"
    local out pid line port status
    exec {out}< <(exec "$@" --no-open 2>"$log.stderr")
    pid=$!
    # A launcher that fails a check is not left running.
    trap 'kill "$pid" 2>/dev/null || true' EXIT
    IFS= read -r -t 300 line <&"$out" || { cat "$log.stderr" >&2; echo "$label: no address printed" >&2; return 1; }
    local address='^QuillCAN Studio Preview: http://127\.0\.0\.1:([0-9]+)/\?concept=studio&scenario=ready$'
    [[ $line =~ $address ]] || { echo "$label: unexpected first line: $line" >&2; return 1; }
    port=${BASH_REMATCH[1]}
    IFS= read -r -t 300 line <&"$out" || { echo "$label: no quit hint" >&2; return 1; }

    status=$(curl -sS --max-time 300 -o "$log.page" -w '%{http_code}' "http://127.0.0.1:$port/") ||
        { echo "$label: GET / failed" >&2; return 1; }
    [ "$status" = 200 ] || { echo "$label: GET / answered $status" >&2; return 1; }
    # The page as served is the entry document with the marker line inserted before </head>.
    perl -0777 -ne 'print if s{  <meta name="quillcan-studio-launcher" content="1">\n(?=</head>)}{}' \
        "$log.page" | cmp -s - "$web/index.html" ||
        { echo "$label: GET / is not the entry document with the launcher marker" >&2; return 1; }

    status=$(curl -sS --max-time 300 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/__studio/ping") ||
        { echo "$label: the heartbeat request failed" >&2; return 1; }
    [ "$status" = 204 ] || { echo "$label: the heartbeat answered $status" >&2; return 1; }

    # 15 s after this ping the watchdog ends the launcher.
    IFS= read -r -t 300 line <&"$out" || { echo "$label: did not stop after its heartbeat stopped" >&2; return 1; }
    [ "$line" = "No open preview tab — exiting." ] || { echo "$label: unexpected line: $line" >&2; return 1; }
    wait "$pid" && status=0 || status=$?
    trap - EXIT
    exec {out}<&-
    [ "$status" = 0 ] || { echo "$label: exit status $status" >&2; return 1; }
    [ ! -s "$log.stderr" ] || { echo "$label: wrote to standard error:" >&2; cat "$log.stderr" >&2; return 1; }
    echo "$label: started, served the page, stopped by itself with status 0"
)

# check_first_build: what reviewers would receive is what they can start.
check_first_build() {
    check_windows_exe "$first/out/$windows_name" || fail "the Windows executable is not what reviewers can start"
    local carried project
    carried=$(windows_product_version "$first/out/$windows_name")
    project=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$first/windows/CMakeCache.txt")
    [[ $carried =~ ^v[0-9]+(\.[0-9]+)*$ ]] ||
        fail "the executable's version information carries no product version ('$carried')"
    version=${carried#v}
    [ "$version" = "$project" ] || fail "the executable carries $carried but the project's version is" \
        "$project (the resources were not made from CMakeLists.txt's version)"

    prepare_wine
    local web="$first/src/studio-preview/web" linux_check windows_check checks_ok=true
    serves_and_stops linux "$web" "$first/out/$linux_name" >"$first/linux.check" 2>&1 &
    linux_check=$!
    serves_and_stops windows "$web" wine "$PWD/$first/out/$windows_name" >"$first/windows.check" 2>&1 &
    windows_check=$!
    wait "$linux_check" || checks_ok=false
    wait "$windows_check" || checks_ok=false
    cat "$first/linux.check" "$first/windows.check"
    $checks_ok || fail "an executable did not start, serve the page and stop"
}

stage "first build" build_copy "$first"
stage "checks" check_first_build

if $reuse_test_builds; then
    rm -rf "$second"
    mkdir -p "$second/out"
    strip_both build/release/studio-preview/studio-preview build/windows/studio-preview/studio-preview.exe \
        "$second/out"
else
    stage "second build" build_copy "$second"
fi
for f in "$linux_name" "$windows_name"; do
    if ! cmp -s "$first/out/$f" "$second/out/$f"; then
        sha256sum "$first/out/$f" "$second/out/$f" >&2
        $reuse_test_builds && echo "(the test builds must come from clean folders at this commit, with" \
            "SOURCE_DATE_EPOCH set to its time, as .ci/run makes them)" >&2
        fail "$f differs between two builds of the same commit"
    fi
done
echo "both builds are byte for byte the same"

mkdir dist
windows_file=studio-preview-$version-windows-x86_64.exe
linux_file=studio-preview-$version-linux-x86_64
cp "$first/out/$windows_name" "dist/$windows_file"
cp "$first/out/$linux_name" "dist/$linux_file"
(cd dist && sha256sum "$windows_file" "$linux_file" >SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
echo "dist/ (commit $(git rev-parse --short "$commit"), SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
cat dist/SHA256SUMS
