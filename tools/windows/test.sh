#!/usr/bin/env bash
# Builds gps-analyzer for 64-bit Windows and tests it under Wine: installs what is missing,
# builds Qt for Windows once (the cache keeps it), builds the program and its test programs,
# and runs the test programs under Wine, the headless program end to end (a tracker and an
# OUT server on Linux over loopback), the window under Xvfb for a screenshot, and the
# installer and the zip (a silent install, --version, the uninstall).
# --smoke builds the program alone and checks --version and one captured chunk under Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
mode="${1:-all}"
case "$mode" in
    all | --smoke) ;;
    *) echo "usage: tools/windows/test.sh [--smoke]" >&2; exit 2 ;;
esac
export GPSA_WINDOWS_BUILD="${GPSA_WINDOWS_BUILD:-build-windows}"
build="$GPSA_WINDOWS_BUILD"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/gps-analyzer"
qt="${GPSA_QT_PREFIX:-$cache/qt-6.4.2-mingw64}"
app="$build/gps-analyzer"
version="$(sed -n 's/^project(gps-analyzer VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
work="$(mktemp -d)"
children=()
cleanup() {
    for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

times=()
timed() {
    local label="$1" start=$SECONDS
    shift
    echo "== $label"
    "$@"
    times+=("$label: $((SECONDS - start)) s")
}
fail() { echo "FAILED: $*" >&2; exit 1; }

tools/windows/install-deps.sh
timed "Qt for Windows" tools/windows/build-qt.sh
if [ "$mode" = --smoke ]; then
    timed "program" tools/windows/build.sh gps-analyzer
else
    timed "program and test programs" tools/windows/build.sh
fi

# Wine, in a prefix of its own: a 64-bit Windows 10 without Mono or Gecko.
export WINEPREFIX="${GPSA_WINEPREFIX:-$cache/wine}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
windows_path() { local p; p="$(realpath -m "$1")"; printf 'Z:%s' "${p//\//\\}"; }
if [ ! -f "$WINEPREFIX/.gpsa-ready" ]; then
    rm -rf "$WINEPREFIX"
    timed "Wine prefix" bash -c 'wineboot --init && wine winecfg -v win10 && wineserver -w' > /dev/null 2>&1
    touch "$WINEPREFIX/.gpsa-ready"
fi
runtime="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")"
threads="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")"
# The test programs in the build folder find their DLLs along WINEPATH.
export WINEPATH="$(windows_path "$qt/bin");$(windows_path "$runtime");$(windows_path "$threads")"
# Wine hands the program no QT_ variable of Linux; WINEQT_ ones arrive without the prefix.
# Qt's offscreen platform on Windows reads fonts from one folder: Debian's, gathered.
mkdir -p "$build/fonts"
ln -sf /usr/share/fonts/truetype/dejavu/*.ttf /usr/share/fonts/truetype/liberation2/*.ttf "$build/fonts/"
export WINEQT_QPA_PLATFORM=offscreen WINEQT_FORCE_STDERR_LOGGING=1 WINEQT_QPA_FONTDIR="$(windows_path "$build/fonts")"
# Wine's server and services run from here on with no terminal of ours: a program or test that
# started them would hold its output open until they end. They find the display they start on.
start_wine() {
    wineserver -p < /dev/null > /dev/null 2>&1 || true # already running
    wine wineboot < /dev/null > /dev/null 2>&1
}
start_wine

free_port() { perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(Listen => 1, LocalAddr => "127.0.0.1:0")->sockport'; }
# Waits up to 60 s for a file to hold a text.
wait_for_text() {
    for _ in $(seq 600); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    fail "no '$2' in $1: $(cat "$1" 2>/dev/null)"
}
same_bytes() { cmp -s "$1" "$2" || fail "$1 differs from $2: $(od -c "$1" | head -5)"; }

check_version() {
    local out
    out="$(wine "$1" --version | tr -d '\r')"
    [ "$out" = "gps-analyzer $version" ] || fail "--version gave '$out'"
    echo "$out"
}

# The headless program captures a tracker's chunk byte for byte into the folder Wine maps;
# with relay options, it relays the chunk to an OUT server on Linux and passes its answer
# back to the tracker, capturing that too.
check_capture() {
    local kind="$1" dir="$work/capture-$1" in out chunk answer pid
    mkdir -p "$dir"
    in="$(free_port)"
    out="$(free_port)"
    chunk='$GPRMC,123519,A,4807.038,N,01131.000,E*6A'
    printf '%s' "$chunk" > "$dir/chunk"
    local options=(--headless --in-port "$in" --capture-dir "$(windows_path "$dir/capture")")
    if [ "$kind" = relay ]; then
        printf 'ACK' > "$dir/answer"
        socat "TCP-LISTEN:$out,bind=127.0.0.1,reuseaddr" \
            SYSTEM:"head -c ${#chunk} > '$dir/relayed'; cat '$dir/answer'; sleep 5" &
        children+=($!)
        options+=(--relay --out-host 127.0.0.1 --out-port "$out" --pass-answers)
    fi
    wine "$app/gps-analyzer.exe" "${options[@]}" > "$dir/stdout" 2> "$dir/stderr" &
    pid=$!
    children+=("$pid")
    wait_for_text "$dir/stdout" "Listening on TCP port $in"
    exec 3<> "/dev/tcp/127.0.0.1/$in"
    printf '%s' "$chunk" >&3
    if [ "$kind" = relay ]; then
        answer="$(timeout 30 head -c 3 <&3)" || true
        [ "$answer" = ACK ] || fail "the tracker got '$answer' instead of the server's ACK"
    fi
    exec 3>&-
    wait_for_text "$dir/stdout" "Tracker 127.0.0.1 disconnected."
    same_bytes "$dir/capture/x0001_$in.dat" "$dir/chunk"
    printf ' %d \r\n' "${#chunk}" > "$dir/length"
    same_bytes "$dir/capture/x0001_$in.log" "$dir/length"
    if [ "$kind" = relay ]; then
        same_bytes "$dir/relayed" "$dir/chunk"
        wait_for_text "$dir/stdout" "-> (ASCII):ACK"
        same_bytes "$dir/capture/x0002_$out.dat" "$dir/answer"
    fi
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "captured under Wine: $(cd "$dir/capture" && echo x0*)"
}

timed "--version under Wine" check_version "$app/gps-analyzer.exe"
timed "one captured chunk under Wine" check_capture plain
if [ "$mode" = --smoke ]; then
    printf '%s\n' "${times[@]}"
    exit 0
fi

run_tests() {
    local log="$build/ctest-wine.log" status=0
    # Wine takes the programs' regional settings from the Linux locale: en-US, which the date
    # and time texts are compared with (Wine's default where that locale is not installed).
    LC_ALL=en_US.UTF-8 ctest --test-dir "$build" -V -j "${JOBS:-$(nproc)}" --timeout 300 > "$log" 2>&1 || status=$?
    grep -E '^ *[0-9]+: SKIP ' "$log" | sed 's/^ *[0-9]*: //' | sort -u > "$build/skipped-on-wine.txt" || true
    grep -E 'tests passed|Passed|Failed|Not Run|\*\*\*' "$log" | grep -v '^ *[0-9]*: ' || true
    echo "skipped rows: $(wc -l < "$build/skipped-on-wine.txt") (listed in $build/skipped-on-wine.txt)"
    [ "$status" -eq 0 ] || { grep -E '^ *[0-9]+: (FAIL|XPASS)|Loc:|Timeout' "$log" | head -40 || true; failed=1; }
}

check_export() {
    local dir="$work/capture-relay/capture" status=0
    wine "$app/gps-analyzer.exe" export --capture-dir "$(windows_path "$dir")" -o "$(windows_path "$work/s.pcap")" \
        > "$work/export.out" 2> "$work/export.err" || status=$?
    [ "$status" -eq 1 ] && grep -q 'needs Npcap' "$work/export.err" && [ ! -e "$work/s.pcap" ] ||
        fail "export: status $status, $(cat "$work/export.err")"
    tr -d '\r' < "$work/export.err"
}

screenshot() {
    local shot="$build/screenshot-wine.png" in
    in="$(free_port)"
    wineserver -k
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
        set -e
        unset WINEQT_QPA_PLATFORM
        wineserver -p < /dev/null > /dev/null 2>&1
        wine wineboot < /dev/null > /dev/null 2>&1
        # In a Wine desktop of its own, which draws the window'"'"'s frame and caption as Windows does.
        wine explorer /desktop=gps-analyzer,1280x1024 "$1/gps-analyzer.exe" --in-port "$2" --start \
            --capture-dir "$3" 2> /dev/null &
        pid=$!
        for _ in $(seq 600); do { exec 3<> "/dev/tcp/127.0.0.1/$2"; } 2> /dev/null && break; sleep 0.1; done
        printf "\$GPRMC,123519,A,4807.038,N,01131.000,E*6A\r\n" >&3
        for _ in $(seq 100); do [ -e "$5/x0001_$2.log" ] && break; sleep 0.1; done
        exec 3>&-
        sleep 2 # the disconnection shown
        import -window root "$4"
        kill $pid
        wait $pid || true
        wineserver -k' _ "$app" "$in" "$(windows_path "$work/shot-capture")" "$shot" "$work/shot-capture"
    start_wine
    [ -s "$shot" ] || fail "no screenshot"
    echo "window under Wine and Xvfb: $shot"
}

package() {
    rm -f "$build"/gps-analyzer-*-win64*
    (cd "$build" && cpack -G NSIS > cpack-nsis.log && cpack -G ZIP > cpack-zip.log)
    ls -l "$build"/gps-analyzer-*-win64*.{exe,zip}
}

check_installer() {
    local setup="$build/gps-analyzer-$version-win64-setup.exe"
    local dir="$WINEPREFIX/drive_c/Program Files/gps-analyzer"
    local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/gps-analyzer"
    local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\gps-analyzer'
    wine "$setup" /S
    # The installer may go on in a process of its own.
    for _ in $(seq 600); do [ -f "$dir/Uninstall.exe" ] && [ -f "$menu/desktop.ini" ] && break; sleep 0.1; done
    [ -f "$dir/gps-analyzer.exe" ] && [ -f "$dir/platforms/qwindows.dll" ] || fail "nothing installed in $dir"
    check_version "$dir/gps-analyzer.exe"
    [ -f "$menu/gps-analyzer.lnk" ] || fail "no Start-menu entry in $menu"
    grep -q 'gps-analyzer.lnk=TCP/IP GPS Protocol Analyzer' "$menu/desktop.ini" || fail "the entry has no name"
    wine reg query "$key" > /dev/null 2>&1 || fail "no uninstall entry"
    wine "$dir/Uninstall.exe" /S
    # The uninstaller goes on from a copy of itself in the temporary folder.
    for _ in $(seq 600); do [ -e "$dir" ] || [ -e "$menu" ] || break; sleep 0.1; done
    [ ! -e "$dir" ] && [ ! -e "$menu" ] || fail "the uninstaller left $(ls "$dir" "$menu" 2>&1)"
    ! wine reg query "$key" > /dev/null 2>&1 || fail "the uninstall entry stayed"
    echo "installed, answered --version, uninstalled"
}

failed=0
timed "test programs under Wine" run_tests
timed "relay and answers under Wine" check_capture relay
timed "export without libpcap" check_export
timed "window screenshot" screenshot
timed "installer and zip" package
timed "silent install and uninstall" check_installer
echo "== sizes"
du -sh "$qt" "$app" "$build"/gps-analyzer-*-win64*.{exe,zip} | sed 's/^/   /'
echo "== times"
printf '   %s\n' "${times[@]}"
[ "$failed" -eq 0 ] || fail "tests under Wine"
