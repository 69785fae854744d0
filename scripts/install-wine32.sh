#!/usr/bin/env bash
# Installs wine32 (Wine's 32-bit half, from the i386 architecture), which the
# 32-bit Windows tests run under. Needs root. When it cannot install it, it
# prints one line and exits 0, so that setup goes on and those runs say they
# were skipped.
#
# When an archive's i386 index arrives with another size than its signed
# release file names (a mirror caught mid-sync), apt drops that index and then
# cannot match the i386 libraries with the amd64 ones installed. In that case
# the index the archive serves is fetched once more, and only the stanzas whose
# package and version the signed amd64 index also lists are kept. So nothing
# is installed at a version the signed archive does not publish, and apt
# checks each package it downloads against the kept index. The kept index is
# removed after the install, so apt's state is again what its signed files say.
# MONVIA_APT_SIMULATE=1 makes apt only say what it would install (for trying
# this script on a machine that has wine32 already).
set -uo pipefail

simulate=${MONVIA_APT_SIMULATE:-0}
installed() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; }
if ((!simulate)) && installed; then exit 0; fi
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: wine32:i386 is missing and installing it needs root; 32-bit Windows programs will not run under Wine"
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

log=$(mktemp)
work=$(mktemp -d)
placed=()
cleanup() { rm -rf "$log" "$work" "${placed[@]}"; }
trap cleanup EXIT

install_wine32() {
  local how=(-y -qq)
  ((simulate)) && how=(-s)
  apt-get install "${how[@]}" --no-install-recommends wine32:i386 >>"$log" 2>&1
}

# apt-get update fails as a whole when one index fails, though the others
# are fetched: its status alone says nothing about whether wine32 installs.
apt-get update -qq >"$log" 2>&1
if install_wine32; then
  ((simulate)) && echo "setup: apt would install wine32:i386 from the signed indexes alone"
  exit 0
fi

lists=/var/lib/apt/lists
# The i386 indexes apt dropped for their size:
#   E: Failed to fetch <url>  File has unexpected size (...)
mapfile -t refused < <(sed -n 's/^E: Failed to fetch \(http[^ ]*\/binary-i386\/Packages[.a-z0-9]*\) .*unexpected size.*/\1/p' "$log" | sort -u)
for url in "${refused[@]}"; do
  base=${url%.*}
  # apt's name for a list file: the address without its scheme, "/" as "_".
  name=${base#*://}
  name=${name//\//_}
  signed=$(compgen -G "$lists/${name/binary-i386/binary-amd64}*" | head -1)
  [ -n "$signed" ] || continue
  /usr/lib/apt/apt-helper download-file "$url" "$work/index.xz" >>"$log" 2>&1 || continue
  /usr/lib/apt/apt-helper cat-file "$work/index.xz" >"$work/index" 2>>"$log" || continue
  # Package and version of every stanza of the signed amd64 index
  # (architecture "all" packages are in both indexes).
  /usr/lib/apt/apt-helper cat-file "$signed" |
    awk '/^Package: /{p=$2} /^Version: /{print p " " $2}' >"$work/published"
  awk -v RS= -v ORS='\n\n' '
    NR == FNR { n = split($0, l, "\n"); for (i = 1; i <= n; i++) ok[l[i]] = 1; next }
    { p = ""; v = ""; n = split($0, l, "\n")
      for (i = 1; i <= n; i++) {
        if (l[i] ~ /^Package: /) p = substr(l[i], 10)
        if (l[i] ~ /^Version: /) v = substr(l[i], 10)
      }
      if ((p " " v) in ok) print }' "$work/published" "$work/index" >"$lists/$name"
  placed+=("$lists/$name")
done
if ((${#placed[@]})) && install_wine32; then
  echo "setup: wine32:i386 $( ((simulate)) && echo "would be" || echo was) installed; the archive's i386 index" \
    "(${refused[*]}) was out of step with its release file, so only its packages at versions the signed amd64" \
    "index lists were used"
  exit 0
fi
echo "setup: wine32:i386 could not be installed (apt: $(grep -m1 -E '^E:' "$log" || tail -1 "$log"));" \
  "32-bit Windows programs will not run under Wine"
exit 0
