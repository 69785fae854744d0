#!/usr/bin/env bash
# The Windows build checked here: cross-builds everything with the
# windows-mingw preset (mingw-w64), the Qt programs with the Qt for Windows
# named by MONVIA_QT_DIR (default ../shared/qt-mingw beside this tree),
# checks that the simulator and the test programs depend on system libraries
# only, and runs the tests under Wine in a prefix of its own inside the build
# folder, which this run creates and removes (never the user's own). Then it
# makes the installer and the zip, lists them, and checks both as a user
# would under Wine (scripts/test-windows-programs.sh). Without a Qt for
# Windows it says so in one line and does everything that needs no Qt.
# Prints the test summaries and how long it all took. Run by scripts/test.sh
# after the Linux tests; needs the packages scripts/setup.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."

windows_start=$(date +%s)
rm -rf build/windows-mingw
wine_prefix="$PWD/build/windows-mingw/wineprefix"
remove_wine_prefix() {
  WINEPREFIX="$wine_prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$wine_prefix" "$wine_prefix.lock"
}
trap remove_wine_prefix EXIT
# The Qt for Windows: an archive of it, or an unpacked one, in MONVIA_QT_DIR.
qt_dir="${MONVIA_QT_DIR:-$PWD/../shared/qt-mingw}"
configure=(-DMONVIA_QT_DIR="$qt_dir")
with_qt=1
if ! compgen -G "$qt_dir/qt6*-mingw-w64-x86_64.tar.xz" >/dev/null && [ ! -f "$qt_dir/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  echo "windows: the Windows programs (Testing.exe, VeluntTest.exe, their installer) were not built:" \
    "no Qt for Windows in $qt_dir (set MONVIA_QT_DIR to the folder of qt6.4.2-mingw-w64-x86_64.tar.xz)"
  # CI has the Qt and must check the programs: there a missing Qt fails the run.
  if [ "${MONVIA_REQUIRE_WINDOWS_PROGRAMS:-0}" = 1 ]; then exit 1; fi
  configure=(-DMONVIA_WITH_QT=OFF)
  with_qt=0
fi
cmake --preset windows-mingw "${configure[@]}" >/dev/null
cmake --build --preset windows-mingw -j "$(nproc)"
# The simulator and the test programs depend on system libraries only (the
# C++ run-time is linked in). The Qt programs share Qt's, shipped beside
# them (checked with the package below).
for binary in build/windows-mingw/simulators/cash-device/cashdevice_sim.dll build/windows-mingw/tests/*/*.exe; do
  deps=$(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
  echo "windows: $(basename "$binary") imports: $deps"
  for dep in $deps; do
    if ! grep -qixE '(kernel32|user32|advapi32|ole32|oleaut32|ws2_32|msvcrt)\.dll' <<<"$dep"; then
      echo "windows: $(basename "$binary") depends on $dep, which is not a system library" >&2
      exit 1
    fi
  done
done
# The component interfaces and every class implementing them compile for
# 32-bit Windows as well, where a method declared without the system's
# calling convention for COM methods would not match the binary contract
# (the compiler refuses such an override there).
i686_flags=(-std=c++20 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0601
  -Ikit/include -Iplatform/runtime/include -Iplatform/com/include -Ipanel -Isimulators/cash-device -Itests/com -Itests/panel -Itests/support
  -I/usr/src/googletest/googletest/include)
for source in kit/src/types.cpp kit/src/bstr.cpp kit/src/win/error_info.cpp platform/com/win/registry.cpp \
  panel/cash_device.cpp simulators/cash-device/cash_device_object.cpp simulators/cash-device/win/com_server.cpp simulators/cash-device/win/automation_registration.cpp \
  tests/win/widget_server.cpp tests/panel/fake_cash_device.cpp; do
  i686-w64-mingw32-g++-posix "${i686_flags[@]}" -fsyntax-only "$source"
done
echo "windows: the component interfaces and their implementations compile for 32-bit Windows"

windows_status=0
ctest --preset windows-mingw -j 2 || windows_status=$?
echo "windows: cross build and Wine tests took $(($(date +%s) - windows_start)) s"

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
