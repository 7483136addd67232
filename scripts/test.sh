#!/usr/bin/env bash
# Sets up, builds (Release) and runs the whole test suite, then the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, then both
# tools under valgrind, then the threaded paths under ThreadSanitizer. With
# --quick only the first part runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
[ "${1:-}" = "--quick" ] && exit 0
scripts/sanitize.sh
TEVRA_BUILD_DIR="$PWD/build" scripts/valgrind-check.sh
scripts/race-check.sh
