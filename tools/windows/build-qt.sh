#!/usr/bin/env bash
# Cross-builds Qt 6.4.2 for 64-bit Windows (QtCore, QtGui, QtWidgets, QtNetwork, QtTest and
# the windows and offscreen platform plugins) from Debian's qt6-base source package, and
# installs it into the cache folder, which later runs reuse while it is complete. The host's
# Qt 6.4.2 supplies the build tools (moc, rcc, uic).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/gps-analyzer"
prefix="${GPSA_QT_PREFIX:-$cache/qt-6.4.2-mingw64}"
work="$cache/qt-6.4.2-mingw64-work"
jobs="${JOBS:-$(nproc)}"
# Changing the configuration below changes this line, and so builds Qt anew.
stamp_text="qt 6.4.2 mingw64 posix; features v1"

if [ "$(cat "$prefix/.complete" 2>/dev/null)" = "$stamp_text" ]; then
    echo "Qt for Windows: $prefix (cached)"
    exit 0
fi

host_version="$(dpkg-query -W -f='${source:Version}' qt6-base-dev)"
case "$host_version" in
    6.4.2*) ;;
    *) echo "build-qt.sh: the host's Qt is $host_version, not 6.4.2" >&2; exit 1 ;;
esac

mkdir -p "$work"
src="$work/qt6-base-6.4.2+dfsg"
if [ ! -f "$src/.unpacked" ]; then
    # Debian's source entries in a private apt folder, for this one download: the machine's
    # own apt set-up stays as it is.
    apt="$work/apt"
    rm -rf "$apt" "$src"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" > "$apt/sources.list.d/$(basename "$f")"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && { grep -E '^deb ' "$f" | sed 's/^deb /deb-src /' > "$apt/sources.list.d/$(basename "$f").list" || true; }
    done
    opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources.list.d"
          -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
    # A third-party entry without sources fails its part of the update; the source download
    # below tells whether Debian's part arrived.
    apt-get "${opts[@]}" update -qq || true
    (cd "$work" && { apt-get "${opts[@]}" source -qq --only-source "qt6-base=$host_version" ||
                     apt-get "${opts[@]}" source -qq --only-source qt6-base; })
    [ -d "$src" ] || { echo "build-qt.sh: no qt6-base 6.4.2 source unpacked in $work" >&2; exit 1; }
    # Without direct2d, the windows plugin must leave out the DirectWrite font database too,
    # which only a direct2d build compiles.
    sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
        "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"
    [ "$(grep -c 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' \
        "$src/src/plugins/platforms/windows/qwindowsintegration.cpp")" -eq 2 ] ||
        { echo "build-qt.sh: the direct2d change did not apply" >&2; exit 1; }
    touch "$src/.unpacked"
fi

# Everything the program does not use is off: it keeps the build to about 1,100 steps.
# tabletevent needs the wintab headers, which Debian's repacked source leaves out.
off=()
for f in sql dbus opengl vulkan printsupport concurrent xml jpeg gif ico icu glib openssl \
         direct2d pkg_config tabletevent; do
    off+=("-DFEATURE_$f=OFF")
done
cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/mingw64.cmake" -DGPSA_QT_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DINPUT_opengl=no "${off[@]}" > "$work/configure.log" ||
    { tail -40 "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" -j "$jobs" > "$work/build.log" ||
    { grep -B2 -A20 'FAILED' "$work/build.log" | head -60 >&2; exit 1; }
rm -rf "$prefix"
cmake --install "$work/build" --strip > "$work/install.log" 2>&1
echo "$stamp_text" > "$prefix/.complete"
rm -rf "$work"
echo "Qt for Windows: $prefix ($(du -sh "$prefix" | cut -f1))"
