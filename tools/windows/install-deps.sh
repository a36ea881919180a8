#!/usr/bin/env bash
# Installs the Debian 12 packages that the Windows build and its tests under Wine need, skipping
# those already there: the MinGW-w64 cross compiler, Wine, NSIS, and Xvfb for the window's
# screenshot. Run as root, or as a user who may use sudo.
set -euo pipefail

exec "$(dirname "$0")/../install-deps.sh" \
    g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 nsis \
    cmake ninja-build dpkg-dev qt6-base-dev qt6-base-dev-tools xz-utils zstd \
    socat perl-base xvfb xauth x11-utils imagemagick
