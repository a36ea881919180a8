#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing gps-analyzer need,
# skipping those already there; with packages named as arguments, those instead. Run as root, or
# as a user who may use sudo.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config libpcap-dev
    qt6-base-dev qt6-base-dev-tools
    # the live web view's server; its page's checks: the script parsed, the page in a browser
    qt6-websockets-dev nodejs chromium
    fonts-dejavu-core fonts-liberation2
    # tests, fuzzing and benchmarks
    clang libclang-rt-14-dev socat netcat-openbsd
    # read the pcap export and the positions export back in their tests
    tshark gpsbabel
    # the Debian package (dpkg-shlibdeps) and the checks of the installed files
    dpkg-dev desktop-file-utils groff-base
)
[ $# -eq 0 ] || packages=("$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
