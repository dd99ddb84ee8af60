#!/usr/bin/env bash
# Builds the benchmarks (Release, build-bench/) and measures: N Telnet callers against ovhost,
# plain and ANSI, each followed by N web callers (the caller page's WebSocket) and N SSH callers
# against a fresh ovhost each, and by the baseline server answering with screens of the same
# size, repeated; then the micro-benchmarks. Prints a markdown table; raw output stays in
# build-bench/results/. Callers arrive at 200 a second (--ramp-ms, at least 5 s).
#   bash bench/run.sh [--callers 1000] [--runs 3] [--hold 20] [--think 1000-3000]
#                     [--ramp-ms 5N] [--accounts 2N] [--micro-reps 5] [--no-micro] [--no-load]
#                     [--no-web] [--no-ssh] [--no-ansi]
# The load runs go into a private network namespace when the machine allows it (unshare -n),
# so the server's port and its one-instance-per-machine name meet no other server.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${OV_BENCH_BUILD:-$root/build-bench}" # another build directory with OV_BENCH_BUILD
bin="$build/bin"
out="${OV_BENCH_OUT:-$build/results}"
# Another server build can be measured in its place, e.g. an older one for a before/after figure.
ovhost="${OV_BENCH_OVHOST:-$bin/ovhost}"

args=("$@")
callers=1000 runs=3 hold=20 think=1000-3000 accounts=0 microReps=5 micro=1 load=1 web=1 ssh=1
ansi=1 ramp=
while [ $# -gt 0 ]; do
    case "$1" in
    --callers) callers="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --hold) hold="$2"; shift 2 ;;
    --think) think="$2"; shift 2 ;;
    --ramp-ms) ramp="$2"; shift 2 ;;
    --accounts) accounts="$2"; shift 2 ;;
    --micro-reps) microReps="$2"; shift 2 ;;
    --no-micro) micro=0; shift ;;
    --no-load) load=0; shift ;;
    --no-web) web=0; shift ;;
    --no-ssh) ssh=0; shift ;;
    --no-ansi) ansi=0; shift ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -n "$ramp" ] || ramp=$((callers * 5 > 5000 ? callers * 5 : 5000))

