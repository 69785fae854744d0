#!/usr/bin/env bash
# Takes a screenshot of a program's window on a private X server.
#
#   tools/screenshot.sh <program binary> <window title> [<out.png>] [NAME=value ...]
#   tools/screenshot.sh --docs [<build dir>]
#
# Starts Xvfb on a free display (96 dpi, 24-bit colour), runs the program
# there with the given environment assignments, waits until its window with
# exactly that title is on the screen, lets it finish painting, captures the
# window (its client area: there is no window manager, so no frame) into
# out.png, and stops the program and the X server.
#
# Without <out.png> the picture goes to $TMPDIR/monvia-screenshots/<program>.png,
# outside the repository. --docs makes the README's pictures of both windows,
# docs/testing.png and docs/velunttest.png, from the given build (default
# build/default).
#
# Needs: xvfb (Xvfb), xdotool, imagemagick (import, compare).
#
# Example:
#   tools/screenshot.sh build/default/panel/Testing "Monvia Test Program"

set -euo pipefail

usage() {
    echo "usage: $0 <program binary> <window title> [<out.png>] [NAME=value ...]" >&2
    echo "       $0 --docs [<build dir>]" >&2
    exit 2
}

if [[ ${1:-} == --docs ]]; then
    [[ $# -le 2 ]] || usage
    repo=$(cd "$(dirname "$0")/.." && pwd)
    build=${2:-$repo/build/default}
    "$0" "$build/panel/Testing" "Monvia Test Program" "$repo/docs/testing.png"
    "$0" "$build/client/VeluntTest" "Velunt Test" "$repo/docs/velunttest.png"
    exit 0
fi

[[ $# -ge 2 ]] || usage
program=$1
title=$2
shift 2
if [[ $# -ge 1 && ! $1 =~ ^[A-Za-z_][A-Za-z0-9_]*= ]]; then
    out=$1
    shift
else
    out_dir=${TMPDIR:-/tmp}/monvia-screenshots
    mkdir -p -- "$out_dir"
    out=$out_dir/$(basename -- "$program").png
fi
assignments=()
for a in "$@"; do
    [[ $a =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || { echo "$0: not an environment assignment: $a" >&2; exit 2; }
    assignments+=("$a")
done

[[ -x $program ]] || { echo "$0: not an executable program: $program" >&2; exit 2; }
out_dir=$(dirname -- "$out")
[[ -d $out_dir ]] || { echo "$0: no such directory for the output: $out_dir" >&2; exit 2; }
for tool in Xvfb xdotool import compare identify; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
    local rc=$?
    if [[ -n $program_pid ]]; then kill "$program_pid" 2>/dev/null || true; wait "$program_pid" 2>/dev/null || true; fi
    if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf -- "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

source "$(dirname "$0")/xvfb.sh"
start_xvfb "$work"

env QT_QPA_PLATFORM=xcb "${assignments[@]}" "$program" >"$work/program.log" 2>&1 &
program_pid=$!

# xdotool matches names as regular expressions: match the title literally.
pattern="^$(printf '%s' "$title" | sed 's/[][\.|$(){}?+*^]/\\&/g')\$"
window=$(timeout 30 xdotool search --sync --onlyvisible --name "$pattern" 2>/dev/null | head -n 1 || true)
if [[ -z $window ]]; then
    kill -0 "$program_pid" 2>/dev/null || { echo "$0: the program ended early; its output:" >&2; cat "$work/program.log" >&2; }
    echo "$0: no window titled \"$title\" appeared" >&2
    exit 1
fi

# Capture until two captures in a row are the same: the window has painted.
previous=""
for i in $(seq 20); do
    sleep 0.2
    import -window "$window" "$work/shot$i.png"
    if [[ -n $previous ]] && [[ $(compare -metric AE "$previous" "$work/shot$i.png" null: 2>&1 || true) == 0 ]]; then
        break
    fi
    previous="$work/shot$i.png"
done
cp -- "$work/shot$i.png" "$out"
echo "$out: $(identify -format '%wx%h' "$out") window $window of \"$title\" on $DISPLAY"
