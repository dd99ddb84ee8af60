#!/usr/bin/env bash
# Builds the Debian package from an already built tree, installs it into a scratch root with
# dpkg --root (maintainer scripts run chrootless, confined to that root through DPKG_ROOT), and
# checks files, owners, modes, the user, the working directory and the unit; then purges it.
# The running system is never touched. Exit 77 means skipped.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build="$1"
src="$2"

skip() { echo "SKIPPED: $*"; exit 77; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # description, command...
    local what="$1"; shift
    if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

# A package is made from a plain build; sanitized programs would not run as installed.
[ -z "${OV_SANITIZE:-}" ] || skip "sanitizer build ($OV_SANITIZE)"
for f in ovhost ovhost-firstrun libovui.so libovtapi.so jotbox.so ttypick.so pagepeek.so doorway.so; do
    [ -e "$build/bin/$f" ] || skip "$build/bin/$f is not built (build everything first)"
done
for tool in dpkg dpkg-deb cpack useradd groupadd; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
if [ "$(id -u)" -ne 0 ]; then
    # Ownership needs root; fakeroot keeps it in memory for the whole run.
    [ -z "${FAKEROOTKEY:-}" ] || skip "cannot become root"
    command -v fakeroot >/dev/null || skip "not root and no fakeroot"
    exec fakeroot -- bash "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ovpkg.XXXXXX")
trap 'rm -rf "$work"' EXIT
root="$work/root"

# --- The package -------------------------------------------------------------------------
if ! (cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1); then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=$(ls "$work"/out/ovhost_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "FAIL: no package made"; exit 1; }
echo "package: $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
check "package name" test "$(field Package)" = ovhost
check "depends on adduser" grep -qw adduser <<<"$(field Depends)"
check "depends on the C++ runtime (shlibdeps)" grep -q libstdc++6 <<<"$(field Depends)"
check "suggests fail2ban" grep -qw fail2ban <<<"$(field Suggests)"
dpkg-deb -I "$deb" conffiles >"$work/conffiles"
for c in /etc/logrotate.d/ovhost /etc/fail2ban/filter.d/ovhost.conf \
    /etc/fail2ban/jail.d/ovhost.conf; do
    check "conffile $c" grep -qx "$c" "$work/conffiles"
done

# --- A scratch root: just enough of /etc and dpkg's database ------------------------------
mkdir -p "$root/etc" "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" \
    "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"
printf 'root:x:0:0:root:/root:/bin/bash\n' >"$root/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\n' >"$root/etc/group"
printf 'root:*:19000:0:99999:7:::\n' >"$root/etc/shadow"
printf 'root:*::\ndialout:*::\n' >"$root/etc/gshadow"
chmod 0640 "$root/etc/shadow" "$root/etc/gshadow"

dpkg_root() {
    dpkg --root="$root" --force-script-chrootless --force-depends --force-not-root \
        --log="$work/dpkg.log" "$@"
}
if ! dpkg_root -i "$deb" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: dpkg --root -i"
    exit 1
fi
cat "$work/install.log"
check "installed state" test "$(dpkg-query --admindir="$root/var/lib/dpkg" -W \
    -f='${Status}' ovhost)" = "install ok installed"

# --- Files, owners, modes ------------------------------------------------------------------
expect() { # path, mode, owner:group (names resolved in the scratch root)
    local path="$root$1" mode="$2" owner="$3"
    if [ ! -e "$path" ] && [ ! -L "$path" ]; then fail "$1 missing"; return; fi
    local got
    got=$(stat -c '%a %u:%g' "$path")
    local uid gid
    uid=$(awk -F: -v u="${owner%%:*}" '$1 == u { print $3 }' "$root/etc/passwd")
    gid=$(awk -F: -v g="${owner##*:}" '$1 == g { print $3 }' "$root/etc/group")
    if [ "$got" = "$mode $uid:$gid" ]; then
        echo "ok: $1 $mode $owner"
    else
        fail "$1: '$got', expected '$mode $uid:$gid' ($owner)"
    fi
}
expect /usr/bin/ovhost 755 root:root
for f in libovui.so libovtapi.so jotbox.so ttypick.so pagepeek.so doorway.so; do
    expect "/usr/lib/ovhost/$f" 644 root:root
