#!/usr/bin/env bash
# Browser tests of the sysop console: Debian's Chromium driven by playwright-core.
# Usage: tests/platform/console/run-browser-tests.sh BUILD_DIR   (a build with console_demo)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
if [ ! -x "$build/bin/console_demo" ]; then
    echo "run-browser-tests: $build/bin/console_demo is missing (build the console_demo target)" >&2
    exit 1
fi
if [ ! -x /usr/bin/chromium ]; then
    echo "run-browser-tests: /usr/bin/chromium is missing (apt-get install chromium)" >&2
    exit 1
fi
cd "$here"
# playwright-core never fetches a browser; the variable keeps any other tool from trying.
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
if [ ! -f node_modules/playwright-core/package.json ]; then
    npm ci --no-audit --no-fund --loglevel=error
fi
export OV_BUILD_DIR="$build"
export OV_ARTIFACTS_DIR="${OV_ARTIFACTS_DIR:-$here/../../../artifacts}"
exec node --test --test-concurrency=1 browser/
