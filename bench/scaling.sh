#!/usr/bin/env bash
# How the costs grow with the number of callers: bench/run.sh once per size, plain Telnet
# callers against ovhost and then the baseline in the same run (one run each, no web, SSH or
# ANSI callers, no micro-benchmarks), the load average noted before and after each size; then
# one markdown table. Raw output in build-bench/scaling/<size>/.
#   bash bench/scaling.sh [--sizes 1000,2000,5000,10000] [--hold 20]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${OV_BENCH_BUILD:-$root/build-bench}"
out="${OV_BENCH_OUT:-$build/scaling}"

sizes=1000,2000,5000,10000 hold=20
while [ $# -gt 0 ]; do
    case "$1" in
    --sizes) sizes="$2"; shift 2 ;;
    --hold) hold="$2"; shift 2 ;;
    *) echo "scaling.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

rm -rf "$out" && mkdir -p "$out"
for n in ${sizes//,/ }; do
    uptime >"$out/load-$n-before.txt"
    OV_BENCH_BUILD="$build" OV_BENCH_OUT="$out/$n" bash "$root/bench/run.sh" --callers "$n" \
        --runs 1 --hold "$hold" --no-micro --no-web --no-ssh --no-ansi >"$out/run-$n.txt" || true
    uptime >"$out/load-$n-after.txt"
    grep -h '^RESULT' "$out/$n/results.txt" 2>/dev/null || echo "scaling.sh: no results for $n" >&2
done
netns=shared
if unshare -n true 2>/dev/null && command -v ip >/dev/null; then netns=netns; fi
python3 "$root/bench/report.py" "$out" --scaling "$sizes" --hold "$hold" --netns "$netns"
