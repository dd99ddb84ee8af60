#!/usr/bin/env bash
# Builds the Debian package: a Release build in build-deb/ (or $1), then cpack.
#   bash packaging/build-deb.sh            ->  build-deb/ovhost_<version>_<arch>.deb
# Install it with:  apt install ./build-deb/ovhost_*.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-deb}"
jobs="${OV_JOBS:-2}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs"
rm -f "$build"/ovhost_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ovhost_*.deb)
echo "$deb"
