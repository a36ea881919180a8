#!/usr/bin/env bash
# Cross-builds gps-analyzer for 64-bit Windows with MinGW-w64 against the Qt that build-qt.sh
# makes (built first when missing), into build-windows (or $GPSA_WINDOWS_BUILD), and lays out
# the runnable folder build-windows/gps-analyzer: the program, the Qt DLLs and plugins, the
# MinGW run-time DLLs. Arguments name the targets to build (default: all, the test programs
# among them).
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${GPSA_WINDOWS_BUILD:-build-windows}"
jobs="${JOBS:-$(nproc)}"

tools/windows/build-qt.sh
targets=()
for t in "$@"; do targets+=(--target "$t"); done

mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/tools/windows/mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DGPSA_WERROR=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine > "$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j "$jobs" "${targets[@]}"
rm -rf "$build/gps-analyzer"
cmake --install "$build" --prefix "$build/gps-analyzer" --strip > /dev/null
echo "Windows program: $build/gps-analyzer ($(du -sh "$build/gps-analyzer" | cut -f1))"
