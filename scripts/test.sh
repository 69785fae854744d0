#!/usr/bin/env bash
# Sets everything up, builds from scratch with warnings as errors, and runs
# every test. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

rm -rf build/ci
bash scripts/setup.sh ci
export QT_QPA_PLATFORM=offscreen
ctest --preset ci -j 2

# --- Windows: cross-build with the windows-mingw preset and run its tests
# under Wine (scripts/test-windows.sh).
bash scripts/test-windows.sh
# ---