done
expect /usr/lib/ovhost/ovhost-firstrun 755 root:root
for f in ovbbs.h ovtypes.h ovui.h ovplugin.h; do expect "/usr/include/ovhost/$f" 644 root:root; done
# A plug-in builds from the installed headers alone, against the installed libovui.so.
check "the example plug-in builds from include/ovhost" gcc -std=gnu11 -shared -fPIC \
    -fvisibility=hidden -Wall -Werror -I"$root/usr/include/ovhost" \
    "$root/usr/share/doc/ovhost/examples/hello.c" -L"$root/usr/lib/ovhost" -l:libovui.so \
    -pthread -Wl,--no-undefined -o "$work/hello.so"
expect /usr/share/doc/ovhost/ovtapi.conf.sample 644 root:root
expect /usr/share/doc/ovhost/MODEMS.md 644 root:root
expect /usr/share/doc/ovhost/SDK.md 644 root:root
expect /usr/share/man/man8/ovhost.8.gz 644 root:root
expect /lib/systemd/system/ovhost.service 644 root:root
expect /etc/logrotate.d/ovhost 644 root:root
expect /etc/fail2ban/filter.d/ovhost.conf 644 root:root
expect /etc/fail2ban/jail.d/ovhost.conf 644 root:root

check "RUNPATH finds lib/ovhost" grep -q 'RUNPATH.*\$ORIGIN/\.\./lib/ovhost' \
    <<<"$(readelf -d "$root/usr/bin/ovhost")"
# Every library resolves, and ours come from the package, not from the build tree.
resolves() {
    local file="$root/$1" ours
    ldd "$file" >"$work/ldd.txt" 2>&1 || return 1
    grep -q "not found" "$work/ldd.txt" && return 1
    readelf -d "$file" | grep -q 'NEEDED.*\[libovui\.so\]' || return 0
    ours=$(sed -n 's/^[[:space:]]*libovui\.so => \(.*\) (0x.*$/\1/p' "$work/ldd.txt")
    [ -n "$ours" ] && [ "$(realpath "$ours")" = "$(realpath "$root/usr/lib/ovhost/libovui.so")" ]
}
for f in usr/bin/ovhost usr/lib/ovhost/ovhost-firstrun usr/lib/ovhost/jotbox.so \
    usr/lib/ovhost/ttypick.so usr/lib/ovhost/pagepeek.so usr/lib/ovhost/doorway.so \
    usr/lib/ovhost/libovtapi.so; do
    check "$f: libraries resolve, libovui.so (where needed) from the package" resolves "$f"
done
check "man page reads" bash -c 'zcat "$1" | grep -q "^\.SH SIGNALS"' _ "$root/usr/share/man/man8/ovhost.8.gz"
check "sample ovtapi.conf is all comments" \
    bash -c '! grep -v "^#" "$1" | grep -q .' _ "$root/usr/share/doc/ovhost/ovtapi.conf.sample"

# --- The user and the working directory ----------------------------------------------------
entry=$(grep '^ovhost:' "$root/etc/passwd")
check "system user ovhost" test -n "$entry"
IFS=: read -r _ _ uid gid _ home shell <<<"$entry"
check "system uid below 1000" test "${uid:-1000}" -lt 1000
check "home /var/lib/ovhost" test "$home" = /var/lib/ovhost
check "no login shell" test "$shell" = /usr/sbin/nologin
check "group ovhost is the user's group" \
    test "$(awk -F: '$1 == "ovhost" { print $3 }' "$root/etc/group")" = "$gid"
check "the real system has no user ovhost" bash -c '! getent passwd ovhost >/dev/null'

expect /var/lib/ovhost 750 ovhost:ovhost
for p in jotbox ttypick pagepeek doorway; do
    link="$root/var/lib/ovhost/$p.so"
    check "$p.so: link to /usr/lib/ovhost" \
        test "$(readlink "$link")" = "../../../usr/lib/ovhost/$p.so"
    check "$p.so link owned by ovhost" test "$(stat -c '%u:%g' "$link")" = "$uid:$gid"