if [ -z "${OV_BENCH_INSIDE:-}" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_BENCH=ON \
        -DOV_TESTS=OFF >/dev/null
    targets=(ovhost ovload ovbaseline ovprep)
    if [ "$micro" = 1 ]; then targets+=(ovmicro); fi
    cmake --build "$build" --target "${targets[@]}" -j2
    rm -rf "$out" && mkdir -p "$out"
    if unshare -n true 2>/dev/null && command -v ip >/dev/null; then
        exec unshare -n -- env OV_BENCH_INSIDE=netns bash "$0" "${args[@]}"
    fi
    export OV_BENCH_INSIDE=shared
fi
if [ "$OV_BENCH_INSIDE" = netns ]; then ip link set lo up; fi
# Each process needs a descriptor per caller and some to spare.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || ulimit -n 65536 2>/dev/null || true

freePort() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

waitListening() { # port pid
    for _ in $(seq 300); do
        if ss -Hltn "sport = :$1" 2>/dev/null | grep -q .; then return 0; fi
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

stopProcess() { # pid
    kill -TERM "$1" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || { wait "$1" 2>/dev/null || true; return 0; }
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

screenBytesOf() { # label
    sed -n "s/^RESULT label=$1 .* screen_bytes=\([0-9]*\) .*/\1/p" "$out/results.txt" | tail -1
}

loadOvhost() { # kind(plain|ansi|web-plain|web-ansi|ssh-plain|ssh-ansi) names run
    local port webPort sshPort work pid label="ovhost-$1-$3" via=() listeners=()
    port=$(freePort)
    webPort=$(freePort)
    sshPort=$(freePort)
    work="$build/work-$1"
    rm -rf "$work" && mkdir -p "$work"
    "$bin/ovprep" "$work" --port "$port" --callers "$callers" --accounts "$accounts" >/dev/null
    # SSH host keys made once: a 3072-bit RSA key takes a while.
    cp "$build"/ssh-keys/ssh_host_* "$work/" 2>/dev/null || true
    # The prepared files reach the disk first, so the server's first write-through writes do not
    # queue behind their write-back.
    sync
    # The caller page and SSH listen only when their callers are measured in this series.
    if [ "$web" = 1 ]; then listeners+=(OVHOST_WEB="127.0.0.1:$webPort"); fi
    if [ "$ssh" = 1 ]; then listeners+=(OVHOST_SSH="127.0.0.1:$sshPort"); fi
    (cd "$work" && exec env OVHOST_CONSOLE=127.0.0.1:0 "${listeners[@]}" "$ovhost") \
        >"$out/$label.log" 2>&1 &
    pid=$!
    # Web callers come through the caller page's WebSocket, SSH callers log in with ssh.
    if [[ "$1" == web-* ]]; then port=$webPort via=(--web); fi
    if [[ "$1" == ssh-* ]]; then port=$sshPort via=(--ssh); fi
    if ! waitListening "$port" "$pid"; then
        echo "run.sh: ovhost did not start listening (see $out/$label.log)" >&2
        stopProcess "$pid"
        return 1
    fi
    mkdir -p "$build/ssh-keys" && cp -n "$work"/ssh_host_* "$build/ssh-keys/" 2>/dev/null || true
    "$bin/ovload" --port "$port" "${via[@]}" --callers "$callers" --names "$2" --pid "$pid" \
        --ramp-ms "$ramp" --hold-s "$hold" --think-ms "$think" --label "$label" \
        --latency-file "$out/lat-$label.txt" | tee -a "$out/results.txt" || true
    stopProcess "$pid"
}

loadBaseline() { # kind run
    local port pid bytes label="baseline-$1-$2"
    bytes=$(screenBytesOf "ovhost-$1-$2")
    port=$(freePort)
    "$bin/ovbaseline" --port "$port" --screen-bytes "${bytes:-1775}" >/dev/null &
    pid=$!
    waitListening "$port" "$pid" || { echo "run.sh: baseline did not start" >&2; return 1; }
    "$bin/ovload" --port "$port" --callers "$callers" --names "b%d" --pid "$pid" \
        --ramp-ms "$ramp" --hold-s "$hold" --think-ms "$think" --label "$label" \
        --latency-file "$out/lat-$label.txt" | tee -a "$out/results.txt" || true
    stopProcess "$pid"
}

if [ "$load" = 1 ]; then
    for r in $(seq "$runs"); do
        loadOvhost plain 'p%d' "$r"
        if [ "$web" = 1 ]; then loadOvhost web-plain 'p%d' "$r"; fi
        if [ "$ssh" = 1 ]; then loadOvhost ssh-plain 'p%d' "$r"; fi
        loadBaseline plain "$r"
        if [ "$ansi" = 0 ]; then continue; fi
        loadOvhost ansi 'a%d' "$r"
        if [ "$web" = 1 ]; then loadOvhost web-ansi 'a%d' "$r"; fi
        if [ "$ssh" = 1 ]; then loadOvhost ssh-ansi 'a%d' "$r"; fi
        loadBaseline ansi "$r"
    done
fi

if [ "$micro" = 1 ]; then
    (cd "$build" && "$bin/ovmicro" --benchmark_repetitions="$microReps" \
        --benchmark_report_aggregates_only=true --benchmark_out="$out/micro.json" \
        --benchmark_out_format=json) >"$out/micro.txt"
fi

python3 "$root/bench/report.py" "$out" --callers "$callers" --runs "$runs" --hold "$hold" \
    --think "$think" --ramp "$ramp" --netns "$OV_BENCH_INSIDE"
