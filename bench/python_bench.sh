#!/usr/bin/env bash
# Runs the Python package's benchmarks one case at a time under the
# exclusive CPU lock and writes bench/results-python.md.
#   bench/python_bench.sh [DATA_DIR]   (default /work/benchdata; the sets of
#   bench/prepare_data.py DATA_DIR --fashion-train 12000 --shaped)
set -euo pipefail
cd "$(dirname "$0")/.."
data=${1:-/work/benchdata}
build=${TEVRA_BUILD_DIR:-$PWD/build}
export PYTHONPATH=$build/python
results=$(mktemp)
trap 'rm -f "$results"' EXIT
bench() { flock -x /tmp/tevra-cpu.lock /usr/bin/python3 bench/python_bench.py "$@" | tee -a "$results"; }
bench overhead "$build/tools/train/tevra-train" "$data"
bench fit "$data"
for c in -1 1 3 5 7; do
  bench grid tevra-grid "$c" "$data"
  bench grid sklearn "$c" "$data"
done
/usr/bin/python3 bench/python_bench.py report "$results" > bench/results-python.md
