#!/bin/sh
# Installs the build into a staging prefix and checks the files that a desktop, man and systemd
# look for; then that the manual page takes in a subcommand as soon as it answers --help.
# desktop-file-validate, systemd-analyze and groff check their files where they are installed.
#
#   check-install.sh CMAKE BUILD_DIR SOURCE_DIR
set -eu
cmake=$1
build=$2
source=$3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
have() { command -v "$1" >/dev/null 2>&1 || { echo "SKIP: $1 is not installed, its check is left out"; return 1; }; }

"$cmake" --install "$build" --prefix "$stage" >/dev/null
page=$stage/share/man/man1/gps-analyzer.1
desktop=$stage/share/applications/gps-analyzer.desktop
unit=$stage/lib/systemd/system/gps-analyzer@.service
for file in "$stage/bin/gps-analyzer" "$page" "$desktop" "$unit" "$stage/share/icons/hicolor/scalable/apps/gps-analyzer.svg"; do
    [ -s "$file" ] || fail "$file is not installed"
done
# Each PNG has the size that its folder names: the width and height in its header.
for side in 16 32 48 256; do
    png=$stage/share/icons/hicolor/${side}x$side/apps/gps-analyzer.png
    [ "$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')" = "${side}x$side" ] ||
        fail "$png is not ${side}x$side"
done

# The service runs the program where this install put it, wherever the build meant to put it.
grep -q "^ExecStart=$stage/bin/gps-analyzer --headless --in-port %i " "$unit" || fail "$unit runs another program"

head -n 1 "$page" | grep -q '^\.TH GPS\\-ANALYZER 1 ' || fail "$page is not a manual page"
for option in $("$stage/bin/gps-analyzer" --help | grep -o -- '--[a-z-]*' | sort -u); do
    grep -qF "\\fB$(printf '%s' "$option" | sed 's/-/\\-/g')\\fR" "$page" || fail "$page lacks $option"
done
if have groff; then
    [ -z "$(groff -man -ww -z "$page" 2>&1)" ] || fail "groff warns about $page"
fi
if have desktop-file-validate; then
    desktop-file-validate "$desktop" || fail "$desktop is not valid"
fi
if have systemd-analyze; then
    # An instance, as `systemctl enable gps-analyzer@5000` makes; Documentation= must find the page.
    (cd "$stage/lib/systemd/system" && MANPATH=$stage/share/man systemd-analyze verify gps-analyzer@5000.service) ||
        fail "$unit does not verify"
fi

# A program whose export subcommand answers --help and whose replay does not.
cat >"$stage/program" <<'PROGRAM'
#!/bin/sh
case "$*" in
--version) echo "gps-analyzer 1.0" ;;
--help) printf 'Usage: gps-analyzer [options]\nAnalyzer.\n\nOptions:\n  -h, --help  Help.\n' ;;
"export --help") printf 'Usage: gps-analyzer export [options] folder\nExports.\n\nOptions:\n  --format <NAME>  Format.\n' ;;
*) exit 2 ;;
esac
PROGRAM
chmod +x "$stage/program"
sh "$source/packaging/make-manpage.sh" "$stage/program" Analyzer 2000-01-01 "$stage/program.1"
grep -qx '\.SS "gps\\-analyzer export \[options\] folder"' "$stage/program.1" || fail "the page lacks export"
grep -qF '\fB\-\-format\fR \fI<NAME>\fR' "$stage/program.1" || fail "the page lacks the options of export"
! grep -q replay "$stage/program.1" || fail "the page has a replay that does not exist"
echo "install layout: all checks passed"
