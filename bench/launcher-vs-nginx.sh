#!/usr/bin/env bash
# Measures the QuillCAN Studio Preview launcher against nginx serving the same five files on
# loopback, with keep-alive and the same number of workers, and prints a table with both servers'
# figures, the ratios and the targets. A report, not a test: it exits 0 even when targets are
# missed (non-zero only when it cannot measure at all).
#
# Knobs (environment): BENCH_SHAPES ("1x16 2x64": wrk threads x connections), BENCH_PATHS
# ("/ /app.js /style.css"), WRK_DURATION (10s), BENCH_ROUNDS (5), BENCH_START_RUNS (20),
# BENCH_IDLE_SECONDS (30), BENCH_QUIET_WAIT (120: seconds to wait for the machine to be quiet
# before starting, and at most 60 before each load run; 0: do not wait), BENCH_REPEATS (2: load runs
# repeated when other work disturbed them), BENCH_PROFILE (1: count CPU time and system calls per
# request of both servers with perf, when it is installed).

set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_DIR="$ROOT/bench"
BIN="$ROOT/build/release/studio-preview/studio-preview"
NGINX=/usr/sbin/nginx

read -r -a SHAPES <<<"${BENCH_SHAPES:-1x16 2x64}"
read -r -a PATHS <<<"${BENCH_PATHS:-/ /app.js /style.css}"
WRK_DURATION=${WRK_DURATION:-10s}
ROUNDS=${BENCH_ROUNDS:-5}
REPEATS=${BENCH_REPEATS:-2}
PROFILE=${BENCH_PROFILE:-1}
START_RUNS=${BENCH_START_RUNS:-20}
IDLE_SECONDS=${BENCH_IDLE_SECONDS:-30}
WORKERS=$(nproc)

log() { printf '[bench] %s\n' "$*" >&2; }
die() { printf '[bench] error: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------------------------------------
# Clean-up: every process this script starts is recorded here and stopped on exit.

TMP=""
PIDS=()
CREATED_POLICY_RC=""

forget_pid() {
    local keep=() p
    for p in "${PIDS[@]}"; do [[ $p == "$1" ]] || keep+=("$p"); done
    PIDS=("${keep[@]}")
}

# Whether a child of this script is still running (an exited, unreaped one is not).
alive() {
    local state
    state=$(sed -E 's/^.*\) ([A-Za-z]).*/\1/' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ -n $state && $state != Z ]]
}

