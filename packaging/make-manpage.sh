#!/bin/sh
# Writes the manual page of the program, in troff, to OUTPUT, made from what the
# program itself prints for --version and --help, so that the page follows every change of
# its options. A subcommand of SUBCOMMANDS gets a section of its own once
# `PROGRAM SUBCOMMAND --help` exits 0.
#
#   make-manpage.sh PROGRAM SUMMARY DATE OUTPUT
#
# The help text is the layout of QCommandLineParser: a "Usage:" line, the description, then
# sections such as "Options:" whose entries start two blanks in and whose descriptions
# continue on lines indented further.
set -eu

program=$1
summary=$2
date=$3
output=$4
subcommands="export replay"

# HOME names the reader's home, not the builder's, in defaults such as the capture folder.
# shellcheck disable=SC2016
run() { HOME='$HOME' "$program" "$@"; }

# Backslashes and minus signs as troff wants them, so that options can be copied and pasted.
escape() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g'; }

# One help text as troff. MODE "main" makes the page's own sections; any other mode makes the
# part of the COMMANDS section for that subcommand.
render() {
    escape | awk -v mode="$1" '
        function out(text) { if (text ~ /^[.\047]/) text = "\\&" text; print text }
        function trim(text) { sub(/^ +/, "", text); sub(/ +$/, "", text); return text }
        # "\-h, \-\-in\-port <TEXT>": option names bold, value placeholders and arguments italic.
        function names(text,   parts, n, i, item, blank, result) {
            n = split(text, parts, /, /)
            for (i = 1; i <= n; i++) {
                item = parts[i]
                blank = index(item, " ")
                if (blank > 0)
                    item = "\\fB" substr(item, 1, blank - 1) "\\fR \\fI" substr(item, blank + 1) "\\fR"
                else if (item ~ /^\\-/)
                    item = "\\fB" item "\\fR"
                else
                    item = "\\fI" item "\\fR"
                result = result (i > 1 ? ", " : "") item
            }
            return result
        }
        /^Usage: / {
            usage = substr($0, 8)
            if (mode == "main") {
                print ".SH DESCRIPTION"
            } else {
                print ".SS \"" usage "\""
            }
            paragraph = pending = 0
            next
        }
        # A blank line parts two paragraphs of text, and nothing before a heading or an entry.
        /^$/ { pending = paragraph; next }
        /^[A-Z][a-z]*:$/ {
            heading = substr($0, 1, length($0) - 1)
            if (mode == "main") print ".SH " toupper(heading)
            else { print ".PP"; print "\\fB" heading "\\fR" }
            inSection = 1; paragraph = pending = 0
            next
        }
        inSection && /^  [^ ]/ {
            entry = substr($0, 3)
            gap = index(entry, "  ")
            pending = 0
            print ".TP"
            if (gap > 0) {
                print names(substr(entry, 1, gap - 1))
                out(trim(substr(entry, gap)))
            } else {
                print names(entry)
            }
            next
        }
        {
            if (pending) print ".PP"
            out(trim($0)); paragraph = 1; pending = 0
        }
    '
}

# The first line of the usage: the program's name in bold, then its arguments.
synopsis() {
    sed -n 's/^Usage: //p' | head -n 1 | escape |
        awk '{ blank = index($0, " "); if (blank == 0) blank = length($0) + 1
               print ".B " substr($0, 1, blank - 1); if (blank <= length($0)) print substr($0, blank + 1) }'
}

version=$(run --version)
name=${version%% *}
help=$(run --help)
available=
for command in $subcommands; do
    if run "$command" --help >/dev/null 2>&1; then
        available="$available $command"
    fi
done

# Written aside and moved in place at the end, so that a failure leaves no page that looks done.
exec >"$output.part"
printf '.TH %s 1 "%s" "%s" "User Commands"\n' "$(printf '%s\n' "$name" | tr '[:lower:]' '[:upper:]' | escape)" \
    "$date" "$(printf '%s\n' "$version" | escape)"
printf '.SH NAME\n%s \\- %s\n' "$(printf '%s\n' "$name" | escape)" "$(printf '%s\n' "$summary" | escape)"
printf '.SH SYNOPSIS\n'
printf '%s\n' "$help" | synopsis
for command in $available; do
    printf '.br\n'
    run "$command" --help | synopsis
done

printf '%s\n' "$help" | render main
if [ -n "$available" ]; then
    printf '.SH COMMANDS\n'
    for command in $available; do
        run "$command" --help | render "$command"
    done
fi
mv "$output.part" "$output"
