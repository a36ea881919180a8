#!/usr/bin/env bash
# Installs the Debian 12 packages that the Windows build and its tests under Wine need, skipping
# those already there: the MinGW-w64 cross compiler, Wine, NSIS, and Xvfb for the window's
# screenshot. Run as root, or as a user who may use sudo.
set -euo pipefail

packages=(
    g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 nsis
    cmake ninja-build dpkg-dev qt6-base-dev qt6-base-dev-tools xz-utils zstd
    socat perl-base xvfb xauth x11-utils imagemagick
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
