#!/usr/bin/env bash
# Sets up what is missing, builds every test configuration and runs every test:
# warnings as errors, AddressSanitizer with UndefinedBehaviorSanitizer, ThreadSanitizer for the
# tests labelled "concurrency", and a bounded libFuzzer run in a clang build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
jobs=$(nproc)
fuzz_seconds=${OV_FUZZ_SECONDS:-30} # per fuzz target

build() { # dir, extra cmake args...
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

build build-ci
ctest --test-dir build-ci --output-on-failure -j "$jobs"
bash tests/platform/console/run-browser-tests.sh build-ci
bash tests/e2e/run-e2e-tests.sh build-ci

build build-asan "-DOV_SANITIZE=address;undefined"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j "$jobs"

build build-tsan -DOV_SANITIZE=thread
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L concurrency

# The fuzz build holds only the fuzz targets and the sources they exercise.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DOV_FUZZ=ON -DOV_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target ov_fuzzers
bash scripts/fuzz.sh build-fuzz "$fuzz_seconds"
