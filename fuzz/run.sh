#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan, UBSan and libFuzzer coverage on
# everything) and runs each for a while, one process at a time.
#
#   fuzz/run.sh [seconds per target] [target ...]
#
# Corpora grow in $BUILD/corpus/<target>, seeded from fuzz/seeds and from the
# data sets of the repository; crashes, leaks and hangs are written to
# $BUILD/artifacts/<target>/ and make the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-300}
shift || true
build=${TEVRA_FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(training_reader_fuzzer test_lines_fuzzer model_file_fuzzer train_fuzzer)

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTEVRA_FUZZ=ON -DTEVRA_SANITIZE=ON -DTEVRA_BUILD_MEX=OFF -DTEVRA_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" > /dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# Seeds: the committed ones, and the first lines of every data set (the
# reader's and the test loop's first byte picks the options or model).
seed() {
  local target=$1 dir=$build/corpus/$1
  mkdir -p "$dir"
  [ -d fuzz/seeds/$target ] && cp -n fuzz/seeds/$target/* "$dir"/ 2>/dev/null || true
  case $target in
    training_reader_fuzzer|test_lines_fuzzer|train_fuzzer)
      local n=0 f
      for f in tests/data/* examples/*; do
        n=$((n + 1))
        { printf "\\x$(printf %02x $((n * 7 % 256)))"; head -n 12 "$f"; } > "$dir/data-$n"
      done ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  seed "$target"
  mkdir -p "$build/artifacts/$target"
  dict=fuzz/sparse_data.dict
  [ "$target" = model_file_fuzzer ] && dict=fuzz/model_file.dict
  echo "== $target for ${seconds}s"
  # Output of the code under test is of no interest; sanitizer and fuzzer
  # reports still reach the log.
  if ! "$build/fuzz/$target" "$build/corpus/$target" -max_total_time="$seconds" \
       -timeout=60 -rss_limit_mb=4096 -max_len=4096 -close_fd_mask=3 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$target/" -dict="$dict" \
       > "$build/$target.log" 2>&1; then
    status=1
    echo "   FINDING: see $build/$target.log and $build/artifacts/$target/"
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)|^#[0-9]+ +DONE' \
    "$build/$target.log" | sed 's/^/   /' || true
done
exit $status
