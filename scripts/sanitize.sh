#!/usr/bin/env bash
# Builds the library, both tools and the tests with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build directory of their own, and runs the
# whole test suite there. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TEVRA_SANITIZE_BUILD_DIR:-build-sanitize}
jobs=${TEVRA_JOBS:-$(nproc)}
[ "$jobs" -le 2 ] || jobs=2

# halt_on_error is the default for ASan; UBSan is built with
# -fno-sanitize-recover, so the first report of either ends the test.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0}

# The extension modules are loaded by Octave, which is not built with the
# sanitizers, so they stay out of this build. -O1 keeps the compile short on
# two cores; line tables are enough for the reports; the library's own
# assertions catch an index past a container's size within its capacity.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1 -D_GLIBCXX_ASSERTIONS" -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" \
      -DTEVRA_SANITIZE=ON -DTEVRA_BUILD_MEX=OFF > /dev/null
cmake --build "$build_dir" -j"$jobs"
ctest --test-dir "$build_dir" --output-on-failure -j"$jobs"