done
expect /var/lib/ovhost/bbslog.txt 640 ovhost:ovhost
check "bbslog.txt empty" test ! -s "$root/var/lib/ovhost/bbslog.txt"
# ovhost-firstrun made the settings and a sample area tree as the service's user would.
private() { # path: owned by ovhost, nothing for other users
    local st
    st=$(stat -c '%u:%g %a' "$root$1") || return 1
    [ "${st% *}" = "$uid:$gid" ] && [ "${st: -1}" = 0 ]
}
check "osvbpref.dat private to ovhost" private /var/lib/ovhost/osvbpref.dat
check "settings file of 3888 bytes" test "$(stat -c %s "$root/var/lib/ovhost/osvbpref.dat")" = 3888
expect /var/lib/ovhost/area 750 ovhost:ovhost
expect /var/lib/ovhost/area/bbs_area.dat 640 ovhost:ovhost
expect /var/lib/ovhost/rules.txt 640 ovhost:ovhost
# ... with the three standard plug-ins installed through the links, and the bulletin the viewer
# shows in the sample tree.
check "plugins.dat private to ovhost" private /var/lib/ovhost/plugins.dat
for p in jotbox ttypick pagepeek; do
    check "$p.so installed" grep -qa "$p\.so" "$root/var/lib/ovhost/plugins.dat"
done
expect /var/lib/ovhost/bulletin.txt 640 ovhost:ovhost
check "service registered but not enabled" \
    test ! -e "$root/etc/systemd/system/multi-user.target.wants/ovhost.service"

# --- The unit --------------------------------------------------------------------------------
unit="$root/lib/systemd/system/ovhost.service"
for line in User=ovhost WorkingDirectory=/var/lib/ovhost ExecStart=/usr/bin/ovhost \
    AmbientCapabilities=CAP_NET_BIND_SERVICE CapabilityBoundingSet=CAP_NET_BIND_SERVICE \
    Restart=on-failure KillSignal=SIGTERM NoNewPrivileges=yes ProtectSystem=strict \
    "ReadWritePaths=/var/lib/ovhost -/var/lock -/run/lock" PrivateTmp=yes \
    LimitNOFILE=65536 TasksMax=65536 RestartPreventExitStatus=2; do
    check "unit: $line" grep -qx -- "$line" "$unit"
done
# Each of these would close the serial devices of the modems to the dialout group.
for key in PrivateDevices DevicePolicy DeviceAllow ProtectClock; do
    check "unit: no $key (modems)" bash -c '! grep -q "^$1=" "$2"' _ "$key" "$unit"
done
if command -v systemd-analyze >/dev/null; then
    # The targets the unit depends on by default come from this machine's systemd; the man
    # page is checked above, as verify would look for it on this machine. Warnings count as
    # failures too: verify prints nothing for a clean unit.
    cp -an /lib/systemd/system/. "$root/lib/systemd/system/" 2>/dev/null
    systemd-analyze verify --man=no --root="$root" /lib/systemd/system/ovhost.service \
        >"$work/verify.log" 2>&1
    rc=$?
    if grep -qi "failed to initialize manager\|operation not permitted" "$work/verify.log"; then
        echo "SKIPPED (part): systemd-analyze cannot run here: $(cat "$work/verify.log")"
    elif [ "$rc" -ne 0 ] || [ -s "$work/verify.log" ]; then
        fail "systemd-analyze verify: $(cat "$work/verify.log")"
    else
        echo "ok: systemd-analyze verify"
    fi
else
    echo "SKIPPED (part): systemd-analyze is not installed; the unit was not verified"
fi

