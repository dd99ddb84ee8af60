#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing (apt, as root).
set -euo pipefail
pkgs=(build-essential cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
      libgmock-dev libbenchmark-dev libcpp-httplib-dev nlohmann-json3-dev expect inetutils-telnet
      python3 python3-pexpect python3-pyte chromium fail2ban logrotate systemd libboost-dev
      fonts-dejavu-core libssh-dev openssh-client python3-paramiko bsdgames)
# Node.js may come from another packaging whose nodejs conflicts with Debian's npm: the commands
# are what the browser tests need, so only ask apt for them when they are absent.
command -v node >/dev/null 2>&1 || pkgs+=(nodejs)
command -v npm >/dev/null 2>&1 || pkgs+=(npm)
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]} (run as root to install them)" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
