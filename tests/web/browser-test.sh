#!/usr/bin/env bash
# The live view in a real browser: the headless program with --web on loopback, a tracker that
# connects and sends an NMEA sentence and stays connected, and headless Chromium that opens the
# page with the token; the page must show the chunk's ASCII and hex lines and the tracker's
# connect line, as the program's standard output shows them; since it decodes, the sentence's
# position in the table and as a point of the track; and since it serves several trackers at
# once, the tracker's row with its protocol and counts.
# Usage: browser-test.sh GPS-ANALYZER CHROMIUM
set -euo pipefail
program=$1
chromium=$2
work=$(mktemp -d)
trap 'kill $analyzer 2>/dev/null || true; exec 3>&- 2>/dev/null || true; rm -rf "$work"' EXIT

token=browser-test-token-0123456789
in_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$program" --headless --in-port "$in_port" --capture-dir "$work/capture" --web 127.0.0.1:0 --web-token "$token" \
    --decode --max-trackers 2 >"$work/out" 2>"$work/err" &
analyzer=$!
for _ in $(seq 100); do
    grep -q '^Listening on TCP port' "$work/out" && break
    sleep 0.1
done
address=$(sed -n 's/^Live view: //p' "$work/out")
[[ $address == "http://127.0.0.1:"*"/?token=$token" ]] || { cat "$work/out" "$work/err"; exit 1; }

# The first sentence of the NMEA 0183 examples of the GPRMC description (gpsd's NMEA notes).
exec 3<>"/dev/tcp/127.0.0.1/$in_port"
printf '$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n' >&3
for _ in $(seq 100); do
    grep -q ' IN .*(HEXAD)' "$work/out" && break
    sleep 0.1
done

# The budget is Chromium's virtual time, which the WebSocket's messages do not hold back: on a
# busy machine the page can be dumped before they arrive, so it is opened again until the last
# of them (the track) is in.
for _ in 1 2 3 4 5; do
    "$chromium" --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" --virtual-time-budget=5000 \
        --dump-dom "$address" >"$work/dom" 2>"$work/chromium.err"
    grep -q '<polyline points=' "$work/dom" && break
done

fail=0
expect() {
    if ! grep -qF -- "$1" "$work/dom"; then
        echo "The page lacks: $1"
        fail=1
    fi
}
ascii=$(grep -a ' IN .*(ASCII)' "$work/out" | tr -d '\r')
hex=$(grep -a ' IN .*(HEXAD)' "$work/out" | tr -d '\r')
expect "<div class=\"line\">$ascii"
expect "<div class=\"line\">$hex</div>"
tracker=$(sed -n 's/^Tracker \(127\.0\.0\.1:[0-9]*\) connected\.\r$/\1/p' "$work/out")
expect "<div class=\"line\">Tracker $tracker connected.</div>"
expect '<p id="status" class="status live">Live</p>'
expect '<section id="part-positions" class="part">'
expect '<td>GPRMC</td><td>1994-03-23T12:35:19Z</td><td>valid</td><td>48.1173000</td><td>11.5166667</td>'
expect '<polyline points='
expect "<tr><td>$tracker</td><td>NMEA</td><td></td><td class=\"number\">1</td><td class=\"number\">70</td><td class=\"number\">0</td>"
expect '<small id="tracker-count">1 tracker connected</small>'
if grep -q "$token" "$work/dom"; then
    echo "The page shows the token"
    fail=1
fi
[[ $fail == 0 ]] || { cat "$work/dom"; exit 1; }
echo "1 passed, 0 failed"