# --- The installed server: a first start, a second start, SIGTERM -------------------------
# In a network namespace of its own, so that the single-instance name, the console and Telnet's
# port 23 meet no other server on this machine.
smoke() {
    local board="$work/board" bin="$root/usr/bin/ovhost"
    cp -a "$root/var/lib/ovhost" "$board"
    cat >"$work/smoke.sh" <<SMOKE
set -u
ip link set lo up || exit 3
cd "$board"
OVHOST_CONSOLE=127.0.0.1:8023 "$bin" >"$work/first.out" 2>&1 &
pid=\$!
trap 'kill -TERM \$pid 2>/dev/null' EXIT
for _ in \$(seq 300); do
    grep -q "Console: http" "$work/first.out" && break
    sleep 0.1
done
"$bin" >"$work/second.out" 2>&1
echo "second=\$?" >"$work/smoke.rc"
for _ in \$(seq 300); do
    (exec 3<>/dev/tcp/127.0.0.1/23) 2>/dev/null && break
    sleep 0.1
done
python3 "$src/tests/packaging/smoke_client.py" 23 mallory >"$work/client.out" 2>&1
echo "client=\$?" >>"$work/smoke.rc"
kill -TERM \$pid
wait \$pid
echo "first=\$?" >>"$work/smoke.rc"
SMOKE
    timeout 120 unshare -n bash "$work/smoke.sh"
    local rc=$?
    if [ "$rc" -eq 3 ] || [ ! -e "$work/first.out" ]; then
        echo "SKIPPED (part): cannot run the server in a network namespace here"
        return
    fi
    cat "$work/first.out" "$work/second.out" "$work/client.out" 2>/dev/null
    address=$(sed -n 's/^Console: \(http[^ ]*\).*/\1/p' "$work/first.out" | head -n1)
    check "installed server prints its console address" test -n "$address"
    check "a second start exits 0" grep -qx second=0 "$work/smoke.rc"
    check "a second start prints the running console's address" \
        grep -qF "already running. Console: $address" "$work/second.out"
    check "a Telnet caller guessed three passwords" grep -qx client=0 "$work/smoke.rc"
    check "SIGTERM: normal shutdown, exit 0" grep -qx first=0 "$work/smoke.rc"
    if command -v fail2ban-regex >/dev/null; then
        fail2ban-regex --out ip "$board/bbslog.txt" "$root/etc/fail2ban/filter.d/ovhost.conf" \
            >"$work/f2b.out" 2>&1
        check "installed fail2ban filter: three failures from 127.0.0.1 in the server's log" \
            test "$(grep -c '^127\.0\.0\.1$' "$work/f2b.out")" = 3
    else
        echo "SKIPPED (part): fail2ban-regex is not installed"
    fi
    if command -v fail2ban-client >/dev/null && [ -d /etc/fail2ban ]; then
        # This machine's fail2ban configuration with the package's files, the jail switched on
        # as the README says (and sshd off: its log need not exist here).
        local conf="$work/fail2ban"
        cp -a /etc/fail2ban "$conf"
        cp "$root/etc/fail2ban/filter.d/ovhost.conf" "$conf/filter.d/"
        cp "$root/etc/fail2ban/jail.d/ovhost.conf" "$conf/jail.d/"
        printf '[sshd]\nenabled = false\n' >"$conf/jail.d/zz-test-sshd.local"
        check "fail2ban accepts the shipped jail, switched off" \
            fail2ban-client -c "$conf" -t
        printf '[ovhost]\nenabled = true\nlogpath = %s/bbslog.txt\n' "$board" \
            >"$conf/jail.d/ovhost.local"
        check "fail2ban accepts the jail switched on" fail2ban-client -c "$conf" -t
    fi
}
if command -v unshare >/dev/null && command -v ip >/dev/null && command -v python3 >/dev/null &&
    [ -z "${FAKEROOTKEY:-}" ]; then
    smoke
else
    echo "SKIPPED (part): no unshare, ip or python3 (or not really root); the server was not run"
fi

# --- Reinstall keeps data; remove keeps data; purge deletes it --------------------------------
echo "memo" >"$root/var/lib/ovhost/jotbox.txt"
printf 'x' >>"$root/var/lib/ovhost/osvbpref.dat"
if dpkg_root -i "$deb" >"$work/reinstall.log" 2>&1; then
    check "upgrade keeps the data" test "$(cat "$root/var/lib/ovhost/jotbox.txt")" = memo
    check "upgrade keeps the settings" \
        test "$(stat -c %s "$root/var/lib/ovhost/osvbpref.dat")" = 3889
else
    cat "$work/reinstall.log"
    fail "reinstall"
fi
if dpkg_root -r ovhost >"$work/remove.log" 2>&1; then
    check "remove deletes the program" test ! -e "$root/usr/bin/ovhost"
    check "remove keeps the data" test -e "$root/var/lib/ovhost/jotbox.txt"
    check "remove keeps the user" grep -q '^ovhost:' "$root/etc/passwd"
else
    cat "$work/remove.log"
    fail "remove"
fi
if dpkg_root -P ovhost >"$work/purge.log" 2>&1; then
    check "purge deletes the working directory" test ! -e "$root/var/lib/ovhost"
    check "purge deletes the user" bash -c '! grep -q "^ovhost:" "$1/etc/passwd"' _ "$root"
    check "purge deletes the conffiles" test ! -e "$root/etc/logrotate.d/ovhost"
else
    cat "$work/purge.log"
    fail "purge"
fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