# stop_pid PID SIGNAL: asks the process to stop, waits up to 5 s, then kills it; reaps it.
stop_pid() {
    local pid=$1 sig=${2:-TERM} i
    if alive "$pid"; then
        kill "-$sig" "$pid" 2>/dev/null
        for ((i = 0; i < 100; i++)); do
            alive "$pid" || break
            sleep 0.05
        done
        alive "$pid" && kill -KILL "$pid" 2>/dev/null
    fi
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
    [[ -n $CREATED_POLICY_RC ]] && rm -f "$CREATED_POLICY_RC"
    [[ -n $TMP && -d $TMP ]] && rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------------------------
# Prerequisites.

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
command -v cc >/dev/null || missing+=(gcc)
command -v strip >/dev/null || missing+=(binutils)
command -v curl >/dev/null || missing+=(curl)
command -v wrk >/dev/null || missing+=(wrk)
[[ -x $NGINX ]] || missing+=(nginx-light)
[[ -f /usr/include/boost/version.hpp ]] || missing+=(libboost1.81-dev)
[[ -f /etc/mime.types ]] || missing+=(media-types)
if ((${#missing[@]})); then
    if ((EUID != 0)); then
        die "missing: ${missing[*]} (run as root to install them, or: sudo apt-get install ${missing[*]})"
    fi
    log "installing ${missing[*]}"
    # Keep the package scripts from starting a system-wide nginx on port 80.
    if [[ ! -e /usr/sbin/policy-rc.d ]]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d && chmod 755 /usr/sbin/policy-rc.d &&
            CREATED_POLICY_RC=/usr/sbin/policy-rc.d
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2 ||
        die "apt-get install ${missing[*]} failed"
    [[ -n $CREATED_POLICY_RC ]] && rm -f "$CREATED_POLICY_RC" && CREATED_POLICY_RC=""
fi

# ---------------------------------------------------------------------------------------------
# The launcher (incremental build; a no-op when it is up to date) and the measuring helper.

log "building the launcher (release preset)"
(
    cd "$ROOT" || exit 1
    if [[ ! -f build/release/CMakeCache.txt ]]; then
        cmake --preset release >&2 || exit 1
    fi
    cmake --build --preset release --target studio-preview >&2
) || die "the launcher does not build"
[[ -x $BIN ]] || die "no launcher binary at $BIN"

TMP=$(mktemp -d /tmp/launcher-vs-nginx.XXXXXX) || die "mktemp failed"
chmod 755 "$TMP" # nginx workers run as nobody when started by root

PROBE="$TMP/probe"
cc -O2 -o "$PROBE" "$BENCH_DIR/probe.c" || die "cannot compile bench/probe.c"

# ---------------------------------------------------------------------------------------------
# Small helpers.

# Median of the numbers given as arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {if (NR==0) print "nan"; else if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }

# Resident set (kB) of one process.
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }

# Proportional set (kB) of one process (shared pages split among their users).
pss_kb() { awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup" 2>/dev/null || echo 0; }

# A process and its children (nginx: master and workers).
family() {
    local pid=$1
    echo "$pid"
    cat /proc/"$pid"/task/*/children 2>/dev/null | tr ' ' '\n' | grep -E '^[0-9]+$'
}

# CPU time in nanoseconds spent by every thread of the given processes (scheduler accounting,
# /proc/PID/task/TID/schedstat, first field).
cpu_ns() {
    local pid sum=0 t
    for pid in "$@"; do
        for t in /proc/"$pid"/task/*/schedstat; do
            [[ -r $t ]] || continue
            sum=$((sum + $(cut -d' ' -f1 "$t")))
        done
    done
    echo "$sum"
}

# utime+stime in clock ticks of the given processes (/proc/PID/stat fields 14 and 15).
cpu_ticks() {
    local pid sum=0 rest
    for pid in "$@"; do
        rest=$(sed -E 's/^.*\) //' "/proc/$pid/stat" 2>/dev/null) || continue
        # after the ")" field 3 is the first one, so utime (14) and stime (15) are words 12 and 13
        read -r -a f <<<"$rest"
        sum=$((sum + f[11] + f[12]))
    done
    echo "$sum"
}

fmt0() { awk -v v="$1" 'BEGIN { printf "%.0f", v }'; }
fmt2() { awk -v v="$1" 'BEGIN { if (v == "nan") print "-"; else printf "%.2f", v }'; }
# Duration printed by wrk (e.g. 812.00us, 1.23ms, 1.02s) in milliseconds.
to_ms() {
    awk -v v="$1" 'BEGIN {
        n = v + 0; u = v; sub(/^[0-9.]+/, "", u)
        if (u == "us") n /= 1000; else if (u == "s") n *= 1000; else if (u == "m") n *= 60000
        printf "%.3f", n }'
}

# Machine-wide CPU counters: "busy total" jiffies summed over all processors.
cpu_counters() {
    awk '$1 == "cpu" { busy = $2 + $3 + $4 + $7 + $8 + $9; print busy, busy + $5 + $6 }' /proc/stat
}
# Percentage of all processors busy between two cpu_counters readings.
busy_pct() { # "B0 T0" "B1 T1"
    awk -v a="$1" -v b="$2" 'BEGIN { split(a, x, " "); split(b, y, " ");
        t = y[2] - x[2]; printf "%.0f", (t > 0 ? 100 * (y[1] - x[1]) / t : 0) }'
}

# How busy the machine is over 1 s, in BUSY (called while both servers are idle: that is other
# work).
busy_now() {
    local c0
    c0=$(cpu_counters)
    run_fg sleep 1
    BUSY=$(busy_pct "$c0" "$(cpu_counters)")
}
# Waits up to about a minute for other work to use at most 10 % of the machine (BUSY: last reading).
wait_quiet() {
    local i tries=$((QUIET_WAIT < 60 ? QUIET_WAIT / 2 : 30))
    BUSY=0
    ((tries == 0)) && { busy_now; return; }
    for ((i = 0; i < tries; i++)); do
        busy_now
        ((BUSY <= 10)) && break
        run_fg sleep 1
    done
}

# Other work on this machine disturbs every figure: wait (a while) for a quiet moment.
QUIET_WAIT=${BENCH_QUIET_WAIT:-120}
BUSY_BEFORE=100
for ((waited = 0; waited <= QUIET_WAIT; waited += 2)); do
    c0=$(cpu_counters)
    run_fg sleep 2
    BUSY_BEFORE=$(busy_pct "$c0" "$(cpu_counters)")
    ((BUSY_BEFORE <= 10)) && break
    ((waited == 0)) && log "the machine is ${BUSY_BEFORE}% busy; waiting up to ${QUIET_WAIT} s for it to calm down"
done
((BUSY_BEFORE > 10)) && log "warning: starting on a ${BUSY_BEFORE}% busy machine; figures will be disturbed"

# ---------------------------------------------------------------------------------------------
# Servers.

LAUNCHER_PID="" LAUNCHER_PORT=""
start_launcher() {
    local out="$TMP/launcher.out" i line=""
    "$BIN" --no-open >"$out" 2>&1 &
    LAUNCHER_PID=$!
    PIDS+=("$LAUNCHER_PID")
    for ((i = 0; i < 500; i++)); do
        line=$(head -n1 "$out" 2>/dev/null)
        [[ $line == *"http://127.0.0.1:"* ]] && break
        sleep 0.01
    done
    [[ $line == *"http://127.0.0.1:"* ]] || die "the launcher printed no address: $(cat "$out")"
    LAUNCHER_PORT=$(sed -E 's#.*http://127\.0\.0\.1:([0-9]+)/.*#\1#' <<<"$line")
    log "launcher: pid $LAUNCHER_PID, port $LAUNCHER_PORT ($line)"
}

# Keeps the launcher's watchdog content (and gives nginx the same idle traffic).
PINGER_PIDS=()
start_pinger() {
    "$PROBE" ping-every "$1" /__studio/ping 5 &
    PIDS+=("$!")
    PINGER_PIDS+=("$!")
}

WWW="$TMP/www"
NGINX_PID="" NGINX_PORT=""
write_nginx_conf() { # PORT PREFIX
    local port=$1 prefix=$2 user_line=""
    mkdir -p "$prefix/tmp"
    if ((EUID == 0)); then
        user_line="user nobody nogroup;"
    fi
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
}

nginx_cmd() { # PREFIX: sets NGINX_CMD, the command line of a non-daemon nginx
    NGINX_CMD=("$NGINX" -p "$1/" -c "$1/nginx.conf" -e "$1/error.log" -g "daemon off;")
}

start_nginx() {
    local prefix="$TMP/nginx"
    NGINX_PORT=$("$PROBE" freeport) || die "no free port"
    write_nginx_conf "$NGINX_PORT" "$prefix"
    nginx_cmd "$prefix"
    "${NGINX_CMD[@]}" &
    NGINX_PID=$!
    PIDS+=("$NGINX_PID")
    "$PROBE" wait-port "$NGINX_PORT" 5000 ||
        die "nginx does not answer: $(cat "$prefix/error.log" 2>/dev/null)"
    log "nginx: master pid $NGINX_PID, port $NGINX_PORT, workers: $(family "$NGINX_PID" | tail -n +2 | tr '\n' ' ')"
}

# ---------------------------------------------------------------------------------------------
# 1. Both servers, serving the same bytes. The files for nginx are taken from the launcher's own
#    answers, so the entry document carries the launcher's marker in both.

start_launcher
start_pinger "$LAUNCHER_PORT"

mkdir -p "$WWW"
FILES=()
for f in "$ROOT"/studio-preview/web/*; do [[ -f $f ]] && FILES+=("$(basename "$f")"); done
for name in "${FILES[@]}"; do
    url="http://127.0.0.1:$LAUNCHER_PORT/$name"
    [[ $name == index.html ]] && url="http://127.0.0.1:$LAUNCHER_PORT/"
    code=$(curl -s -o "$WWW/$name" -w '%{http_code}' "$url")
    [[ $code == 200 ]] || { log "warning: launcher answered $code for /$name"; rm -f "$WWW/$name"; }
done
chmod -R a+rX "$WWW"

start_nginx
start_pinger "$NGINX_PORT"

content_check="identical"
for name in "${FILES[@]}"; do
    [[ -f $WWW/$name ]] || continue
    path="/$name"
    [[ $name == index.html ]] && path="/"
    a=$(curl -s "http://127.0.0.1:$LAUNCHER_PORT$path" | sha256sum)
    b=$(curl -s "http://127.0.0.1:$NGINX_PORT$path" | sha256sum)
    [[ $a == "$b" ]] || content_check="DIFFERENT for $path"
done
log "content served by both: $content_check"
APPJS_BYTES=$(stat -c %s "$WWW/app.js" 2>/dev/null || echo "?")
INDEX_BYTES=$(stat -c %s "$WWW/index.html" 2>/dev/null || echo "?")

# A few more requests on one keep-alive connection, then let both settle.
urls=()
for name in "${FILES[@]}"; do urls+=("http://127.0.0.1:$LAUNCHER_PORT/$name"); done
curl -s "${urls[@]}" \
    "http://127.0.0.1:$LAUNCHER_PORT/" "http://127.0.0.1:$LAUNCHER_PORT/__studio/ping" >/dev/null
urls=()
for name in "${FILES[@]}"; do urls+=("http://127.0.0.1:$NGINX_PORT/$name"); done
curl -s "${urls[@]}" \
    "http://127.0.0.1:$NGINX_PORT/" "http://127.0.0.1:$NGINX_PORT/__studio/ping" >/dev/null
sleep 1

# ---------------------------------------------------------------------------------------------
# 2. Idle life: resident memory and CPU time over IDLE_SECONDS, with a ping every 5 s.
#    Both servers idle side by side.

wait_quiet
mapfile -t NGINX_FAMILY < <(family "$NGINX_PID")
L_RSS0=$(rss_kb "$LAUNCHER_PID")
L_PSS0=$(pss_kb "$LAUNCHER_PID")
L_THREADS=$(awk '/^Threads:/ {print $2}' "/proc/$LAUNCHER_PID/status")
N_RSS0=0 N_PSS0=0
for p in "${NGINX_FAMILY[@]}"; do
    N_RSS0=$((N_RSS0 + $(rss_kb "$p")))
    N_PSS0=$((N_PSS0 + $(pss_kb "$p")))
done
L_NS0=$(cpu_ns "$LAUNCHER_PID") L_TK0=$(cpu_ticks "$LAUNCHER_PID")
N_NS0=$(cpu_ns "${NGINX_FAMILY[@]}") N_TK0=$(cpu_ticks "${NGINX_FAMILY[@]}")
log "idle: watching both for ${IDLE_SECONDS} s (pings every 5 s)"
c0=$(cpu_counters)
run_fg sleep "$IDLE_SECONDS"
BUSY_IDLE=$(busy_pct "$c0" "$(cpu_counters)")
L_NS1=$(cpu_ns "$LAUNCHER_PID") L_TK1=$(cpu_ticks "$LAUNCHER_PID")
N_NS1=$(cpu_ns "${NGINX_FAMILY[@]}") N_TK1=$(cpu_ticks "${NGINX_FAMILY[@]}")
L_RSS1=$(rss_kb "$LAUNCHER_PID")
N_RSS1=0
for p in "${NGINX_FAMILY[@]}"; do N_RSS1=$((N_RSS1 + $(rss_kb "$p"))); done
alive "$LAUNCHER_PID" || die "the launcher quit during the idle period"

TICK_MS=$(awk -v h="$(getconf CLK_TCK)" 'BEGIN {print 1000 / h}')
SCHEDSTAT=1
[[ -r /proc/$LAUNCHER_PID/schedstat ]] || SCHEDSTAT=0
L_IDLE_TICKS_MS=$(awk -v a="$L_TK0" -v b="$L_TK1" -v t="$TICK_MS" 'BEGIN {printf "%.0f", (b - a) * t}')
N_IDLE_TICKS_MS=$(awk -v a="$N_TK0" -v b="$N_TK1" -v t="$TICK_MS" 'BEGIN {printf "%.0f", (b - a) * t}')
if ((SCHEDSTAT)); then
    L_IDLE_CPU=$(awk -v a="$L_NS0" -v b="$L_NS1" -v s="$IDLE_SECONDS" 'BEGIN {printf "%.3f", (b - a) / 1e6 * 30 / s}')
    N_IDLE_CPU=$(awk -v a="$N_NS0" -v b="$N_NS1" -v s="$IDLE_SECONDS" 'BEGIN {printf "%.3f", (b - a) / 1e6 * 30 / s}')
else
    L_IDLE_CPU=$(awk -v v="$L_IDLE_TICKS_MS" -v s="$IDLE_SECONDS" 'BEGIN {printf "%.3f", v * 30 / s}')
    N_IDLE_CPU=$(awk -v v="$N_IDLE_TICKS_MS" -v s="$IDLE_SECONDS" 'BEGIN {printf "%.3f", v * 30 / s}')
fi
# The idle figure is the larger of the two readings (after a few requests, and 30 s later).
L_RSS=$((L_RSS0 > L_RSS1 ? L_RSS0 : L_RSS1))
N_RSS=$((N_RSS0 > N_RSS1 ? N_RSS0 : N_RSS1))

# ---------------------------------------------------------------------------------------------
# 3. Throughput and latency under load: for each load shape and path, ROUNDS rounds, each round one
#    run per server back to back, the order alternating from round to round. Verdicts are on the
#    median of the per-round ratios: the two runs of a round see the same machine, the rounds do
#    not.

run_wrk() { # THREADS CONNECTIONS PORT PATH OUTFILE
    run_fg wrk -t"$1" -c"$2" -d"$WRK_DURATION" --latency "http://127.0.0.1:$3$4" >"$5" 2>&1
}

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
log "warming up both servers"
for port in "$LAUNCHER_PORT" "$NGINX_PORT"; do
    for path in "${PATHS[@]}"; do
        run_fg wrk -t2 -c64 -d2s "http://127.0.0.1:$port$path" >/dev/null 2>&1
    done
done

# A run with other work going on just before or just after it is repeated (REPEATS times at most);
# one still disturbed is marked "!" in the per-round figures.
REPEATED=0 DISTURBED=0
declare -A RPS P99 SHOW_RPS SHOW_P99 ERRS RATIOS
CASES=()
for shape in "${SHAPES[@]}"; do
    for path in "${PATHS[@]}"; do
        CASES+=("$shape $path")
        for who in L N; do
            RPS[$who $shape $path]="" P99[$who $shape $path]="" SHOW_RPS[$who $shape $path]=""
            SHOW_P99[$who $shape $path]="" ERRS[$who $shape $path]=""
        done
        RATIOS[$shape $path]="" RATIOS[p99 $shape $path]=""
    done
done
for ((r = 1; r <= ROUNDS; r++)); do
    order=(L N)
    ((r % 2 == 0)) && order=(N L)
    for case in "${CASES[@]}"; do
        read -r shape path <<<"$case"
        threads=${shape%x*} conns=${shape#*x}
        declare -A this_rps=() this_p99=()
        for who in "${order[@]}"; do
            port=$LAUNCHER_PORT
            [[ $who == N ]] && port=$NGINX_PORT
            out="$TMP/wrk.$who.$shape.${path//\//_}.$r.txt"
            for ((try = 0; ; try++)); do
                wait_quiet
                pre=$BUSY
                log "round $r/$ROUNDS: wrk -t$threads -c$conns $path on $([[ $who == L ]] && echo launcher || echo nginx)"
                run_wrk "$threads" "$conns" "$port" "$path" "$out"
                busy_now
                post=$BUSY
                ((pre <= 10 && post <= 10)) && break
                ((try >= REPEATS)) && break
                log "other work on the machine (${pre}% before, ${post}% after): repeating the run"
                REPEATED=$((REPEATED + 1))
            done
            mark=""
            if ((pre > 10 || post > 10)); then
                mark="!"
                DISTURBED=$((DISTURBED + 1))
            fi
            rps=$(awk '/^Requests\/sec:/ {print $2}' "$out")
            p99=$(awk '$1 == "99%" {print $2}' "$out")
            [[ -n $rps && -n $p99 ]] || die "wrk gave no figures: $(cat "$out")"
            this_rps[$who]=$rps
            this_p99[$who]=$(to_ms "$p99")
            RPS[$who $case]+="$rps "
            P99[$who $case]+="${this_p99[$who]} "
            SHOW_RPS[$who $case]+="$(fmt0 "$rps")$mark "
            SHOW_P99[$who $case]+="$(fmt2 "${this_p99[$who]}")$mark "
            e=$(grep -E 'Socket errors|Non-2xx' "$out" | tr -s ' ' | tr '\n' ';')
            [[ -n $e ]] && ERRS[$who $case]+="round $r: $e "
        done
        RATIOS[$case]+="$(awk -v a="${this_rps[L]}" -v b="${this_rps[N]}" 'BEGIN { printf "%.3f", a / b }') "
        RATIOS[p99 $case]+="$(awk -v a="${this_p99[L]}" -v b="${this_p99[N]}" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }') "
    done
done
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
declare -A RPS_M P99_M RATIO_M RATIO_MIN RATIO_MAX P99R_M P99R_MIN P99R_MAX
for case in "${CASES[@]}"; do
    for who in L N; do
        # shellcheck disable=SC2086
        RPS_M[$who $case]=$(median ${RPS[$who $case]})
        # shellcheck disable=SC2086
        P99_M[$who $case]=$(median ${P99[$who $case]})
    done
    # shellcheck disable=SC2086
    RATIO_M[$case]=$(median ${RATIOS[$case]})
    RATIO_MIN[$case]=$(printf '%s\n' ${RATIOS[$case]} | sort -g | head -n1)
    RATIO_MAX[$case]=$(printf '%s\n' ${RATIOS[$case]} | sort -g | tail -n1)
    # shellcheck disable=SC2086
    P99R_M[$case]=$(median ${RATIOS[p99 $case]})
    P99R_MIN[$case]=$(printf '%s\n' ${RATIOS[p99 $case]} | sort -g | head -n1)
    P99R_MAX[$case]=$(printf '%s\n' ${RATIOS[p99 $case]} | sort -g | tail -n1)
done

# Where the time goes, per request: each server's CPU time (all its threads and processes) and
# system calls while wrk -t1 -c16 runs against it alone.
PROFILE_LINES=()
if ((PROFILE)) && command -v perf >/dev/null; then
    for path in "${PATHS[@]}"; do
        for who in L N; do
            if [[ $who == L ]]; then
                port=$LAUNCHER_PORT
                targets=$LAUNCHER_PID
            else
                port=$NGINX_PORT
                targets=$(family "$NGINX_PID" | paste -sd,)
            fi
            log "profile: perf stat on $([[ $who == L ]] && echo launcher || echo nginx) during wrk -t1 -c16 $path"
            perf stat -x, -e task-clock,context-switches,raw_syscalls:sys_enter -p "$targets" \
                -o "$TMP/perf.$who.txt" -- sleep 5 >/dev/null 2>&1 &
            perf_pid=$!
            PIDS+=("$perf_pid")
            run_fg wrk -t1 -c16 -d5s "http://127.0.0.1:$port$path" >"$TMP/wrk.profile.txt" 2>&1
            wait "$perf_pid"
            forget_pid "$perf_pid"
            reqs=$(awk '/requests in/ {print $1}' "$TMP/wrk.profile.txt")
            PROFILE_LINES+=("$(awk -F, -v who="$([[ $who == L ]] && echo launcher || echo nginx)" \
                -v path="$path" -v n="${reqs:-0}" '
                $3 == "task-clock" { cpu = $1 } $3 == "context-switches" { cs = $1 }
                $3 == "raw_syscalls:sys_enter" { sc = $1 }
                END { if (n > 0 && cpu != "") printf "  %-8s %-10s %7.1f us CPU, %5.2f system calls, %5.2f context switches per request (%d requests in 5 s)",
                      who, path, cpu * 1000 / n, sc / n, cs / n, n }' "$TMP/perf.$who.txt")")
        done
    done
fi

L_RSS_LOADED=$(rss_kb "$LAUNCHER_PID")
N_RSS_LOADED=0
for p in $(family "$NGINX_PID"); do N_RSS_LOADED=$((N_RSS_LOADED + $(rss_kb "$p"))); done

for p in "${PINGER_PIDS[@]}"; do stop_pid "$p" TERM; done
stop_pid "$LAUNCHER_PID" INT
stop_pid "$NGINX_PID" QUIT

# ---------------------------------------------------------------------------------------------
# 4. Time from exec to the first complete 200 answer to GET /.

wait_quiet
log "start-up: $START_RUNS launcher runs"
run_fg "$PROBE" first-response "$START_RUNS" --banner -- "$BIN" --no-open >"$TMP/start.L.txt" ||
    die "start-up runs failed: $(cat "$TMP/start.L.txt")"
wait_quiet
log "start-up: $START_RUNS nginx runs"
NP=$("$PROBE" freeport)
write_nginx_conf "$NP" "$TMP/nginx-start"
nginx_cmd "$TMP/nginx-start"
run_fg "$PROBE" first-response "$START_RUNS" --port "$NP" -- "${NGINX_CMD[@]}" \
    >"$TMP/start.N.txt" 2>&1 || log "warning: nginx start-up runs failed: $(cat "$TMP/start.N.txt")"
summary_field() { # FILE NAME: a name=value field of the probe's summary line
    awk -v k="$2" '$1 == "summary" { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == k) print kv[2] } }' "$1"
}
L_START=$(summary_field "$TMP/start.L.txt" median_ms)
L_START_MAX=$(summary_field "$TMP/start.L.txt" max_ms)
L_START_MIN=$(summary_field "$TMP/start.L.txt" min_ms)
L_BANNER=$(summary_field "$TMP/start.L.txt" banner_median_ms)
L_BAD_EXITS=$(summary_field "$TMP/start.L.txt" bad_exits)
N_START=$(summary_field "$TMP/start.N.txt" median_ms)
N_START=${N_START:-nan}

# ---------------------------------------------------------------------------------------------
# 5. Stripped binary size (nginx's is the Debian binary, stripped likewise; both link shared
#    system libraries that are not counted).

strip -o "$TMP/studio-preview.stripped" "$BIN" || die "strip failed"
strip -o "$TMP/nginx.stripped" "$NGINX" 2>/dev/null || cp "$NGINX" "$TMP/nginx.stripped"
L_BIN=$(stat -c %s "$TMP/studio-preview.stripped")
N_BIN=$(stat -c %s "$TMP/nginx.stripped")

# ---------------------------------------------------------------------------------------------
# 6. The table.

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0 || a == "nan" || b == "nan") print "-"; else printf "%.2f", a / b }'; }
verdict() { awk -v c="$1" 'BEGIN { print (c ? "PASS" : "MISS") }'; }
ge() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 >= b + 0) }'; }
le() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 <= b + 0) }'; }
lt() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 < b + 0) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.2f", k / 1024 }'; }
mib_b() { awk -v b="$1" 'BEGIN { printf "%.2f", b / 1048576 }'; }

row() { printf '%-38s %12s %12s %9s   %-13s %s\n' "$@"; }
rule() { printf '%s\n' "-----------------------------------------------------------------------------------------------"; }

L_IDLE_RSS_MIB=$(mib "$L_RSS")
printf '\n'
printf 'QuillCAN Studio Preview launcher vs nginx %s — %s, %s processors, kernel %s\n' \
    "$("$NGINX" -v 2>&1 | sed 's#.*/##')" "$(date -u '+%Y-%m-%d %H:%M UTC')" "$WORKERS" "$(uname -r)"
printf 'launcher: %s (revision %s%s); nginx: worker_processes %s, sendfile, keep-alive, no access log\n' \
    "${BIN#"$ROOT"/}" "$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')" \
    "$(git -C "$ROOT" diff --quiet HEAD -- studio-preview 2>/dev/null || echo ', working tree modified')" "$WORKERS"
printf 'load: wrk -d%s --latency at %s, %s alternating round(s) per case, medians shown (min..max of the per-round ratios); app.js %s bytes, / %s bytes\n' \
    "$WRK_DURATION" "threads x connections ${SHAPES[*]}" "$ROUNDS" "$APPJS_BYTES" "$INDEX_BYTES"
printf 'load average (1, 5, 15 min): %s before the load runs, %s after\n' "$LOAD_BEFORE" "$LOAD_AFTER"
printf 'content served by both servers: %s\n' "$content_check"
printf 'other work on the machine: %s%% busy before the run, %s%% in the idle window; load runs repeated because of it: %s, still disturbed: %s (marked !)\n' \
    "$BUSY_BEFORE" "$BUSY_IDLE" "$REPEATED" "$DISTURBED"
((BUSY_BEFORE > 10 || BUSY_IDLE > 5 || DISTURBED > 0)) &&
    printf 'WARNING: other work was running on this machine; the figures below are disturbed by it.\n'
printf '\n'

row "measure" "launcher" "nginx" "ratio" "target" "result"
rule
for case in "${CASES[@]}"; do
    read -r shape path <<<"$case"
    label="-t${shape%x*} -c${shape#*x} GET $path"
    row "$label req/s" "$(fmt0 "${RPS_M[L $case]}")" "$(fmt0 "${RPS_M[N $case]}")" \
        "$(fmt2 "${RATIO_M[$case]}")" ">= 1.2x nginx" "$(verdict "$(ge "${RATIO_M[$case]}" 1.2)") (${RATIO_MIN[$case]}..${RATIO_MAX[$case]})"
    row "$label p99 (ms)" "$(fmt2 "${P99_M[L $case]}")" "$(fmt2 "${P99_M[N $case]}")" \
        "$(fmt2 "${P99R_M[$case]}")" "<= nginx" "$(verdict "$(le "${P99R_M[$case]}" 1)") (${P99R_MIN[$case]}..${P99R_MAX[$case]})"
done
row "exec to first GET / answer (ms, med)" "$(fmt2 "$L_START")" "$(fmt2 "$N_START")" \
    "$(ratio "$L_START" "$N_START")" "<= 20 ms" "$(verdict "$(le "$L_START" 20)")"
row "idle RSS (MiB)" "$L_IDLE_RSS_MIB" "$(mib "$N_RSS")" \
    "$(ratio "$L_RSS" "$N_RSS")" "< 8 MiB" "$(verdict "$(lt "$L_RSS" 8192)")"
row "idle CPU (ms per 30 s)" "$(fmt2 "$L_IDLE_CPU")" "$(fmt2 "$N_IDLE_CPU")" \
    "$(ratio "$L_IDLE_CPU" "$N_IDLE_CPU")" "< 10 ms" "$(verdict "$(lt "$L_IDLE_CPU" 10)")"
row "stripped binary (MiB)" "$(mib_b "$L_BIN")" "$(mib_b "$N_BIN")" \
    "$(ratio "$L_BIN" "$N_BIN")" "< 3 MiB" "$(verdict "$(lt "$L_BIN" 3145728)")"
rule
printf 'For information (no target):\n'
row "  idle PSS (MiB)" "$(mib "$L_PSS0")" "$(mib "$N_PSS0")" "$(ratio "$L_PSS0" "$N_PSS0")" "" ""
row "  RSS after the load runs (MiB)" "$(mib "$L_RSS_LOADED")" "$(mib "$N_RSS_LOADED")" \
    "$(ratio "$L_RSS_LOADED" "$N_RSS_LOADED")" "" ""
row "  idle CPU, utime+stime (ms/${IDLE_SECONDS} s)" "$L_IDLE_TICKS_MS" "$N_IDLE_TICKS_MS" "" "" ""
row "  stripped binary (bytes)" "$L_BIN" "$N_BIN" "" "" ""
printf '  launcher: first answer min %s ms, max %s ms over %s runs; address line after %s ms (median);\n' \
    "$(fmt2 "$L_START_MIN")" "$(fmt2 "$L_START_MAX")" "$START_RUNS" "$(fmt2 "$L_BANNER")"
printf '            %s threads when idle; runs not ending with exit status 0 after SIGINT: %s\n' \
    "$L_THREADS" "${L_BAD_EXITS:-?}"
printf 'Per round (launcher | nginx; ratio = launcher/nginx; the run order alternates each round):\n'
for case in "${CASES[@]}"; do
    read -r shape path <<<"$case"
    printf '  -t%s -c%s GET %-11s req/s %s| %s\n' "${shape%x*}" "${shape#*x}" "$path" "${SHOW_RPS[L $case]}" "${SHOW_RPS[N $case]}"
    printf '  %-27s ratio %s\n' "" "${RATIOS[$case]}"
    printf '  %-27s p99 ms %s| %s\n' "" "${SHOW_P99[L $case]}" "${SHOW_P99[N $case]}"
done
for case in "${CASES[@]}"; do
    for who in L N; do
        [[ -n ${ERRS[$who $case]} ]] && printf '  wrk reported errors (%s %s): %s\n' "$who" "$case" "${ERRS[$who $case]}"
    done
done
if ((${#PROFILE_LINES[@]})); then
    printf 'Per request under wrk -t1 -c16 (perf stat; CPU of the server only, wrk not counted):\n'
    printf '%s\n' "${PROFILE_LINES[@]}"
fi
printf '  idle CPU is scheduler time of all threads (%s); nginx figures add master and workers.\n' \
    "$( ((SCHEDSTAT)) && echo "/proc/PID/task/*/schedstat, ns resolution" || echo "no schedstat: utime+stime ticks")"
printf '  nginx first-answer time: master + workers started from scratch, port polled every 0.1 ms.\n'
exit 0
