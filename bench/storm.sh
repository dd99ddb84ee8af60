#!/usr/bin/env bash
# A connection storm: N Telnet callers arriving within a few seconds against ovhost with paranoid
# logging on (the default), so that every arrival writes its CONNECT and SUCCESSFUL LOGIN entries
# and its login count to disk before it goes on. Each caller logs in, walks a few screens and logs
# off. Prints connect-to-login-prompt and login p50/p99 and the errors of each run; raw output in
# build-bench/storm/.
#   bash bench/storm.sh [--callers 10000] [--within-ms 10000] [--runs 3] [--hold 10]
# OV_BENCH_OVHOST=path measures another server build in the same way (a before/after figure).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${OV_BENCH_BUILD:-$root/build-bench}" # another build directory with OV_BENCH_BUILD
bin="$build/bin"
out="${OV_BENCH_OUT:-$build/storm}"
ovhost="${OV_BENCH_OVHOST:-$bin/ovhost}"

args=("$@")
callers=10000 within=10000 runs=3 hold=10
while [ $# -gt 0 ]; do
    case "$1" in
    --callers) callers="$2"; shift 2 ;;
    --within-ms) within="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --hold) hold="$2"; shift 2 ;;
    *) echo "storm.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

if [ -z "${OV_BENCH_INSIDE:-}" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_BENCH=ON \
        -DOV_TESTS=OFF >/dev/null
    cmake --build "$build" --target ovhost ovload ovprep -j2
    mkdir -p "$out"
    # A private network namespace: the port and the one-server-per-machine name meet nothing else.
    if unshare -n true 2>/dev/null && command -v ip >/dev/null; then
        exec unshare -n -- env OV_BENCH_INSIDE=netns bash "$0" "${args[@]}"
    fi
    export OV_BENCH_INSIDE=shared
fi
if [ "$OV_BENCH_INSIDE" = netns ]; then ip link set lo up; fi
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
for r in $(seq "$runs"); do
    work="$build/storm-work"
    rm -rf "$work" && mkdir -p "$work"
    "$bin/ovprep" "$work" --port "$port" --callers "$callers" >/dev/null
    sync # the prepared files reach the disk before the storm, not during it
    (cd "$work" && OVHOST_CONSOLE=127.0.0.1:0 exec "$ovhost") >"$out/ovhost-$r.log" 2>&1 &
    pid=$!
    for _ in $(seq 300); do
        ss -Hltn "sport = :$port" 2>/dev/null | grep -q . && break
        sleep 0.1
    done
    "$bin/ovload" --port "$port" --callers "$callers" --names 'p%d' --pid "$pid" \
        --ramp-ms "$within" --hold-s "$hold" --think-ms 1000-3000 --label "storm-$r" |
        tee "$out/storm-$r.txt" | grep -E '^RESULT' || true
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    # Every arrival must be in the log: nothing lost to the storm.
    printf 'run %s: %s CONNECT entries for %s callers\n' "$r" \
        "$(grep -c '^CONNECT' "$work/bbslog.txt" || true)" "$callers"
done
