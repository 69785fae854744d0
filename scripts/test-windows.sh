#!/usr/bin/env bash
# The Windows builds checked here, cross-built with mingw-w64: first
# Testing.exe, the simulator and the tests for 32-bit Windows (preset
# windows-mingw-x86), then everything for 64-bit Windows (windows-mingw), the
# Qt programs with the Qt for Windows named by MONVIA_QT_DIR (default
# ../shared/qt-mingw beside this tree, holding both bitnesses). Checks that
# every binary is built for its machine and that the simulators and the test
# programs depend on system libraries only, and runs the tests under Wine in
# prefixes of their own inside the build folders, which this run creates and
# removes (never the user's own); the 32-bit tests only where wine32 is
# installed, otherwise it says in one line that they were skipped. Then it
# makes the installer and the zip, holding both bitnesses, lists them, and
# checks both as a user would under Wine (scripts/test-windows-programs.sh).
# Without a Qt for Windows it says so in one line and does everything that
# needs no Qt. Prints the test summaries and how long it all took. Run by
# scripts/test.sh after the Linux tests; needs the packages scripts/setup.sh
# installs.
set -euo pipefail
cd "$(dirname "$0")/.."

windows_start=$(date +%s)
rm -rf build/windows-mingw build/windows-mingw-x86
remove_wine_prefixes() {
  for prefix in "$PWD/build/windows-mingw/wineprefix" "$PWD/build/windows-mingw-x86/wineprefix"; do
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix" "$prefix.lock"
  done
}
trap remove_wine_prefixes EXIT
# The Qt for Windows, both bitnesses: an archive of each, or an unpacked one
# (of one bitness), in MONVIA_QT_DIR.
qt_dir="${MONVIA_QT_DIR:-$PWD/../shared/qt-mingw}"
# Whether a Qt for the given target (x86_64 or i686) is in $qt_dir: its
# archive, or an unpacked Qt whose libraries are built for that machine.
has_qt() {
  local machine=i386:x86-64
  [ "$1" = i686 ] && machine=i386
  compgen -G "$qt_dir/qt6*-mingw-w64-$1.tar.xz" >/dev/null && return 0
  [ -f "$qt_dir/lib/cmake/Qt6/Qt6Config.cmake" ] && [ -f "$qt_dir/bin/Qt6Core.dll" ] &&
    x86_64-w64-mingw32-objdump -f "$qt_dir/bin/Qt6Core.dll" | grep -q "^architecture: $machine,"
}
configure=(-DMONVIA_QT_DIR="$qt_dir")
configure_x86=(-DMONVIA_QT_DIR="$qt_dir")
with_qt=1
with_qt_x86=1
if ! has_qt x86_64; then
  echo "windows: the Windows programs (Testing.exe, VeluntTest.exe, their installer) were not built:" \
    "no Qt for Windows in $qt_dir (set MONVIA_QT_DIR to the folder of qt6.4.2-mingw-w64-x86_64.tar.xz)"
  # CI has the Qt and must check the programs: there a missing Qt fails the run.
  if [ "${MONVIA_REQUIRE_WINDOWS_PROGRAMS:-0}" = 1 ]; then exit 1; fi
  configure=(-DMONVIA_WITH_QT=OFF)
  with_qt=0
fi
if ! has_qt i686; then
  echo "windows: the 32-bit Testing.exe was not built: no 32-bit Qt for Windows in $qt_dir" \
    "(set MONVIA_QT_DIR to the folder of qt6.4.2-mingw-w64-i686.tar.xz)"
  if [ "${MONVIA_REQUIRE_WINDOWS_PROGRAMS:-0}" = 1 ]; then exit 1; fi
  configure_x86=(-DMONVIA_WITH_QT=OFF)
  with_qt_x86=0
fi
# 32-bit Windows programs run under Wine with wine32 (scripts/setup.sh tries
# to install it; the archive cannot always supply it).
wine32=0
[ -x /usr/lib/wine/wine ] && wine32=1

# Checks that each file is a Windows binary for the given machine (i386 or
# x86-64) and, unless it is a Qt program, depends on system libraries only
# (the C++ run-time is linked in). The Qt programs share Qt's run-time,
# shipped beside them (checked with the package below).
check_binaries() {
  local machine=$1 binary deps dep format
  shift
  for binary in "$@"; do
    format=$(x86_64-w64-mingw32-objdump -f "$binary" | sed -n 's/^architecture: \([^,]*\),.*/\1/p')
    if [ "$format" != "$machine" ]; then
      echo "windows: $binary is built for \"$format\", not $machine" >&2
      return 1
    fi
    deps=$(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
    echo "windows: $(basename "$binary") ($machine) imports: $deps"
    case "$binary" in */panel/Testing.exe | */client/VeluntTest.exe) continue ;; esac
    for dep in $deps; do
      if ! grep -qixE '(kernel32|user32|advapi32|ole32|oleaut32|shell32|ws2_32|msvcrt)\.dll' <<<"$dep"; then
        echo "windows: $(basename "$binary") depends on $dep, which is not a system library" >&2
        return 1
      fi
    done
  done
}

