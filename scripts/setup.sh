#!/usr/bin/env bash
# Installs the Debian packages the tools need (only those missing), then
# configures and builds with the given CMake preset (default: "default");
# with --packages-only it stops after the packages. Run as root on Debian 12.
#
#   scripts/setup.sh [--run] [<preset> | --packages-only]
#
# With --run only what building and running the tools needs is installed
# (scripts/run-tools.sh); without it, everything the tests, the Windows
# build and the checks need as well (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

for_running=0
if [ "${1:-}" = "--run" ]; then
  for_running=1
  shift
fi
preset="${1:-default}"

# Building and running: the compilers, CMake, Qt 6, the fonts the windows
# are drawn with (Liberation Serif for Times New Roman), and Xvfb with xauth
# for a virtual display where there is none.
run_packages=(
  git build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation fontconfig
  xvfb xauth
)
# The tests, the measurements and the screenshots besides.
packages=(
  "${run_packages[@]}"
  libgtest-dev libgmock-dev
  libx11-dev libxtst-dev x11-utils xdotool imagemagick procps iproute2
)
# The accessibility check: a private session bus, the desktop accessibility
# bus, and its Python client.
packages+=(dbus-daemon dbus-bin at-spi2-core python3-pyatspi)
# The desktop entries' and metainfo files' validators.
packages+=(desktop-file-utils appstream)
# --- Windows build checked here: mingw-w64 (posix thread model) to
# cross-compile for 64-bit and 32-bit Windows, Wine to run the tests, GoogleTest's sources to build it for
# the target, flock for the Wine prefix lock.
packages+=(
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  wine wine64
  googletest util-linux
)
# The contract's type library: widl (in mingw-w64-tools) compiles the kit's
# IDL with the standard IDL files of Wine's development files.
packages+=(libwine-dev)
# The Windows installer (NSIS through CPack) and its check under Wine on a
# virtual display: the clipboard read with xclip, the zip unpacked with unzip.
packages+=(nsis xclip unzip)
# ---
# The sanitize and fuzz presets: clang with its sanitizer and libFuzzer
# runtimes, and llvm-symbolizer for readable reports.
packages+=(clang libclang-rt-14-dev llvm)
# The formatter every C++ file is checked against (scripts/check-format.sh),
# pinned to one version so that the check agrees on every machine.
packages+=(clang-format-14)

if ((for_running)); then packages=("${run_packages[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these Debian packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# 32-bit Windows programs (the 32-bit panel and its tests) run under Wine
# with its 32-bit half, wine32 from the i386 architecture, in the same 64-bit
# prefix, as on a 64-bit Windows. When it cannot be installed the 32-bit runs
# are skipped (scripts/test-windows.sh says so) and setup goes on. Running
# the tools needs none of it.
if ((!for_running)); then
  bash "$(dirname "$0")/install-wine32.sh"
fi

if [ "$preset" = "--packages-only" ]; then exit 0; fi

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
