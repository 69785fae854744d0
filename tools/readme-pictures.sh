#!/usr/bin/env bash
# Makes the README's two pictures of the tools in use, on a private X server:
#
#   docs/testing-report.png       Testing after Connect, 125 and Charge, with
#                                 its report box open
#   docs/velunttest-transcript.png VeluntTest after Send to the ticket service
#                                 simulator, the request and reply in its
#                                 transcript
#
#   tools/readme-pictures.sh [<build dir>]      (default build/default)
#
# It clicks and types with xdotool at the controls' designed places (there
# is no window manager, so every window opens where it was designed to).
# Needs: xvfb (Xvfb), xdotool, imagemagick (import, convert).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build/default}" && pwd)
for tool in Xvfb xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null || true; done
    rm -rf -- "$work"
}
trap cleanup EXIT
source "$repo/tools/xvfb.sh"
start_xvfb "$work"
pids+=("$xvfb_pid")
export QT_QPA_PLATFORM=xcb

window_named() {  # <exact title>
    local pattern
    pattern="^$(printf '%s' "$1" | sed 's/[][\.|$(){}?+*^]/\\&/g')\$"
    timeout 20 xdotool search --sync --onlyvisible --name "$pattern" 2>/dev/null | head -n 1
}
# Clicks at a place given in twips from the window's client area (15 twips
# to a pixel), as the window tables give the controls.
click_at() {  # <window> <left twips> <top twips>
    xdotool mousemove --window "$1" $(($2 / 15)) $(($3 / 15)) click 1
}
type_into() {  # <window> <left twips> <top twips> <text>
    click_at "$1" "$2" "$3"
    xdotool key ctrl+a
    xdotool type --delay 20 "$4"
}
# Waits until the window has painted: two captures in a row alike.
settled_capture() {  # <window id or root> <out>
    local previous="" i
    for i in $(seq 20); do
        sleep 0.3
        import -window "$1" "$work/shot$i.png"
        if [[ -n $previous ]] && [[ $(compare -metric AE "$previous" "$work/shot$i.png" null: 2>&1 || true) == 0 ]]; then
            break
        fi
        previous=$work/shot$i.png
    done
    cp -- "$work/shot$i.png" "$2"
}
geometry() {  # <window>: prints x y width height
    xdotool getwindowgeometry --shell "$1" | awk -F= '/^(X|Y|WIDTH|HEIGHT)=/ { printf "%s ", $2 }'
}

# --- Testing with a report box open.
MONVIA_CLASS_REGISTRY=$build/registry "$build/panel/Testing" >"$work/panel.log" 2>&1 &
pids+=($!)
panel=$(window_named "Monvia Test Program")
[[ -n $panel ]] || { cat "$work/panel.log" >&2; echo "$0: the panel did not open" >&2; exit 1; }
sleep 0.5
click_at "$panel" $((480 + 735)) $((270 + 180))  # Connect
box=$(window_named Testing)
[[ -n $box ]] || { echo "$0: Connect showed no box" >&2; exit 1; }
xdotool windowfocus --sync "$box" key Return
for _ in $(seq 50); do xdotool search --onlyvisible --name '^Testing$' >/dev/null 2>&1 || break; sleep 0.1; done
type_into "$panel" $((3660 + 1000)) $((720 + 217)) 125  # Import
click_at "$panel" $((480 + 735)) $((780 + 180))         # Charge
box=$(window_named Testing)
[[ -n $box ]] || { echo "$0: Charge showed no box" >&2; exit 1; }
settled_capture root "$work/screen.png"
read -r px py pw ph <<<"$(geometry "$panel")"
read -r bx by bw bh <<<"$(geometry "$box")"
left=$((px < bx ? px : bx)) top=$((py < by ? py : by))
right=$((px + pw > bx + bw ? px + pw : bx + bw)) bottom=$((py + ph > by + bh ? py + ph : by + bh))
convert "$work/screen.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$repo/docs/testing-report.png"
echo "docs/testing-report.png: the panel with its report box"

# --- VeluntTest with a filled transcript, against the simulator on its
# default port, or on a free one when another program has that.
start_service() {  # <port>
    "$build/simulators/ticket-service/ticket-service" --port "$1" >"$work/service.log" 2>&1 &
    service_pid=$!
    port=""
    for _ in $(seq 50); do
        port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/service.log")
        [[ -n $port ]] && break
        kill -0 "$service_pid" 2>/dev/null || break
        sleep 0.1
    done
}
start_service 16501
[[ -n $port ]] || start_service 0
pids+=("$service_pid")
[[ -n $port ]] || { cat "$work/service.log" >&2; echo "$0: the ticket service did not start" >&2; exit 1; }
"$build/client/VeluntTest" >"$work/client.log" 2>&1 &
pids+=($!)
client=$(window_named "Velunt Test")
[[ -n $client ]] || { cat "$work/client.log" >&2; echo "$0: the client did not open" >&2; exit 1; }
sleep 0.5
[[ $port == 16501 ]] || type_into "$client" $((1080 + 600)) $((600 + 200)) "$port"  # Port
click_at "$client" $((120 + 2280 + 960)) $((1080 + 1920 + 300))  # Send
for _ in $(seq 50); do grep -q 'OK|1|CREATED|100' "$work/service.log" && break; sleep 0.1; done
settled_capture "$client" "$repo/docs/velunttest-transcript.png"
echo "docs/velunttest-transcript.png: the client after Send (port $port)"
