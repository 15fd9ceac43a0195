#!/usr/bin/env bash
# Measures the QuillCAN Studio Preview launcher against nginx serving the same five files on
# loopback, with keep-alive and the same number of workers, and optionally against a second
# launcher binary (an earlier build) side by side; prints a table with every server's figures, the
# ratios and the targets. A report, not a test: it exits 0 even when targets are missed (non-zero
# only when it cannot measure at all).
#
# Knobs (environment): BENCH_BASELINE_BIN (a launcher binary to measure side by side with the one
# just built; unset: none), BENCH_SHAPES ("1x16 2x64": wrk threads x connections), BENCH_PATHS
# ("/ /app.js /style.css"), WRK_DURATION (10s), BENCH_ROUNDS (5), BENCH_START_RUNS (20: starts per
# server and round), BENCH_IDLE_SECONDS (30), BENCH_QUIET_WAIT (120: seconds to wait for the
# machine to be quiet before starting, and at most 60 before each load run; 0: do not wait),
# BENCH_REPEATS (2: load runs repeated when other work disturbed them), BENCH_PROFILE (1: CPU time
# and system calls per request of each server with perf).

set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN="$ROOT/build/release/studio-preview/studio-preview"
BASELINE_BIN=${BENCH_BASELINE_BIN:-}
NGINX=/usr/sbin/nginx
START_FETCH_STOP="$ROOT/bench/start-fetch-stop.sh"

read -r -a SHAPES <<<"${BENCH_SHAPES:-1x16 2x64}"
read -r -a PATHS <<<"${BENCH_PATHS:-/ /app.js /style.css}"
WRK_DURATION=${WRK_DURATION:-10s}
ROUNDS=${BENCH_ROUNDS:-5}
REPEATS=${BENCH_REPEATS:-2}
PROFILE=${BENCH_PROFILE:-1}
START_RUNS=${BENCH_START_RUNS:-20}
IDLE_SECONDS=${BENCH_IDLE_SECONDS:-30}
QUIET_WAIT=${BENCH_QUIET_WAIT:-120}
QUIET_STEP=$((QUIET_WAIT < 60 ? QUIET_WAIT : 60)) # the wait before each step
WORKERS=$(nproc)

log() { printf '[bench] %s\n' "$*" >&2; }
die() { printf '[bench] error: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------------------------------------
# Clean-up: every process this script starts is recorded here and stopped on exit.

TMP=""
PIDS=()

forget_pid() {
    local keep=() p
    for p in "${PIDS[@]}"; do [[ $p == "$1" ]] || keep+=("$p"); done
    PIDS=("${keep[@]}")
}

# stop_pid PID SIGNAL: asks the process to stop, gives it 5 s, then kills it; reaps it.
stop_pid() {
    local pid=$1 i
    kill "-${2:-TERM}" "$pid" 2>/dev/null
    for ((i = 0; i < 50; i++)); do
        [[ $(ps -o stat= -p "$pid" 2>/dev/null) == [^Z]* ]] || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    forget_pid "$pid"
}

# Runs a command in the background and waits for it, so that a signal to this script is acted on
# at once (the clean-up then stops the command too).
run_fg() {
    local pid rc
    "$@" &
    pid=$!
    PIDS+=("$pid")
    wait "$pid"
    rc=$?
    forget_pid "$pid"
    return "$rc"
}

# shellcheck disable=SC2317 # invoked by the EXIT trap
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do stop_pid "$pid" TERM; done
    [[ -n $TMP && -d $TMP ]] && rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------------------------
# Prerequisites: the packages (as root), the launcher (incremental build).

if ((EUID == 0)); then
    "$ROOT/scripts/setup-debian.sh" bench >&2 || die "scripts/setup-debian.sh bench failed"
fi
for tool in cmake wrk hyperfine curl "$NGINX"; do
    command -v "$tool" >/dev/null || die "missing $tool (as root: scripts/setup-debian.sh bench)"
done
log "building the launcher (release preset)"
(
    cd "$ROOT" || exit 1
    [[ -f build/release/CMakeCache.txt ]] || cmake --preset release >&2 || exit 1
    cmake --build --preset release --target studio-preview >&2
) || die "the launcher does not build"
[[ -x $BIN ]] || die "no launcher binary at $BIN"
[[ -z $BASELINE_BIN || -x $BASELINE_BIN ]] || die "BENCH_BASELINE_BIN is not an executable: $BASELINE_BIN"

TMP=$(mktemp -d /tmp/launcher-vs-nginx.XXXXXX) || die "mktemp failed"
chmod 755 "$TMP" # nginx workers run as nobody when started by root

# ---------------------------------------------------------------------------------------------
# Small helpers.

# Median of the numbers given as arguments ("nan" for none); the one place medians are taken.
median() {
    printf '%s\n' "$@" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# Smallest and largest of the numbers given, as "min..max".
span() { printf '%s\n' "$@" | sort -g | sed -n '1h; $ { H; x; s/\n/../; p }'; }
# a / b with three decimals ("nan" when either is missing or b is 0).
div() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "nan" || b == "nan" || b + 0 == 0) print "nan"; else printf "%.3f", a / b }'; }
fmt() { awk -v v="$2" -v d="$1" 'BEGIN { if (v == "nan" || v == "") print "-"; else printf "%.*f", d, v }'; }

