#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time each.
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath "$1")
seconds=${2:-30}
status=0
for seeds in "$root"/tests/fuzz/corpus/*/; do
    name=$(basename "$seeds")
    target="$build/bin/fuzz_$name"
    [ -x "$target" ] || { echo "missing fuzz target $target" >&2; exit 1; }
    # New inputs go to the build's own corpus; the seeds in the tree stay as they are.
    work="$build/fuzz-corpus/$name"
    mkdir -p "$work" "$build/fuzz-artifacts"
    echo "== fuzz_$name for ${seconds}s"
    (cd "$build/fuzz-artifacts" && "$target" -max_total_time="$seconds" -max_len=8192 \
        -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 "$work" "$seeds") || status=1
done
exit $status
