#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time each and prints a summary
# (executions and seconds per target). In CI a target runs at most 12 s, whatever is asked.
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath "$1")
seconds=${2:-12}
if [ "${CI:-}" = true ] && [ "$seconds" -gt 12 ]; then seconds=12; fi
status=0
summary=()
for seeds in "$root"/tests/fuzz/corpus/*/; do
    name=$(basename "$seeds")
    target="$build/bin/fuzz_$name"
    [ -x "$target" ] || { echo "missing fuzz target $target" >&2; exit 1; }
    # New inputs go to the build's own corpus; the seeds in the tree stay as they are.
    work="$build/fuzz-corpus/$name"
    mkdir -p "$work" "$build/fuzz-artifacts"
    echo "== fuzz_$name for ${seconds}s"
    log="$build/fuzz-artifacts/fuzz_$name.log"
    result=passed
    (cd "$build/fuzz-artifacts" && "$target" -max_total_time="$seconds" -max_len=8192 \
        -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 "$work" "$seeds") >"$log" 2>&1 ||
        { status=1; result=FAILED; cat "$log"; }
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    summary+=("fuzz_$name: ${runs:-0} executions in ${seconds} s, $result")
done
printf '%s\n' "${summary[@]}"
exit $status