# A process and its children (nginx: master and workers).
family() { echo "$1"; ps -o pid= --ppid "$1" | tr -d ' '; }
# Resident and proportional set (kB) summed over the given processes.
rss_kb() { local p s=0; for p in "$@"; do s=$((s + $(awk '/^VmRSS:/ { print $2 }' "/proc/$p/status" 2>/dev/null || echo 0))); done; echo "$s"; }
pss_kb() { local p s=0; for p in "$@"; do s=$((s + $(awk '/^Pss:/ { print $2 }' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0))); done; echo "$s"; }
# CPU time in nanoseconds of every thread of the given processes (scheduler accounting).
cpu_ns() { local p; for p in "$@"; do cat /proc/"$p"/task/*/schedstat 2>/dev/null; done | awk '{ s += $1 } END { printf "%d", s }'; }
threads() { awk '/^Threads:/ { print $2 }' "/proc/$1/status"; }

# Machine-wide CPU counters, "busy total" jiffies over all processors; and the percentage of all
# processors that was busy since such a reading, in BUSY.
cpu_counters() { awk '$1 == "cpu" { b = $2 + $3 + $4 + $7 + $8 + $9; print b, b + $5 + $6 }' /proc/stat; }
busy_since() {
    BUSY=$(awk -v a="$1" -v b="$(cpu_counters)" 'BEGIN { split(a, x); split(b, y); t = y[2] - x[2]
        printf "%.0f", (t > 0 ? 100 * (y[1] - x[1]) / t : 0) }')
}
# How busy the machine is over 1 s, in BUSY.
busy_now() {
    local c
    c=$(cpu_counters)
    run_fg sleep 1
    busy_since "$c"
}
# wait_quiet SECONDS: waits up to that long for other work to use at most 10 % of the machine.
wait_quiet() {
    local deadline=$((SECONDS + $1))
    busy_now
    while ((BUSY > 10 && SECONDS < deadline)); do busy_now; done
}

# ---------------------------------------------------------------------------------------------
# Servers: L the launcher just built, B the baseline launcher (if given), N nginx.

SERVERS=(L)
[[ -n $BASELINE_BIN ]] && SERVERS+=(B)
SERVERS+=(N)
declare -A NAME=([L]=launcher [B]=baseline [N]=nginx) PORT PID
declare -A BINARY=([L]=$BIN [B]=$BASELINE_BIN [N]=$NGINX)

# The port a launcher prints in its first line, or nginx's port once it answers.
start_launcher() { # WHO
    local out="$TMP/${NAME[$1]}.out" line=""
    "${BINARY[$1]}" --no-open >"$out" 2>&1 &
    PID[$1]=$!
    PIDS+=("${PID[$1]}")
    until [[ $line == *"http://127.0.0.1:"*/* ]]; do
        kill -0 "${PID[$1]}" 2>/dev/null || die "${NAME[$1]} ended: $(cat "$out")"
        line=$(head -n1 "$out")
    done
    line=${line##*127.0.0.1:}
    PORT[$1]=${line%%/*}
}

# A loopback port nothing listens on (nothing answers a connection to it).
free_port() {
    local port
    for ((port = 20000 + RANDOM % 20000; ; port++)); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
}

WWW="$TMP/www"
write_nginx_conf() { # PORT PREFIX; sets NGINX_CMD, the command line of a non-daemon nginx
    local port=$1 prefix=$2 user_line=""
    mkdir -p "$prefix/tmp"
    ((EUID == 0)) && user_line="user nobody nogroup;"
    cat >"$prefix/nginx.conf" <<EOF
# Generated by bench/launcher-vs-nginx.sh: the five files, loopback, keep-alive, no access log.
$user_line
worker_processes $WORKERS;
pid $prefix/nginx.pid;
error_log $prefix/error.log warn;
events { worker_connections 4096; }
http {
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    access_log off;
    sendfile on;
    tcp_nopush on;
    tcp_nodelay on;
    keepalive_timeout 75s;
    keepalive_requests 1000000;
    server_tokens off;
    client_body_temp_path $prefix/tmp/body;
    proxy_temp_path $prefix/tmp/proxy;
    fastcgi_temp_path $prefix/tmp/fastcgi;
    uwsgi_temp_path $prefix/tmp/uwsgi;
    scgi_temp_path $prefix/tmp/scgi;
    server {
        listen 127.0.0.1:$port;
        root $WWW;
        index index.html;
        add_header Cache-Control no-store;
        location = /__studio/ping { return 204; }
    }
}
EOF
    NGINX_CMD=("$NGINX" -p "$prefix/" -c "$prefix/nginx.conf" -e "$prefix/error.log" -g "daemon off;")
}

start_nginx() {
    PORT[N]=$(free_port)
    write_nginx_conf "${PORT[N]}" "$TMP/nginx"
    "${NGINX_CMD[@]}" &
    PID[N]=$!
    PIDS+=("${PID[N]}")
    curl -sf -o /dev/null --retry 10 --retry-connrefused "http://127.0.0.1:${PORT[N]}/" ||
        die "nginx does not answer: $(cat "$TMP/nginx/error.log" 2>/dev/null)"
}

# A ping every 5 s keeps a launcher's watchdog content (nginx gets the same idle traffic).
start_pinger() { # WHO
    (while curl -s -o /dev/null "http://127.0.0.1:${PORT[$1]}/__studio/ping"; do sleep 5; done) &
    PIDS+=("$!")
}

url() { echo "http://127.0.0.1:${PORT[$1]}$2"; }

# ---------------------------------------------------------------------------------------------
# 1. Every server serving the same bytes. nginx's files are the launcher's own answers, so the
#    entry document carries the launcher's marker in both.

log "waiting up to ${QUIET_WAIT} s for a quiet machine"
wait_quiet "$QUIET_WAIT"
BUSY_BEFORE=$BUSY
((BUSY_BEFORE > 10)) && log "warning: starting on a ${BUSY_BEFORE}% busy machine; figures will be disturbed"

for who in "${SERVERS[@]}"; do [[ $who == N ]] || start_launcher "$who"; done
mkdir -p "$WWW"
FILES=()
for f in "$ROOT"/studio-preview/web/*; do FILES+=("$(basename "$f")"); done
for name in "${FILES[@]}"; do
    path=/$name
    [[ $name == index.html ]] && path=/
    curl -sf -o "$WWW/$name" "$(url L "$path")" || die "the launcher did not serve $path"
done
chmod -R a+rX "$WWW"
start_nginx
for who in "${SERVERS[@]}"; do
    log "${NAME[$who]}: pid ${PID[$who]}, port ${PORT[$who]}"
    start_pinger "$who"
done

content_check="identical"
for name in "${FILES[@]}"; do
    path=/$name
    [[ $name == index.html ]] && path=/
    for who in "${SERVERS[@]}"; do
        curl -s "$(url "$who" "$path")" | cmp -s - "$WWW/$name" || content_check="DIFFERENT for $path from ${NAME[$who]}"
    done
done
log "content served: $content_check"

# ---------------------------------------------------------------------------------------------
# 2. Idle life: resident memory and CPU time over IDLE_SECONDS, with a ping every 5 s, side by side.

wait_quiet "$QUIET_STEP"
declare -A MEMBERS RSS PSS IDLE_CPU LOADED_RSS
for who in "${SERVERS[@]}"; do MEMBERS[$who]=$(family "${PID[$who]}" | tr '\n' ' '); done
declare -A NS0
for who in "${SERVERS[@]}"; do
    # shellcheck disable=SC2086
    RSS[$who]=$(rss_kb ${MEMBERS[$who]})
    # shellcheck disable=SC2086
    PSS[$who]=$(pss_kb ${MEMBERS[$who]})
    # shellcheck disable=SC2086
    NS0[$who]=$(cpu_ns ${MEMBERS[$who]})
done
L_THREADS=$(threads "${PID[L]}")
log "idle: watching every server for ${IDLE_SECONDS} s (pings every 5 s)"
c=$(cpu_counters)
run_fg sleep "$IDLE_SECONDS"
busy_since "$c"
BUSY_IDLE=$BUSY
for who in "${SERVERS[@]}"; do
    # shellcheck disable=SC2086
    IDLE_CPU[$who]=$(awk -v a="${NS0[$who]}" -v b="$(cpu_ns ${MEMBERS[$who]})" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.3f", (b - a) / 1e6 * 30 / s }')
    # The idle figure is the larger of the readings after a few requests and after the idle time.
    # shellcheck disable=SC2086
    r=$(rss_kb ${MEMBERS[$who]})
    ((r > RSS[$who])) && RSS[$who]=$r
    kill -0 "${PID[$who]}" 2>/dev/null || die "${NAME[$who]} ended during the idle time"
done

# ---------------------------------------------------------------------------------------------
# 3. Throughput and latency under load: for each load shape and path, ROUNDS rounds, each round one
#    run per server back to back, the order rotating from round to round. Verdicts are on the
#    median of the per-round ratios: the runs of a round see the same machine, the rounds do not.

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
log "warming up"
for who in "${SERVERS[@]}"; do
    for path in "${PATHS[@]}"; do run_fg wrk -t2 -c64 -d2s "$(url "$who" "$path")" >/dev/null 2>&1; done
done

declare -A RPS P99 SHOWN ERRS
REPEATED=0 DISTURBED=0
for ((r = 0; r < ROUNDS; r++)); do
    order=("${SERVERS[@]:r % ${#SERVERS[@]}}" "${SERVERS[@]:0:r % ${#SERVERS[@]}}")
    for shape in "${SHAPES[@]}"; do
        for path in "${PATHS[@]}"; do
            case="$shape $path"
            for who in "${order[@]}"; do
                out="$TMP/wrk.txt"
                for ((try = 0; ; try++)); do
                    wait_quiet "$QUIET_STEP"
                    pre=$BUSY
                    log "round $((r + 1))/$ROUNDS: wrk -t${shape%x*} -c${shape#*x} $path on ${NAME[$who]}"
                    run_fg wrk -t"${shape%x*}" -c"${shape#*x}" -d"$WRK_DURATION" --latency "$(url "$who" "$path")" >"$out" 2>&1
                    busy_now
                    ((pre <= 10 && BUSY <= 10 || try >= REPEATS)) && break
                    log "other work on the machine (${pre}% before, ${BUSY}% after): repeating the run"
                    REPEATED=$((REPEATED + 1))
                done
                mark=""
                ((pre > 10 || BUSY > 10)) && mark="!" && DISTURBED=$((DISTURBED + 1))
                rps=$(awk '/^Requests\/sec:/ { print $2 }' "$out")
                # wrk prints durations such as 812.00us, 1.23ms, 1.02s: in milliseconds.
                p99=$(awk '$1 == "99%" { n = $2 + 0; u = $2; sub(/^[0-9.]+/, "", u)
                    print (u == "us" ? n / 1000 : u == "s" ? n * 1000 : u == "m" ? n * 60000 : n) }' "$out")
                [[ -n $rps && -n $p99 ]] || die "wrk gave no figures: $(cat "$out")"
                RPS[$who $case]+="$rps " P99[$who $case]+="$p99 "
                SHOWN[$who $case]+="$(fmt 0 "$rps")/$(fmt 1 "$p99")$mark "
                e=$(grep -E 'Socket errors|Non-2xx' "$out" | tr -s ' ' | tr '\n' ';')
                [[ -n $e ]] && ERRS[$who $case]+="round $((r + 1)): $e "
            done
        done
    done
done
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)

# Per-round ratios of the launcher to another server (throughput, or p99 latency).
ratios() { # TABLE OTHER CASE
    local -n table=$1
    # shellcheck disable=SC2206
    local a=(${table[L $3]}) b=(${table[$2 $3]}) i out=""
    for i in "${!a[@]}"; do out+="$(div "${a[i]}" "${b[i]}") "; done
    echo "$out"
}

# Where the time goes, per request: each server's CPU time (all its threads and processes) and
# system calls while wrk -t1 -c16 runs against it alone; and wrk's own CPU time, which says whether
# the figures of that shape measure the server or the load generator (one wrk thread busy all the
# time is one whole processor: the server cannot be asked faster than that).
PROFILE_LINES=()
if ((PROFILE)) && command -v perf >/dev/null; then
    for path in "${PATHS[@]}"; do
        for who in "${SERVERS[@]}"; do
            log "profile: perf stat on ${NAME[$who]} during wrk -t1 -c16 $path"
            perf stat -x, -e task-clock,context-switches,raw_syscalls:sys_enter \
                -p "$(tr ' ' ',' <<<"${MEMBERS[$who]% }")" -o "$TMP/perf.txt" -- sleep 5 >/dev/null 2>&1 &
            perf_pid=$!
            PIDS+=("$perf_pid")
            run_fg perf stat -x, -e task-clock -o "$TMP/perf-wrk.txt" -- \
                wrk -t1 -c16 -d5s "$(url "$who" "$path")" >"$TMP/wrk.txt" 2>&1
            wait "$perf_pid"
            forget_pid "$perf_pid"
            PROFILE_LINES+=("$(awk -F, -v who="${NAME[$who]}" -v path="$path" \
                -v n="$(awk '/requests in/ { print $1 }' "$TMP/wrk.txt")" \
                -v wrk="$(awk -F, '$3 == "task-clock" { print $1 }' "$TMP/perf-wrk.txt")" '
                $3 == "task-clock" { cpu = $1 } $3 == "context-switches" { cs = $1 }
                $3 == "raw_syscalls:sys_enter" { sc = $1 }
                END { if (n > 0 && cpu != "") printf "  %-8s %-10s %7.1f us CPU, %5.2f system calls, %5.2f context switches per request (%d requests in 5 s); wrk %5.1f us CPU per request, %3.0f%% of a processor",
                      who, path, cpu * 1000 / n, sc / n, cs / n, n, wrk * 1000 / n, wrk / 50 }' "$TMP/perf.txt")")
        done
    done
fi

for who in "${SERVERS[@]}"; do
    # shellcheck disable=SC2086
    LOADED_RSS[$who]=$(rss_kb ${MEMBERS[$who]})
done
for pid in "${PIDS[@]}"; do stop_pid "$pid" TERM; done

# ---------------------------------------------------------------------------------------------
# 4. Start-up: hyperfine times a start, the first answer to GET / and a graceful stop of each
#    server (bench/start-fetch-stop.sh), START_RUNS times per round, the order rotating from round
#    to round; and the fetch alone from a running launcher, the part of the figure that is curl's.

NP=$(free_port)
write_nginx_conf "$NP" "$TMP/nginx-start"
start_launcher L
start_pinger L # the fetches alone do not keep its watchdog content
FETCH_PORT=${PORT[L]}
# hyperfine splits each command line as a shell would.
declare -A START_CMD=([L]=$(printf '%q ' "$START_FETCH_STOP" launcher "$BIN")
    [B]=$(printf '%q ' "$START_FETCH_STOP" launcher "$BASELINE_BIN")
    [N]=$(printf '%q ' "$START_FETCH_STOP" nginx "$NP" "${NGINX_CMD[@]}")
    [F]=$(printf '%q ' "$START_FETCH_STOP" fetch "$FETCH_PORT"))
declare -A START
START_SERVERS=("${SERVERS[@]}" F)
NAME[F]="fetch alone"
for ((r = 0; r < ROUNDS; r++)); do
    wait_quiet "$QUIET_STEP"
    order=("${START_SERVERS[@]:r % ${#START_SERVERS[@]}}" "${START_SERVERS[@]:0:r % ${#START_SERVERS[@]}}")
    cmds=()
    for who in "${order[@]}"; do cmds+=(-n "$who" "${START_CMD[$who]}"); done
    log "start-up, round $((r + 1))/$ROUNDS: ${START_RUNS} runs each"
    run_fg hyperfine -N --style none --warmup 2 --runs "$START_RUNS" --export-json "$TMP/start.json" \
        "${cmds[@]}" >/dev/null 2>"$TMP/hyperfine.err" || die "hyperfine failed: $(cat "$TMP/hyperfine.err")"
    # hyperfine's per-command median, in milliseconds.
    while read -r who m; do START[$who]+="$(awk -v s="$m" 'BEGIN { printf "%.3f", s * 1000 }') "; done < <(
        awk '/"command":/ { gsub(/[",]/, "", $2); who = $2 } /"median":/ { gsub(/,/, "", $2); print who, $2 }' "$TMP/start.json")
done
for pid in "${PIDS[@]}"; do stop_pid "$pid" TERM; done

# ---------------------------------------------------------------------------------------------
# 5. Stripped binary sizes (nginx's is the Debian binary, stripped likewise; shared system
#    libraries are not counted for any of them).

declare -A SIZE
for who in "${SERVERS[@]}"; do
    strip -o "$TMP/stripped" "${BINARY[$who]}" 2>/dev/null || cp "${BINARY[$who]}" "$TMP/stripped"
    SIZE[$who]=$(stat -c %s "$TMP/stripped")
done

# ---------------------------------------------------------------------------------------------
# 6. The table.

verdict() { awk -v a="$1" -v op="$2" -v b="$3" 'BEGIN { if (a == "nan") print "-"; else print ((op == ">=" ? a >= b : op == "<=" ? a <= b : a < b) ? "PASS" : "MISS") }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.2f", k / 1024 }'; }
# One line of the table: MEASURE LAUNCHER NGINX L/NGINX TARGET RESULT [BASELINE L/BASELINE]; the
# baseline's columns stand after the launcher's when there is a baseline.
row() {
    if [[ -n $BASELINE_BIN ]]; then
        printf '%-38s %11s %11s %8s %11s %8s   %-14s %s\n' "$1" "$2" "${7:-}" "${8:-}" "$3" "$4" "$5" "$6"
    else
        printf '%-38s %11s %11s %8s   %-14s %s\n' "$1" "$2" "$3" "$4" "$5" "$6"
    fi
}
rule() { printf '%s\n' "--------------------------------------------------------------------------------------------------------------"; }

printf '\nQuillCAN Studio Preview launcher vs nginx %s — %s, %s processors, kernel %s\n' \
    "$("$NGINX" -v 2>&1 | sed 's#.*/##')" "$(date -u '+%Y-%m-%d %H:%M UTC')" "$WORKERS" "$(uname -r)"
printf 'launcher: %s (revision %s%s)%s; nginx: worker_processes %s, sendfile, keep-alive, no access log\n' \
    "${BIN#"$ROOT"/}" "$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')" \
    "$(git -C "$ROOT" diff --quiet HEAD -- studio-preview 2>/dev/null || echo ', working tree modified')" \
    "${BASELINE_BIN:+; baseline: $BASELINE_BIN}" "$WORKERS"
printf 'load: wrk -d%s --latency at threads x connections %s, %s rotating round(s); medians (min..max of the per-round ratios); app.js %s bytes, / %s bytes\n' \
    "$WRK_DURATION" "${SHAPES[*]}" "$ROUNDS" "$(stat -c %s "$WWW/app.js")" "$(stat -c %s "$WWW/index.html")"
printf 'load average (1, 5, 15 min): %s before the load runs, %s after\n' "$LOAD_BEFORE" "$LOAD_AFTER"
printf 'content served by every server: %s\n' "$content_check"
printf 'other work on the machine: %s%% busy before the run, %s%% in the idle window; load runs repeated because of it: %s, still disturbed: %s (marked !)\n' \
    "$BUSY_BEFORE" "$BUSY_IDLE" "$REPEATED" "$DISTURBED"
((BUSY_BEFORE > 10 || BUSY_IDLE > 5 || DISTURBED > 0)) &&
    printf 'WARNING: other work was running on this machine; the figures below are disturbed by it.\n'
printf '\n'

row "measure" "launcher" "nginx" "L/nginx" "target" "result" "baseline" "L/base"
rule
for shape in "${SHAPES[@]}"; do
    for path in "${PATHS[@]}"; do
        case="$shape $path"
        label="-t${shape%x*} -c${shape#*x} GET $path"
        for m in RPS P99; do
            # shellcheck disable=SC2046
            rn=$(ratios "$m" N "$case") rb=$([[ -n $BASELINE_BIN ]] && ratios "$m" B "$case")
            declare -n t=$m
            # shellcheck disable=SC2086
            if [[ $m == RPS ]]; then
                row "$label req/s" "$(fmt 0 "$(median ${t[L $case]})")" "$(fmt 0 "$(median ${t[N $case]})")" \
                    "$(fmt 2 "$(median $rn)")" ">= 1.2x nginx" "$(verdict "$(median $rn)" '>=' 1.2) ($(span $rn))" \
                    "$(fmt 0 "$(median ${t[B $case]:-})")" "$(fmt 2 "$(median $rb)")"
            else
                row "$label p99 (ms)" "$(fmt 2 "$(median ${t[L $case]})")" "$(fmt 2 "$(median ${t[N $case]})")" \
                    "$(fmt 2 "$(median $rn)")" "<= nginx" "$(verdict "$(median $rn)" '<=' 1) ($(span $rn))" \
                    "$(fmt 2 "$(median ${t[B $case]:-})")" "$(fmt 2 "$(median $rb)")"
            fi
            unset -n t
        done
    done
done
# shellcheck disable=SC2086
{
    fetch=$(median ${START[F]})
    own() { awk -v a="$(median ${START[$1]:-})" -v f="$fetch" 'BEGIN { if (a == "nan") print "nan"; else printf "%.3f", a - f }'; }
    row "start, first answer, stop (ms, med)" "$(fmt 2 "$(median ${START[L]})")" "$(fmt 2 "$(median ${START[N]})")" \
        "$(fmt 2 "$(div "$(median ${START[L]})" "$(median ${START[N]})")")" "" "" \
        "$(fmt 2 "$(median ${START[B]:-})")" "$(fmt 2 "$(div "$(median ${START[L]})" "$(median ${START[B]:-})")")"
    row "  less the fetch alone (ms)" "$(fmt 2 "$(own L)")" "$(fmt 2 "$(own N)")" "" "<= 20 ms" "$(verdict "$(own L)" '<=' 20)" \
        "$(fmt 2 "$(own B)")" ""
}
row "idle RSS (MiB)" "$(mib "${RSS[L]}")" "$(mib "${RSS[N]}")" "$(fmt 2 "$(div "${RSS[L]}" "${RSS[N]}")")" \
    "< 8 MiB" "$(verdict "${RSS[L]}" '<' 8192)" "$(mib "${RSS[B]:-0}")" "$(fmt 2 "$(div "${RSS[L]}" "${RSS[B]:-nan}")")"
row "idle CPU (ms per 30 s)" "$(fmt 2 "${IDLE_CPU[L]}")" "$(fmt 2 "${IDLE_CPU[N]}")" \
    "$(fmt 2 "$(div "${IDLE_CPU[L]}" "${IDLE_CPU[N]}")")" "< 10 ms" "$(verdict "${IDLE_CPU[L]}" '<' 10)" \
    "$(fmt 2 "${IDLE_CPU[B]:-nan}")" "$(fmt 2 "$(div "${IDLE_CPU[L]}" "${IDLE_CPU[B]:-nan}")")"
row "stripped binary (MiB)" "$(mib $((SIZE[L] / 1024)))" "$(mib $((SIZE[N] / 1024)))" \
    "$(fmt 2 "$(div "${SIZE[L]}" "${SIZE[N]}")")" "< 3 MiB" "$(verdict "${SIZE[L]}" '<' 3145728)" \
    "$(mib $((${SIZE[B]:-0} / 1024)))" "$(fmt 2 "$(div "${SIZE[L]}" "${SIZE[B]:-nan}")")"
rule
printf 'For information (no target):\n'
row "  idle PSS (MiB)" "$(mib "${PSS[L]}")" "$(mib "${PSS[N]}")" "" "" "" "$(mib "${PSS[B]:-0}")" ""
row "  RSS after the load runs (MiB)" "$(mib "${LOADED_RSS[L]}")" "$(mib "${LOADED_RSS[N]}")" "" "" "" "$(mib "${LOADED_RSS[B]:-0}")" ""
# shellcheck disable=SC2086
printf '  launcher: %s threads when idle; fetch alone %s ms (median); start-up medians per round (ms): %s\n' \
    "$L_THREADS" "$(fmt 2 "$(median ${START[F]})")" "${START[L]}"
printf 'Per round (req/s / p99 ms; the run order rotates each round):\n'
for shape in "${SHAPES[@]}"; do
    for path in "${PATHS[@]}"; do
        for who in "${SERVERS[@]}"; do
            printf '  -t%s -c%s GET %-11s %-8s %s\n' "${shape%x*}" "${shape#*x}" "$path" "${NAME[$who]}" "${SHOWN[$who $shape $path]}"
            [[ -n ${ERRS[$who $shape $path]:-} ]] && printf '    wrk reported errors: %s\n' "${ERRS[$who $shape $path]}"
        done
    done
done
if ((${#PROFILE_LINES[@]})); then
    printf 'Per request under wrk -t1 -c16 (perf stat; the server'\''s CPU, then wrk'\''s own, and the share of one processor wrk used):\n'
    printf '%s\n' "${PROFILE_LINES[@]}"
fi
printf '  idle CPU is scheduler time of all threads (/proc/PID/task/*/schedstat); nginx figures add master and workers.\n'
exit 0