# --- 32-bit: Testing.exe, the simulator and the tests ------------------------
# Built first: the 64-bit installer and zip take its files into their x86
# folder.
x86_start=$(date +%s)
cmake --preset windows-mingw-x86 "${configure_x86[@]}" >/dev/null
cmake --build --preset windows-mingw-x86 -j "$(nproc)"
x86_binaries=(build/windows-mingw-x86/simulators/cash-device/cashdevice_sim.dll
  build/windows-mingw-x86/journal/monvia_journal.dll build/windows-mingw-x86/tests/*/*.exe)
((with_qt_x86)) && x86_binaries+=(build/windows-mingw-x86/panel/Testing.exe)
check_binaries i386 "${x86_binaries[@]}"
x86_status=0
if ((wine32)); then
  ctest --preset windows-mingw-x86 -j 2 || x86_status=$?
  echo "windows: 32-bit build and its Wine tests took $(($(date +%s) - x86_start)) s (exit status $x86_status)"
else
  echo "windows: the 32-bit tests were built and checked but not run: wine32 is not installed" \
    "(the package archive could not supply wine32:i386; scripts/setup.sh tries again)"
  echo "windows: 32-bit build and checks took $(($(date +%s) - x86_start)) s"
fi

# --- 64-bit: everything, then the installer and the zip with both ------------
x64_start=$(date +%s)
((with_qt && with_qt_x86)) && configure+=(-DMONVIA_X86_BUILD_DIR="$PWD/build/windows-mingw-x86")
cmake --preset windows-mingw "${configure[@]}" >/dev/null
cmake --build --preset windows-mingw -j "$(nproc)"
x64_binaries=(build/windows-mingw/simulators/cash-device/cashdevice_sim.dll
  build/windows-mingw/journal/monvia_journal.dll build/windows-mingw/tests/*/*.exe)
((with_qt)) && x64_binaries+=(build/windows-mingw/panel/Testing.exe build/windows-mingw/client/VeluntTest.exe)
check_binaries i386:x86-64 "${x64_binaries[@]}"

windows_status=0
ctest --preset windows-mingw -j 2 || windows_status=$?
echo "windows: 64-bit build and its Wine tests took $(($(date +%s) - x64_start)) s"
((x86_status == 0)) || windows_status=1

# The scripted session through the registered simulator gives the same boxes
# on Linux and on Windows, 64-bit and (where it ran) 32-bit: each build's
# test compares its boxes with the recorded ones; here the outputs of the
# builds are compared with each other too.
session=tests/panel_sim/scripted_session.txt
sessions=(build/windows-mingw/$session)
((wine32)) && sessions+=(build/windows-mingw-x86/$session)
for candidate in build/ci build/default; do
  if [ -f "$candidate/$session" ]; then
    sessions+=("$candidate/$session")
    break
  fi
done
for output in "${sessions[@]}"; do
  if ! cmp -s "$output" "$session"; then
    echo "windows: the scripted session's boxes in $output differ from the recorded ones ($session)" >&2
    windows_status=1
  fi
done
echo "windows: the scripted session gave the recorded boxes in ${sessions[*]}"

# The installer and the zip of both tools, and the check of both under Wine
# on a virtual display, bounded in time.
if ((with_qt)); then
  package_start=$(date +%s)
  (cd build/windows-mingw && cpack >/dev/null)
  for package in build/windows-mingw/monvia-test-tools-*-win64.{exe,zip}; do
    echo "windows: $(basename "$package"): $(stat -c %s "$package") bytes"
  done
  echo "windows: what they install:"
  unzip -l build/windows-mingw/monvia-test-tools-*-win64.zip | sed -n 's|^ *\([0-9][0-9]*\) .*-win64/\(..*[^/]\)$|  \2 (\1 bytes)|p'
  echo "windows: packages made in $(($(date +%s) - package_start)) s"
  ticket_service=""
  for candidate in build/ci build/default; do
    if [ -x "$candidate/simulators/ticket-service/ticket-service" ]; then
      ticket_service="$candidate/simulators/ticket-service/ticket-service"
      break
    fi
  done
  blackbox_start=$(date +%s)
  blackbox_status=0
  if [ -z "$ticket_service" ]; then
    echo "windows: no Linux ticket service simulator to check VeluntTest against;" \
      "build it first: cmake --preset ci && cmake --build --preset ci --target ticket-service" >&2
    blackbox_status=1
  else
    timeout --kill-after=15 900 bash scripts/test-windows-programs.sh build/windows-mingw "$ticket_service" ||
      blackbox_status=$?
  fi
  echo "windows: installer and programs checked under Wine in $(($(date +%s) - blackbox_start)) s" \
    "(exit status $blackbox_status)"
  ((blackbox_status == 0)) || windows_status=1
fi
exit "$windows_status"
