#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   ./test.sh              normal build in build/
#   ./test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
if [ "${1:-}" = "--sanitize" ]; then
  scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DJOV_SANITIZE=ON
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  export QT_QPA_PLATFORM=offscreen
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
else
  scripts/build.sh build
  export QT_QPA_PLATFORM=offscreen
  ctest --test-dir build --output-on-failure -j "$(nproc)"
fi
