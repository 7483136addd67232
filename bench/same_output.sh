#!/usr/bin/env bash
# Proves that a speed change leaves results alone: trains and predicts a
# matrix of cases with two builds and compares progress output, model files
# and predictions byte for byte.
#
#   bench/same_output.sh [--threads LIST] OLD_BIN_DIR NEW_BIN_DIR [DATA_DIR]
#
# Each BIN_DIR holds tevra-train and tevra-predict. DATA_DIR defaults to
# bench/data as bench/run.sh prepares it (the default run is enough).
# With --threads (for example 1,2,3,4,7) the new build runs every case once
# per thread count (OMP_NUM_THREADS), and each run must match the old
# build's; without it the new build runs with the environment as it is.
set -euo pipefail
thread_list=""
if [ "${1:-}" = "--threads" ]; then
  thread_list=$2
  shift 2
fi
old=$1 new=$2
data=${3:-$(cd "$(dirname "$0")" && pwd)/data}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 1000-image slice of Fashion-MNIST keeps the run short while still
# exercising eviction (-m 1) and long sparse rows.
head -n 1000 "$data"/fashion3000.train > "$work/fashion.train"
head -n 500 "$data"/fashion3000.test > "$work/fashion.test"
for set in breast_cancer diabetes digits wine; do
  cp "$data/$set.train" "$data/$set.test" "$work/"
done

# name | data set | options
cases=(
  "svc-rbf|breast_cancer|-s 0"
  "svc-rbf-q2|breast_cancer|-s 0 -q 2 -c 10"
  "svc-rbf-q25-noshrink|breast_cancer|-s 0 -q 25 -h 0"
  "svc-poly|wine|-s 0 -t 1 -g 0.1 -r 1"
  "svc-sigmoid|wine|-s 0 -t 3 -g 0.01"
  "svc-linear|breast_cancer|-s 0 -t 0"
  "svc-linear-seed|breast_cancer|-s 0 -t 0 -c 8 -b 0.5 -i 2"
  "svc-linear-digits|digits|-s 0 -t 0 -c 0.1"
  "svc-rbf-digits-weights|digits|-s 0 -w1 2 -w7 0.5 -m 1"
  "svc-rbf-fashion-smallcache|fashion|-s 0 -g 0.02 -m 1"
  "svc-rbf-fashion|fashion|-s 0 -g 0.02 -c 4"
  "kbb-rbf|wine|-s 1"
  "kbb-rbf-digits|digits|-s 1 -m 1"
  "kbb-linear|digits|-s 1 -t 0 -c 0.1"
  "kbb-rbf-fashion|fashion|-s 1 -g 0.02 -q 16"
  "kbb-noshrink|wine|-s 1 -h 0 -q 4"
  "spoc-rbf|digits|-s 2"
  "spoc-linear|digits|-s 2 -t 0"
  "spoc-rbf-fashion|fashion|-s 2 -g 0.02 -m 1"
  "spoc-noshrink|wine|-s 2 -h 0"
  "spoc_l2-rbf|digits|-s 4 -c 2"
  "spoc_l2-linear|wine|-s 4 -t 0"
  "svr-rbf|diabetes|-s 3"
  "svr-rbf-smallcache|diabetes|-s 3 -m 0.05 -q 6"
  "svr-linear|diabetes|-s 3 -t 0 -c 4"
  "svr-linear-seed|diabetes|-s 3 -t 0 -c 16 -b 1 -i 4 -h 0"
  "cv-svc|breast_cancer|-s 0 -v 5"
  "cv-kbb|wine|-s 1 -v 3"
  "cv-spoc|wine|-s 2 -v 3"
)

# run SIDE BIN_DIR NAME SET OPTIONS: trains and predicts one case into
# $work/SIDE/NAME.
run() {
  local dir=$work/$1/$3
  mkdir -p "$dir"
  (cd "$dir" && "$2/tevra-train" $5 "$work/$4.train" model > train.txt 2>&1) || true
  if [ -f "$dir/model" ]; then
    (cd "$dir" && "$2/tevra-predict" "$work/$4.test" model predictions > predict.txt 2>&1) || true
  fi
}

sides=(new)
if [ -n "$thread_list" ]; then
  sides=()
  for t in ${thread_list//,/ }; do sides+=("new-$t"); done
fi

failed=0
for entry in "${cases[@]}"; do
  IFS='|' read -r name set options <<< "$entry"
  run old "$old" "$name" "$set" "$options"
  for side in "${sides[@]}"; do
    if [ "$side" = new ]; then
      run new "$new" "$name" "$set" "$options"
    else
      OMP_NUM_THREADS=${side#new-} run "$side" "$new" "$name" "$set" "$options"
    fi
  done
  same=1
  for side in "${sides[@]}"; do
    for file in train.txt model predictions predict.txt; do
      if [ -f "$work/old/$name/$file" ] || [ -f "$work/$side/$name/$file" ]; then
        cmp -s "$work/old/$name/$file" "$work/$side/$name/$file" ||
          { same=0; echo "DIFFERS: $name $file (${side})"; }
      fi
    done
  done
  [ "$same" = 1 ] && echo "same: $name" || failed=1
done
[ "$failed" = 0 ] && echo "every case is byte-identical${thread_list:+ at $thread_list threads}"
exit $failed
