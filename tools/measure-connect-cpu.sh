#!/usr/bin/env bash
# CPU time VeluntTest uses while one connection attempt stays pending.
#
# Starts a private Xvfb display, a ticket-service with --backlog-full (a
# loopback listener whose queue is full, so the handshake never completes),
# and VeluntTest; types the service's port into the window and clicks Send,
# then reads VeluntTest's CPU time over the next SECONDS seconds (default 3),
# checking that the attempt is still pending at the end. Also runs
# connect_wait_cpu, the same wait on the socket seam alone.
#
#   tools/measure-connect-cpu.sh [build-dir] [seconds]     (default build/default, 3)
#
# Needs Xvfb, xdotool and ss; builds the three programs in build-dir first.
# Target: under 2% of one core.

set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
span=${2:-3}
case $build in /*) ;; *) build=$root/$build ;; esac

for tool in Xvfb xdotool ss; do
    command -v "$tool" >/dev/null || { echo "measure-connect-cpu: $tool is not installed" >&2; exit 2; }
done

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target VeluntTest ticket-service connect_wait_cpu -j2 >/dev/null

client=$build/client/VeluntTest
service=$build/simulators/ticket-service/ticket-service
bench=$build/bench/client/connect_wait_cpu

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# A free display number.
display=
for n in $(seq 90 140); do
    if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then display=:$n; break; fi
done
[[ -n $display ]] || { echo "measure-connect-cpu: no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdotool getdisplaygeometry --display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
export DISPLAY=$display

"$service" --port 0 --backlog-full --quiet >"$work/service.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q 'listening on' "$work/service.out" && break; sleep 0.1; done
port=$(sed -n 's/.*listening on [^ ]*:\([0-9]*\).*/\1/p' "$work/service.out")
[[ -n $port ]] || { echo "measure-connect-cpu: the ticket service did not start" >&2; cat "$work/service.out" >&2; exit 1; }

"$client" >"$work/client.log" 2>&1 &
client_pid=$!
pids+=("$client_pid")
window=
for _ in $(seq 100); do
    window=$(xdotool search --name '^Velunt Test$' 2>/dev/null | head -n1) && [[ -n $window ]] && break
    sleep 0.1
done
[[ -n $window ]] || { echo "measure-connect-cpu: the VeluntTest window did not appear" >&2; exit 1; }
sleep 0.5

# Window positions in pixels (15 twips each): txtPort at 1080,600 size 1215x405;
# cmdSend at 2280,1920 size 1935x615 inside frmDades at 120,1080.
xdotool mousemove --window "$window" 112 53 click --clearmodifiers 1
xdotool key --window "$window" ctrl+a
xdotool type --window "$window" "$port"
sleep 0.3

# CPU time of every thread of the process, in nanoseconds.
cpu_ns() {
    local total=0 run _
    for f in /proc/"$1"/task/*/schedstat; do
        read -r run _ <"$f" 2>/dev/null || continue
        total=$((total + run))
    done
    echo "$total"
}
# Handshakes of VeluntTest itself still under way to the service's port (the
# service's own queue fillers are pending too, so the process is checked).
pending() { ss -Htnp state syn-sent "( dport = :$port )" | grep -c "pid=$client_pid," || true; }

before_click_ns=$(cpu_ns "$client_pid")
xdotool mousemove --window "$window" 224 220 click 1
sleep 0.2
[[ $(pending) -ge 1 ]] || { echo "measure-connect-cpu: no connection attempt to port $port is pending" >&2; exit 1; }
start_ns=$(cpu_ns "$client_pid")
start_t=$(date +%s%N)
sleep "$span"
end_ns=$(cpu_ns "$client_pid")
end_t=$(date +%s%N)
still=$(pending)

used_ms=$(awk -v a="$start_ns" -v b="$end_ns" 'BEGIN { printf "%.3f", (b - a) / 1e6 }')
wall_s=$(awk -v a="$start_t" -v b="$end_t" 'BEGIN { printf "%.2f", (b - a) / 1e9 }')
share=$(awk -v a="$start_ns" -v b="$end_ns" -v s="$start_t" -v e="$end_t" 'BEGIN { printf "%.3f", 100 * (b - a) / (e - s) }')
click_ms=$(awk -v a="$before_click_ns" -v b="$start_ns" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')
echo "VeluntTest: the click on Send and the start of the attempt took ${click_ms} ms of cpu"
echo "VeluntTest: attempt pending over ${wall_s} s (still pending at the end: $([[ $still -ge 1 ]] && echo yes || echo no)), cpu ${used_ms} ms = ${share}% of one core (target < 2%)"

# The same wait on the seam alone.
"$bench" "$span" 2>/dev/null || true

[[ $still -ge 1 ]] && awk -v p="$share" 'BEGIN { exit !(p < 2) }'
