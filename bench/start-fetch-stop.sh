#!/usr/bin/env bash
# One start of a server, timed from outside by hyperfine (launcher-vs-nginx.sh): start it, fetch
# GET / as soon as it can answer, stop it gracefully and wait for it to end.
#   start-fetch-stop.sh launcher BINARY      the port is read from the launcher's first line
#   start-fetch-stop.sh nginx PORT COMMAND…  a non-daemon nginx on a known port, polled until it
#                                            answers
#   start-fetch-stop.sh fetch PORT           only the fetch, from a server already running: what
#                                            the two above cost beyond the server itself
set -euo pipefail

get() { curl -sf -o /dev/null "http://127.0.0.1:$1/"; }

case $1 in
launcher)
    coproc server { exec "$2" --no-open; }
    pid=$server_PID
    read -r line <&"${server[0]}"
    port=${line##*127.0.0.1:}
    get "${port%%/*}"
    kill -INT "$pid"
    wait "$pid"
    ;;
nginx)
    port=$2
    shift 2
    "$@" &
    pid=$!
    until get "$port"; do :; done
    kill -QUIT "$pid"
    wait "$pid"
    ;;
fetch)
    get "$2"
    ;;
*)
    echo "usage: $0 launcher BINARY | nginx PORT COMMAND... | fetch PORT" >&2
    exit 2
    ;;
esac
