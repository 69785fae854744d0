#!/usr/bin/env bash
# Installs the Debian packages into a fresh Debian 12 root, checks that the
# installed Testing answers Connect with "Connect OK" with no setup, and that
# removing the packages leaves nothing of theirs behind. Run as root.
#
#   tools/check-packages.sh [--root <dir>] <build dir>
#
# The packages are the ones `cpack -G DEB` made in <build dir>. The root is
# made with mmdebstrap (package mmdebstrap) unless --root names one made
# earlier (for example by a previous run with --keep); it is then copied, so
# that every run starts from the same fresh state.
#
# Needs: mmdebstrap, network access to the Debian archive.

set -euo pipefail

usage() { echo "usage: $0 [--root <dir>] [--keep] <build dir>" >&2; exit 2; }

. "$(dirname "$0")/fresh-root.sh"
fresh_root_options "$@"
[[ ${#operands[@]} -eq 1 ]] || usage
build=$(cd "${operands[0]}" && pwd)
[[ $(id -u) == 0 ]] || { echo "$0: needs root (chroot, mounts)" >&2; exit 2; }
debs=("$build"/monvia-*.deb)
[[ -e ${debs[0]} ]] || { echo "$0: no packages in $build; run cpack -G DEB there first" >&2; exit 2; }
driver=$build/tests/install/libmonvia_panel_driver.so
[[ -f $driver ]] || { echo "$0: no $driver (build the tests)" >&2; exit 2; }

open_fresh_root
mkdir -p "$root/root/debs"
cp "${debs[@]}" "$driver" "$root/root/debs/"

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
# What the root holds, apart from what changes by itself.
snapshot() {
    in_root find / -xdev \( -path /proc -o -path /tmp -o -path /var/cache -o -path /var/lib/apt/lists \
        -o -path /var/log -o -path /var/lib/dpkg -o -path /root/debs \) -prune -o -print | sort
}

echo "== apt-get install"
in_root apt-get update -qq
before=$(snapshot)
names=()
for d in "${debs[@]}"; do names+=("/root/debs/$(basename "$d")"); done
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${names[@]}" >"$root/root/install.log" 2>&1 ||
    { cat "$root/root/install.log" >&2; exit 1; }
with_deps=$(snapshot)

echo "== Testing from the packaged-default registration, no environment set"
out=$(in_root env QT_QPA_PLATFORM=offscreen LD_PRELOAD=/root/debs/libmonvia_panel_driver.so \
    MONVIA_DRIVER_PRESS=Connect Testing 2>&1) || true
echo "$out"
grep -qxF "box: Connect OK" <<<"$out" || { echo "FAIL: no Connect OK" >&2; exit 1; }
in_root monvia-register --list

echo "== apt-get remove"
pkgs=()
for d in "${debs[@]}"; do pkgs+=("$(dpkg-deb -f "$d" Package)"); done
in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "${pkgs[@]}" >/dev/null
after=$(snapshot)
# Every file and folder of the packages' own is gone (folders that other
# packages own too, like /usr/bin or the icon theme's, stay); what their dependencies brought stays.
added=$(comm -13 <(echo "$before") <(echo "$with_deps"))
owned=$(for d in "${debs[@]}"; do dpkg-deb -c "$d" | awk '{print $6}' | sed 's|^\./|/|; s|/$||'; done | sort -u)
left=$(comm -12 <(comm -12 <(echo "$added") <(echo "$owned")) <(echo "$after") |
    while read -r p; do in_root dpkg-query -S "$p" >/dev/null 2>&1 || echo "$p"; done)
if [[ -n $left ]]; then
    echo "FAIL: left behind after apt-get remove:" >&2
    echo "$left" >&2
    exit 1
fi
echo "$(echo "$owned" | wc -l) paths of the packages, none left"
if in_root dpkg -l | grep -q monvia; then
    echo "FAIL: dpkg still lists:" >&2
    in_root dpkg -l | grep monvia >&2
    exit 1
fi
echo "packages install, work and remove cleanly"
