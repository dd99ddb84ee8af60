#!/usr/bin/env bash
# Builds the server (Release, in build-run/) and runs it in ./run, the working directory where
# it keeps its files. The first run prepares ./run: the three standard plug-ins installed and
# attached to a small sample area tree, a bulletin, rules.txt, and osvbpref.dat; with bsdgames
# there, the door plug-in too and a game room. Later runs keep it as is.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-run"
work="$root/run"

# The server needs only part of what the tests need, so a package that will not install (a
# browser for the console tests, say) does not stop it; the build says what is really missing.
bash "$root/scripts/setup-deps.sh" ||
    echo "run.sh: some packages could not be installed; building with what is there." >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_TESTS=OFF >/dev/null
cmake --build "$build" --target ovhost ovhost-firstrun ovtapi jotbox ttypick pagepeek doorway -j2

if [ ! -d "$work" ]; then
    mkdir -p "$work"
    # ovhost-firstrun installs what it finds here (the door plug-in when a bsdgames game is
    # there to offer as a door).
    cp "$build/bin/jotbox.so" "$build/bin/ttypick.so" "$build/bin/pagepeek.so" \
        "$build/bin/doorway.so" "$work/"
    if [ "$(id -u)" -eq 0 ]; then
        port=23
    else
        # Ports below 1024 need root (or CAP_NET_BIND_SERVICE); see the README's Sysop guide.
        port=2323
        echo "Not running as root: Telnet goes to port 2323 instead of 23."
    fi
    (cd "$work" && "$build/bin/ovhost-firstrun" "$port" >/dev/null)
    echo "Prepared $work: the memo, terminal type and file viewer plug-ins are installed."
    if [ -f "$work/area/00000003.txt" ]; then # the game room's description
        echo "Doors are installed: the Game room (2 in the Main hall for new callers) offers games from bsdgames."
    fi
fi

cd "$work"
"$build/bin/ovhost-firstrun" # prints the Telnet port in use; makes nothing that exists
# The caller page (a terminal in the browser for callers): port 8080, or a free one when 8080
# is taken. ovhost prints its address ("Caller page: ...").
if [ -z "${OVHOST_WEB:-}" ]; then
    OVHOST_WEB=$(python3 -c 'import socket
s = socket.socket()
try:
    s.bind(("", 8080))
except OSError:
    s.bind(("", 0))
print(s.getsockname()[1])')
    export OVHOST_WEB
fi
# SSH for callers: port 22 as root when nothing else holds it, else 2222. ovhost makes its host
# keys in ./run at the first start and prints their fingerprints at every start.
if [ -z "${OVHOST_SSH:-}" ]; then
    OVHOST_SSH=2222
    if [ "$(id -u)" -eq 0 ] && python3 -c 'import socket
socket.socket().bind(("", 22))' 2>/dev/null; then
        OVHOST_SSH=22
    fi
    export OVHOST_SSH
fi
echo "Callers can use the caller page below in a browser, Telnet, or SSH (ssh -p ${OVHOST_SSH##*:} new@this-host for a new account)."
echo "Open the console address below in a browser on this machine; Ctrl+C stops the server."
exec "$build/bin/ovhost"
