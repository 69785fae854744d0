#!/usr/bin/env bash
# Runs a Windows program under Wine in the given private prefix, creating the
# prefix on first use. No display is needed; Wine's own debug output and its
# offers to install Mono and Gecko are turned off.
#
#   scripts/wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
set -euo pipefail

prefix="$1"
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Several tests may start at once: one of them creates the prefix.
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  exec 9>&-
fi

# With wine32 installed, the plain "wine" runs programs of either bitness (the
# 32-bit panel and its tests among them). Without it, the 64-bit loader: the
# plain wrapper would complain about the missing 32-bit one on every start.
if [ -x /usr/lib/wine/wine ]; then
  exec wine "$@"
fi
if command -v wine64 >/dev/null 2>&1; then
  exec wine64 "$@"
fi
if [ -x /usr/lib/wine/wine64 ]; then
  exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
