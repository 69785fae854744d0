#!/usr/bin/env bash
# The Windows build checked here: cross-builds every target that does not
# need Qt with the windows-mingw preset (mingw-w64), checks that the
# simulator and the test programs depend on system libraries only, and runs
# the tests under Wine in a prefix of its own inside the build folder, which
# this run creates and removes (never the user's own). Prints the test
# summary and how long it all took. Run by scripts/test.sh after the Linux
# tests; needs the packages scripts/setup.sh installs.
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
cmake --preset windows-mingw >/dev/null
cmake --build --preset windows-mingw -j "$(nproc)"
# The simulator and the test programs depend on system libraries only (the
# C++ run-time is linked in).
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
  panel/cash_device.cpp simulators/cash-device/cash_device_object.cpp simulators/cash-device/win/com_server.cpp \
  tests/win/widget_server.cpp tests/panel/fake_cash_device.cpp; do
  i686-w64-mingw32-g++-posix "${i686_flags[@]}" -fsyntax-only "$source"
done
echo "windows: the component interfaces and their implementations compile for 32-bit Windows"

windows_status=0
ctest --preset windows-mingw -j 2 || windows_status=$?
echo "windows: cross build and Wine tests took $(($(date +%s) - windows_start)) s"
exit "$windows_status"
