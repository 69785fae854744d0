#!/usr/bin/env bash
# Times one of the two top-level commands as a new user runs it: in a fresh
# Debian 12 root made with mmdebstrap, from a clone of this tree's HEAD, as
# root, with the Debian archive as the only network source. Run as root.
#
#   tools/measure-fresh-root.sh [--root <dir>] [--keep] run|test
#
# run:  bash scripts/run-tools.sh (there is no display in the root, so it sets
#       up, builds and says so: the time until the windows would open)
# test: bash scripts/test.sh
#
# --root names a root made earlier (for example by a previous run with
# --keep, before anything was run in it); it is copied, so that every run
# starts from the same fresh state. The Qt for Windows beside this tree is
# not copied: a fresh clone has none, and the test command says so.
#
# Prints the command's last lines and "<command>: <seconds> s, exit <status>";
# the whole output is kept in the root's /root/<command>.log while --keep.
# Needs: mmdebstrap, git, network access to the Debian archive.

set -euo pipefail

usage() { echo "usage: $0 [--root <dir>] [--keep] run|test" >&2; exit 2; }

base=""
keep=0
while [[ $# -gt 1 ]]; do
    case $1 in
        --root) base=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) usage ;;
    esac
done
[[ $# -eq 1 ]] || usage
case $1 in
    run) command=scripts/run-tools.sh ;;
    test) command=scripts/test.sh ;;
    *) usage ;;
esac
[[ $(id -u) == 0 ]] || { echo "$0: needs root (chroot, mounts)" >&2; exit 2; }
tree=$(cd "$(dirname "$0")/.." && pwd)

root=$(mktemp -d "${TMPDIR:-/tmp}/monvia-fresh-XXXXXX")
mounts=()
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
    if [[ $keep == 1 ]]; then echo "root kept in $root"; else rm -rf --one-file-system -- "$root"; fi
}
trap cleanup EXIT

if [[ -n $base ]]; then
    cp -a "$base/." "$root/"
else
    mmdebstrap --variant=apt --include=ca-certificates bookworm "$root" >"$root.log" 2>&1 ||
        { cat "$root.log" >&2; exit 1; }
    rm -f "$root.log"
fi
# What a running system has: processes, devices, shared memory for the
# virtual display and Wine, and name resolution for the archive.
mount_in() {
    mkdir -p "$root$2"
    mount "${@:3}" "$1" "$root$2"
    mounts+=("$root$2")
}
mount_in proc /proc -t proc
mount_in sysfs /sys -t sysfs
mount_in /dev /dev --rbind
cp /etc/resolv.conf "$root/etc/resolv.conf"

# A clone, as a user gets it; git itself comes with the first command.
git clone -q --no-hardlinks "$tree" "$root/root/monvia"

log=/root/$1.log
start=$SECONDS
status=0
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM=dumb \
    bash -c "cd /root/monvia && bash $command" >"$root$log" 2>&1 || status=$?
elapsed=$((SECONDS - start))
tail -n 5 "$root$log"
echo "$1: $elapsed s, exit $status"
