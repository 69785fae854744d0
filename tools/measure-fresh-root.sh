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

. "$(dirname "$0")/fresh-root.sh"
fresh_root_options "$@"
[[ ${#operands[@]} -eq 1 ]] || usage
case ${operands[0]} in
    run) command=scripts/run-tools.sh ;;
    test) command=scripts/test.sh ;;
    *) usage ;;
esac
tree=$(cd "$(dirname "$0")/.." && pwd)
# What a running system has besides: devices and shared memory for the
# virtual display and Wine.
open_fresh_root full

# A clone, as a user gets it; git itself comes with the first command.
git clone -q --no-hardlinks "$tree" "$root/root/monvia"

# Every line of the output is kept with the seconds since the start; the
# first line of a build step ("[1/...") tells how long the packages and the
# configuration took.
log=/root/${operands[0]}.log
start=$SECONDS
set +e
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM=dumb \
    bash -c "cd /root/monvia && bash $command" 2>&1 |
    while IFS= read -r line; do printf '[%4d s] %s\n' $((SECONDS - start)) "$line"; done >"$root$log"
status=${PIPESTATUS[0]}
set -e
elapsed=$((SECONDS - start))
tail -n 5 "$root$log"
first_build=$(grep -m1 -o '^\[ *[0-9]* s\] \[1/' "$root$log" | grep -o '[0-9]* s' || true)
echo "${operands[0]}: $elapsed s, exit $status${first_build:+ (the build began after $first_build)}"
