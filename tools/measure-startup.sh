#!/usr/bin/env bash
# Start-up time and peak memory of the panel, against a bare Qt window.
#
#   tools/measure-startup.sh [-n RUNS] [BUILD_DIR]
#
# Runs build/<...>/panel/Testing and the bare Qt window program
# (bench/startup/bare_window) alternately RUNS times (default 10) on one
# private Xvfb server, after one warm-up run of each that is not counted.
# Each run goes through bench/startup/startup_probe, which takes the time from
# starting the process to its window being mapped, closes the window as a
# user would and reads the process's peak resident memory (max RSS) from the
# kernel. Prints the medians (with the lowest and highest value) and the
# ratios Testing / bare.
#
# BUILD_DIR defaults to the first of build/default, build/ci and build/* that
# holds all three programs. Needs: xvfb (Xvfb).

set -euo pipefail

usage() {
    echo "usage: $0 [-n RUNS] [BUILD_DIR]" >&2
    exit 2
}

runs=10
while getopts "n:h" opt; do
    case $opt in
        n) runs=$OPTARG ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "$0: RUNS must be a positive number: $runs" >&2; exit 2; }
[[ $# -le 1 ]] || usage

root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
has_all() { [[ -x $1/panel/Testing && -x $1/bench/startup/bare_window && -x $1/bench/startup/startup_probe ]]; }
if [[ $# -eq 1 ]]; then
    build=$1
else
    build=""
    for candidate in "$root/build/default" "$root/build/ci" "$root"/build/*; do
        if has_all "$candidate"; then build=$candidate; break; fi
    done
    [[ -n $build ]] || { echo "$0: no build directory with panel/Testing, bare_window and startup_probe" >&2; exit 2; }
fi
has_all "$build" || { echo "$0: $build lacks panel/Testing, bench/startup/bare_window or bench/startup/startup_probe" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "$0: Xvfb is not installed" >&2; exit 2; }

testing=$build/panel/Testing
bare=$build/bench/startup/bare_window
probe=$build/bench/startup/startup_probe
testing_title="Monvia Test Program"
bare_title="Bare Qt Window"

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
    local rc=$?
    if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf -- "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

source "$(dirname "$0")/xvfb.sh"
start_xvfb "$work"
export QT_QPA_PLATFORM=xcb

# One measured run: appends "map_ms max_rss_kb" to the program's file.
measure() {
    local name=$1 title=$2 program=$3 line
    if ! line=$("$probe" "$title" "$program" 2>"$work/probe.err"); then
        cat "$work/probe.err" >&2
        echo "$0: measuring $name failed" >&2
        exit 1
    fi
    [[ $line =~ map_ms=([0-9.]+)\ max_rss_kb=([0-9]+) ]] || { echo "$0: unexpected probe output: $line" >&2; exit 1; }
    echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]}" >>"$work/$name"
}

# Warm-up: loads the programs and libraries into the page cache.
measure warmup "$testing_title" "$testing"
measure warmup "$bare_title" "$bare"

# Alternating, and swapping which goes first, so that neither profits from
# running second.
for i in $(seq "$runs"); do
    if (( i % 2 )); then
        measure testing "$testing_title" "$testing"
        measure bare "$bare_title" "$bare"
    else
        measure bare "$bare_title" "$bare"
        measure testing "$testing_title" "$testing"
    fi
done

# Median, lowest and highest of one column of a file.
stats() {
    sort -g -k"$2","$2" "$1" | awk -v col="$2" '
        { v[NR] = $col }
        END {
            m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%s %s %s\n", m, v[1], v[NR]
        }'
}

read -r t_ms t_ms_lo t_ms_hi < <(stats "$work/testing" 1)
read -r b_ms b_ms_lo b_ms_hi < <(stats "$work/bare" 1)
read -r t_kb t_kb_lo t_kb_hi < <(stats "$work/testing" 2)
read -r b_kb b_kb_lo b_kb_hi < <(stats "$work/bare" 2)

echo "Start-up to window mapped, and peak memory: $runs runs each, alternating, on Xvfb $DISPLAY"
echo "build: $build"
awk -v t_ms="$t_ms" -v t_ms_lo="$t_ms_lo" -v t_ms_hi="$t_ms_hi" \
    -v b_ms="$b_ms" -v b_ms_lo="$b_ms_lo" -v b_ms_hi="$b_ms_hi" \
    -v t_kb="$t_kb" -v t_kb_lo="$t_kb_lo" -v t_kb_hi="$t_kb_hi" \
    -v b_kb="$b_kb" -v b_kb_lo="$b_kb_lo" -v b_kb_hi="$b_kb_hi" 'BEGIN {
    printf "%-16s %14s %20s %16s %22s\n", "", "median ms", "(min-max)", "median max RSS", "(min-max) kB"
    printf "%-16s %14.1f %20s %13d kB %22s\n", "Testing", t_ms, sprintf("(%.1f-%.1f)", t_ms_lo, t_ms_hi), t_kb, sprintf("(%d-%d)", t_kb_lo, t_kb_hi)
    printf "%-16s %14.1f %20s %13d kB %22s\n", "bare Qt window", b_ms, sprintf("(%.1f-%.1f)", b_ms_lo, b_ms_hi), b_kb, sprintf("(%d-%d)", b_kb_lo, b_kb_hi)
    printf "%-16s %14.2f %20s %16.2f\n", "Testing / bare", t_ms / b_ms, "", t_kb / b_kb
}'
