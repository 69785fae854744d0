#!/usr/bin/env bash
# VeluntTest under heavy replies: the real program on a private virtual
# display, against a loopback service that answers its request with a flood
# on a kept connection (see bench/client/heavy_reply_probe.cpp for what is
# measured and how).
#
# Usage: tools/measure-heavy-replies.sh [--build DIR] [--client LABEL=PATH]... [--repeat N]
#                                       [--case pieces:N|blob:BYTES|line:BYTES]... [--copy-timeout-ms N]
#   --build DIR      build folder; heavy_reply_probe and VeluntTest are built
#                    there first (default build/default)
#   --client L=PATH  a VeluntTest to measure, under the label L; repeat the
#                    option to compare builds side by side (default: the one
#                    of --build, labelled "this")
#   --repeat N       runs of every case for every client (default 3); runs of
#                    the clients alternate, so that a change of the machine's
#                    load falls on all of them alike
#   --case C         a case to run (default: pieces:1000 pieces:10000
#                    pieces:100000 blob:10485760 line:10485760); a blob has a
#                    line feed every 256 bytes or so, a line none
#   --copy-timeout-ms N  how long a copy may take before it counts as failed
#                    (default 120000)
#
# Prints every run as it ends, then per client and case the median, minimum
# and maximum of each figure, and how many runs read every byte back exactly.
# Needs Xvfb. Never fails on a figure: exit status 0 when every run completed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/default
repeat=3
copy_timeout=120000
clients=()
cases=()
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$2; shift 2 ;;
        --client) clients+=("$2"); shift 2 ;;
        --repeat) repeat=$2; shift 2 ;;
        --case) cases+=("$2"); shift 2 ;;
        --copy-timeout-ms) copy_timeout=$2; shift 2 ;;
        *) echo "measure-heavy-replies: unknown option $1" >&2; exit 2 ;;
    esac
done
case $build in /*) ;; *) build=$root/$build ;; esac
((${#cases[@]})) || cases=(pieces:1000 pieces:10000 pieces:100000 blob:10485760 line:10485760)
command -v Xvfb >/dev/null || { echo "measure-heavy-replies: Xvfb is not installed" >&2; exit 2; }

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target VeluntTest heavy_reply_probe -j2 >/dev/null
probe=$build/bench/client/heavy_reply_probe
[ -x "$probe" ] || { echo "measure-heavy-replies: $probe was not built (libX11 or libXtst headers missing?)" >&2; exit 2; }
((${#clients[@]})) || clients=("this=$build/client/VeluntTest")
for c in "${clients[@]}"; do
    [ -x "${c#*=}" ] || { echo "measure-heavy-replies: ${c#*=} is not a program" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/xvfb.sh"
start_xvfb "$work" 640x480x24

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for ((r = 1; r <= repeat; r++)); do
    for k in "${cases[@]}"; do
        for c in "${clients[@]}"; do
            label=${c%%=*}
            program=${c#*=}
            if line=$("$probe" "--${k%%:*}" "${k#*:}" --copy-timeout-ms "$copy_timeout" "$program" 2>>"$work/probe.err"); then
                :
            else
                status=1
            fi
            [ -n "$line" ] || line="${k%%:*}=${k#*:} failed"
            echo "run $r client=$label $line" | tee -a "$work/runs"
        done
    done
done
echo "load average afterwards $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "median (min..max) over $repeat runs"
awk '
function sortnum(a, n,    i, j, t) {
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t; }
}
{
    key = $3 " " $4;
    if (!(key in seen)) { seen[key] = 1; order[++nkeys] = key; }
    for (i = 5; i <= NF; i++) {
        split($i, kv, "=");
        if (kv[1] == "verified") { runs[key]++; if (kv[2] == "yes") exact[key]++; continue; }
        if (kv[1] !~ /^(send_ms|wall_ms|stall_ms|mem_x|copy_ms|copy_stall_ms|shown)$/) continue;
        n = ++count[key, kv[1]];
        val[key, kv[1], n] = kv[2] + 0;
    }
}
END {
    split("send_ms wall_ms stall_ms mem_x copy_ms copy_stall_ms shown", fields, " ");
    for (k = 1; k <= nkeys; k++) {
        key = order[k];
        line = sprintf("%-14s %-18s", substr(key, 1, index(key, " ") - 1), substr(key, index(key, " ") + 1));
        for (f = 1; f <= 7; f++) {
            name = fields[f]; n = count[key, name];
            if (!n) continue;
            delete a;
            for (i = 1; i <= n; i++) a[i] = val[key, name, i];
            sortnum(a, n);
            med = (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2;
            line = line sprintf("  %s %.6g (%.6g..%.6g)", name, med, a[1], a[n]);
        }
        line = line sprintf("  exact %d/%d", exact[key] + 0, runs[key] + 0);
        print line;
    }
}' "$work/runs"
if [ -s "$work/probe.err" ]; then
    echo
    echo "probe messages:"
    sort "$work/probe.err" | uniq -c | grep -v XDG_RUNTIME_DIR || true
fi
exit $status
