#!/usr/bin/env bash
# End-to-end tests of the whole program: ovhost in a fresh working directory, its console in
# Debian's Chromium (playwright-core), callers over Telnet.
# Usage: tests/e2e/run-e2e-tests.sh BUILD_DIR   (a build with ovhost, ovhost-firstrun and the
# three plug-ins)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
for f in bin/ovhost bin/ovhost-firstrun bin/jotbox.so bin/ttypick.so bin/pagepeek.so; do
    if [ ! -f "$build/$f" ]; then
        echo "run-e2e-tests: $build/$f is missing (build ovhost ovhost-firstrun jotbox ttypick pagepeek)" >&2
        exit 1
    fi
done
if [ ! -x /usr/bin/chromium ]; then
    echo "run-e2e-tests: /usr/bin/chromium is missing (apt-get install chromium)" >&2
    exit 1
fi

# playwright-core comes from the console tests' pinned install; it never fetches a browser.
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
console="$here/../platform/console"
if [ ! -f "$console/node_modules/playwright-core/package.json" ]; then
    (cd "$console" && npm ci --no-audit --no-fund --loglevel=error)
fi

# One ovhost runs per machine (an abstract socket name) and other builds' tests may hold it:
# where the system allows, the run gets a network namespace of its own with just a loopback.
if [ -z "${OV_E2E_NETNS:-}" ] && command -v unshare >/dev/null && command -v ip >/dev/null; then
    for flags in -n -rn; do
        if unshare $flags true 2>/dev/null; then
            exec unshare $flags env OV_E2E_NETNS=1 bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
        fi
    done
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ov-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A Telnet port nobody listens on right now.
port=$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); });')
# The sample working directory of a first run: osvbpref.dat (3888 bytes, the defaults with
# this port), three areas, rules.txt; the plug-ins come after it, so that the test installs
# them from the console.
(cd "$work" && "$build/bin/ovhost-firstrun" "$port" >/dev/null)
cp "$build/bin/jotbox.so" "$build/bin/ttypick.so" "$build/bin/pagepeek.so" "$work/"

export OV_BUILD_DIR="$build"
export OV_E2E_WORKDIR="$work"
export OV_ARTIFACTS_DIR="${OV_ARTIFACTS_DIR:-$here/../../artifacts}"
cd "$here"
# The test file starts ovhost itself (twice: File, Exit ends the first run) and checks that
# each run exits with 0.
node --test --test-concurrency=1 e2e.test.mjs
# The caller page next, in the working directory the first run left (plug-ins on the root area).
node --test --test-concurrency=1 web_caller.test.mjs
# A first run with the plug-ins beside it, in a directory of its own: the board ready for its
# first caller, a restart, and a Telnet port held by someone else.
node --test --test-concurrency=1 first_run.test.mjs
