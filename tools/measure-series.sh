#!/usr/bin/env bash
# Measures the gaps between the requests of an automatic series sent by
# VeluntTest: the real program on a virtual display, driven with xdotool as a
# user would (port, Automatic, quantity, Send), against the ticket service
# simulator, whose log gives the time each request arrived.
#
# Usage: tools/measure-series.sh [--build DIR] [--count N] [--keep]
#   --build DIR  build folder holding client/VeluntTest and
#                simulators/ticket-service/ticket-service (default build/default)
#   --count N    requests in the series (default 10)
#   --keep       tick "Keep Conection" (and keep the service's side open), so
#                every step reuses one connection instead of connecting anew
#
# Prints every gap, then min, max, mean and spread (max - min) in ms. The gap
# is meant to be 1000 ms plus the time one step takes to connect and send.
# Needs Xvfb and xdotool. Exit status: 0 when the series arrived complete.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build/default"
count=10
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --count) count=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "measure-series: unknown option $1" >&2; exit 2 ;;
    esac
done
client="$build/client/VeluntTest"
service="$build/simulators/ticket-service/ticket-service"
for f in "$client" "$service"; do
    [ -x "$f" ] || { echo "measure-series: $f is not built" >&2; exit 2; }
done
for t in Xvfb xdotool; do
    command -v "$t" >/dev/null || { echo "measure-series: $t is not installed" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/xvfb.sh"
start_xvfb "$work" 640x480x24
pids+=("$xvfb_pid")

service_args=(--port 0 --quiet --log "$work/service.log")
[ "$keep" = 1 ] && service_args+=(--keep)
"$service" "${service_args[@]}" >"$work/service.out" &
pids+=($!)
for _ in $(seq 50); do grep -q listening "$work/service.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/service.out" | head -n1)
[ -n "$port" ] || { echo "measure-series: the ticket service did not start" >&2; exit 1; }

"$client" 2>"$work/client.err" &
pids+=($!)
wid=$(timeout 10 xdotool search --sync --name '^Velunt Test$' | head -n1)
[ -n "$wid" ] || { echo "measure-series: the client window did not appear" >&2; exit 1; }
sleep 0.5

# Centres of the controls in pixels (15 twips each); controls inside the
# request frame are offset by the frame's place (120, 1080 twips = 8, 72 px).
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; sleep 0.1; }
replace_text() { click "$1" "$2"; xdotool key ctrl+a; xdotool type --delay 20 "$3"; sleep 0.1; }
replace_text 112 53 "$port"                # txtPort
[ "$keep" = 1 ] && click 233 56            # chkKeep
click 228 182                              # chkAuto
replace_text 104 221 "$count"              # txtQty
click 224 220                              # cmdSend

# Wait for the whole series: (count - 1) gaps of about a second.
limit=$(( (count + 10) * 10 ))
for _ in $(seq "$limit"); do
    n=$(grep -c ' <- [CS]|' "$work/service.log" 2>/dev/null || true)
    [ "${n:-0}" -ge "$count" ] && break
    sleep 0.1
done
n=$(grep -c ' <- [CS]|' "$work/service.log" 2>/dev/null || true)
if [ "${n:-0}" -lt "$count" ]; then
    echo "measure-series: only ${n:-0} of $count requests arrived" >&2
    cat "$work/service.log" >&2 || true
    exit 1
fi

# "YYYY-MM-DD HH:MM:SS.mmm #N <- C|t|a": the arrival time of each request.
grep ' <- [CS]|' "$work/service.log" | head -n "$count" | awk -v keep="$keep" '
{
    split($2, t, ":");
    ms = (t[1] * 3600 + t[2] * 60 + t[3]) * 1000;
    if (NR > 1) {
        gap = ms - last;
        gaps[NR - 1] = gap;
        printf "gap %2d  %-18s %8.0f ms\n", NR - 1, $5, gap;
        if (NR == 2 || gap < min) min = gap;
        if (NR == 2 || gap > max) max = gap;
        sum += gap;
    } else {
        printf "first   %-18s\n", $5;
    }
    last = ms;
}
END {
    n = NR - 1;
    printf "requests %d, gaps %d, connection %s\n", NR, n, keep ? "kept" : "new for each request";
    printf "min %.0f ms, max %.0f ms, mean %.1f ms, spread %.0f ms\n", min, max, sum / n, max - min;
}'
