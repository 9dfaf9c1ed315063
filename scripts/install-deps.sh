#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running qvlink-monitor need,
# skipping those already present. Uses sudo when not run as root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    libsqlite3-dev sqlite3 libqcustomplot-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libpcap-dev tshark
    libmosquitto-dev mosquitto mosquitto-clients libmicrohttpd-dev openssl nlohmann-json3-dev
    clang-14 libclang-rt-14-dev
    fonts-liberation fonts-wine
    xvfb xauth
    iproute2 libcap2-bin
    dpkg-dev file desktop-file-utils man-db
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
