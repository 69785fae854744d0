#!/usr/bin/env bash
# Sets everything up, builds from scratch with warnings as errors, and runs
# every test. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every C++ file must match .clang-format; a file that differs fails the run
# before anything is built.
bash scripts/setup.sh --packages-only
bash scripts/check-format.sh

rm -rf build/ci
bash scripts/setup.sh ci
export QT_QPA_PLATFORM=offscreen
ctest --preset ci -j 2

# --- Windows: cross-build with the windows-mingw preset and run its tests
# under Wine (scripts/test-windows.sh).
bash scripts/test-windows.sh
# ---

# --- Sanitizers and fuzzing --------------------------------------------------
# The whole suite again, built with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer (the first finding fails the test), then every
# fuzz target for a bounded time (MONVIA_FUZZ_SECONDS, default 20 s each).
sanitize_start=$SECONDS
rm -rf build/sanitize
bash scripts/setup.sh sanitize
ctest --preset sanitize -j 2
fuzz_start=$SECONDS
bash scripts/fuzz.sh --build build/sanitize --check --seconds "${MONVIA_FUZZ_SECONDS:-20}"
echo "test.sh: sanitize build and suite $((fuzz_start - sanitize_start)) s," \
  "fuzzing $((SECONDS - fuzz_start)) s, everything before them ${sanitize_start} s"
