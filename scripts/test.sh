#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite with ctest.
#   scripts/test.sh            plain build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags+=(-DTQ_SANITIZE=ON -DTQ_BUILD_BENCH=OFF)
fi

scripts/install-deps.sh
cmake -S . -B "$dir" -DTQ_WERROR=ON "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
if [ "$dir" = build-asan ]; then
  # Leaks inside the X libraries, Xft and fontconfig (their caches) only.
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fi
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
