#!/usr/bin/env bash
# Sets up what is missing, builds every test configuration and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
jobs=$(nproc)

build() { # dir, extra cmake args...
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

build build-ci
ctest --test-dir build-ci --output-on-failure -j "$jobs"

build build-asan "-DOV_SANITIZE=address;undefined"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j "$jobs"

build build-tsan -DOV_SANITIZE=thread
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L concurrency
