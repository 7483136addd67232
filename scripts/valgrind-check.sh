#!/usr/bin/env bash
# Runs both tools under valgrind memcheck on small data sets: a training run
# of every formulation (the kernel path, and the linear path where it has
# one), a cross-validation run, a prediction run and a few refused inputs.
# Any memory error, or any definite or indirect leak, fails the check.
#
# Uses the tools of $TEVRA_BUILD_DIR (default build/), building them there
# when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TEVRA_BUILD_DIR:-$root/build}
data=$root/tests/data
command -v valgrind > /dev/null || { echo "valgrind-check: valgrind is not installed" >&2; exit 1; }
train_tool=$build/tools/train/tevra-train
predict_tool=$build/tools/predict/tevra-predict
if [ ! -x "$train_tool" ] || [ ! -x "$predict_tool" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j2 --target tevra-train tevra-predict
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vg_error=99
failures=0
runs=0

# check EXPECTED_STATUS NAME command...: runs the command under memcheck.
check() {
  local expected=$1 name=$2
  shift 2
  runs=$((runs + 1))
  local status=0
  valgrind --quiet --error-exitcode=$vg_error --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
    --log-file="$work/$name.vg" "$@" > "$work/$name.out" 2> "$work/$name.err" || status=$?
  if [ "$status" -eq "$expected" ] && [ ! -s "$work/$name.vg" ]; then
    echo "ok      $name"
    return 0
  fi
  failures=$((failures + 1))
  echo "FAILED  $name (exit status $status, expected $expected)"
  cat "$work/$name.vg" "$work/$name.err" 2> /dev/null | head -n 60 | sed 's/^/        /' || true
}

# A small three-class set (iris) and a regression view of the same file.
head -n 150 "$data/iris.all" > "$work/iris"
cd "$work"

check 0 train-c_svc-rbf "$train_tool" -s 0 iris c_svc.model
check 0 train-c_svc-linear "$train_tool" -s 0 -t 0 -c 4 iris c_svc_linear.model
check 0 train-epsilon_svr-rbf "$train_tool" -s 3 iris epsilon_svr.model
check 0 train-epsilon_svr-linear "$train_tool" -s 3 -t 0 -c 4 iris epsilon_svr_linear.model
check 0 train-kbb-polynomial "$train_tool" -s 1 -t 1 iris kbb.model
check 0 train-spoc-rbf "$train_tool" -s 2 iris spoc.model
check 0 train-spoc_l2-sigmoid "$train_tool" -s 4 -t 3 -g 0.1 iris spoc_l2.model
check 0 cross-validation-c_svc "$train_tool" -v 3 iris
check 0 cross-validation-epsilon_svr "$train_tool" -s 3 -t 0 -v 3 iris
check 1 train-missing-model-dir "$train_tool" -t 0 iris no-such-dir/x.model
check 1 train-refused-line "$train_tool" "$root/tests/hardening/data/bad_index_order.train" x.model

for model in c_svc c_svc_linear epsilon_svr kbb spoc spoc_l2; do
  check 0 predict-$model "$predict_tool" iris $model.model $model.out
done
check 0 predict-fixture "$predict_tool" iris "$root/tests/hardening/data/three_class.model" fixture.out
check 1 predict-truncated-model "$predict_tool" iris "$root/tests/hardening/data/truncated.model" t.out
check 1 predict-refused-line "$predict_tool" "$root/tests/hardening/data/bad_index_order.train" \
  "$root/tests/hardening/data/three_class.model" r.out

echo "valgrind-check: $runs runs, $failures failed"
[ "$failures" -eq 0 ]
