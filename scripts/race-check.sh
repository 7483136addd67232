#!/usr/bin/env bash
# Builds the library, both tools and the tests with ThreadSanitizer in a
# build directory of their own and runs the tests of the threaded paths on
# three threads. Any report fails the run.
#
# GNU's OpenMP runtime is not instrumented, so ThreadSanitizer cannot see
# its synchronisation and would report the hand-over between a parallel
# region and the code around it as races. The build therefore uses clang
# with LLVM's OpenMP runtime, and Archer (LLVM's OpenMP tool for
# ThreadSanitizer) tells the sanitizer about every fork, join and barrier.
# Reports from the uninstrumented runtime itself and from reference BLAS
# (which runs on the calling thread only) are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TEVRA_RACE_BUILD_DIR:-build-race}
jobs=${TEVRA_JOBS:-$(nproc)}
[ "$jobs" -le 2 ] || jobs=2
llvm=/usr/lib/llvm-14
archer=$llvm/lib/libarcher.so
for need in "$llvm/bin/clang++" "$archer"; do
  [ -e "$need" ] || { echo "race-check: $need is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

CC=$llvm/bin/clang CXX=$llvm/bin/clang++ \
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
        -DTEVRA_TSAN=ON -DTEVRA_BUILD_MEX=OFF > /dev/null
cmake --build "$build_dir" -j"$jobs"

# Three threads: more than this machine's two cores, and an odd count, so
# that stretches of unequal length meet in the middle of blocks and lanes.
export OMP_NUM_THREADS=3
export OMP_TOOL_LIBRARIES=$archer
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 ignore_noninstrumented_modules=1 ${TSAN_OPTIONS:-}"
ctest --test-dir "$build_dir" --output-on-failure -j"$jobs" \
  -R 'Thread_count|ParallelFor|PredictTool|CrossValidation|golden_outputs_threads'
