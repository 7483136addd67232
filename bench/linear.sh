#!/usr/bin/env bash
# One case of the linear-kernel table (bench/results-linear.md), run once:
#   bench/linear.sh CASE PROGRAM BIN_DIR DATA_DIR OUT_DIR
# CASE: fashion2c | sparse20k | satimage | letter | wide4 | classes200
# PROGRAM: a0 | a1 (tevra-train/-predict from BIN_DIR, -a 0 or -a 1) | peer
# (liblinear-train/-predict, -B 1 for the folded bias, -s 4 for spoc).
# Prints one line: case program train_s train_MB objective predict_s accuracy.
# Run every call alone on the machine (cpu exclusive); a run longer than
# TIMEOUT seconds (default 120) is recorded as a timeout.
set -u
case_name=$1 program=$2 bin=$3 data=$4 out=$5
timeout_s=${TIMEOUT:-120}
mkdir -p "$out"
case "$case_name" in
  fashion2c) set_name=fashion2c12000 tevra="-t 0 -c 0.01 -e 1e-5" peer="-s 3 -B 1 -c 0.01 -e 1e-5" ;;
  sparse20k) set_name=sparse20k tevra="-t 0 -c 1 -e 1e-5" peer="-s 3 -B 1 -c 1 -e 1e-5" ;;
  satimage) set_name=satimage_sized tevra="-s 2 -t 0 -c 1 -e 1e-3" peer="-s 4 -c 1 -e 1e-3" ;;
  letter) set_name=letter_sized tevra="-s 2 -t 0 -c 1 -e 1e-3" peer="-s 4 -c 1 -e 1e-3" ;;
  # Four samples, one of them with feature 10,000,000 (training memory).
  wide4) set_name=wide4 tevra="-t 0 -c 1" peer="-s 3 -B 1 -c 1"
    printf '1 1:1 2:0.5\n-1 2:1 10000000:0.25\n1 1:0.5 3:1\n-1 3:0.5 10000000:1\n' \
      >"$out/wide4.train"
    cp "$out/wide4.train" "$out/wide4.test" ;;
  # 200 classes of 3 samples each, largest index 1,000,000 (dense-row sizing).
  classes200) set_name=classes200 tevra="-t 2 -c 1" peer=""
    python3 - "$out/classes200.train" <<'PY'
import random, sys
random.seed(7)
with open(sys.argv[1], "w") as f:
    for c in range(200):
        for s in range(3):
            idx = sorted(random.sample(range(1, 1000), 3)) + [1000000]
            f.write(str(c + 1) + "".join(" %d:%.3f" % (i, random.random()) for i in idx) + "\n")
PY
    cp "$out/classes200.train" "$out/classes200.test" ;;
  *) echo "unknown case $case_name" >&2; exit 2 ;;
esac
if [ -n "${DATA_OVERRIDE:-}" ] || [ "$case_name" = wide4 ] || [ "$case_name" = classes200 ]; then
  train=$out/$set_name.train test=$out/$set_name.test
else
  train=$data/$set_name.train test=$data/$set_name.test
fi
model=$out/$case_name.$program.model
log=$out/$case_name.$program
case "$program" in
  a0|a1) train_cmd=("$bin/tevra-train" $tevra -a "${program#a}" "$train" "$model")
         predict_cmd=("$bin/tevra-predict" "$test" "$model" "$out/$case_name.$program.out") ;;
  ref)   train_cmd=("$bin/tevra-train" $tevra "$train" "$model")
         predict_cmd=("$bin/tevra-predict" "$test" "$model" "$out/$case_name.$program.out") ;;
  peer)  train_cmd=(liblinear-train $peer "$train" "$model")
         predict_cmd=(liblinear-predict "$test" "$model" "$out/$case_name.$program.out") ;;
esac
timed() {  # timed LOG CMD...: prints seconds and peak MB, or "timeout"
  local log=$1; shift
  timeout "$timeout_s" /usr/bin/time -f '%e %M' -o "$log.time" "$@" >"$log.stdout" 2>&1
  local rc=$?
  if [ $rc -eq 124 ]; then echo "timeout(${timeout_s}s) -"; return 1; fi
  if [ $rc -ne 0 ]; then echo "failed($rc) -"; return 1; fi
  awk '{printf "%s %.1f", $1, $2 / 1024}' "$log.time"
}
train_result=$(timed "$log.train" "${train_cmd[@]}") || { echo "$case_name $program $train_result - - -"; exit 0; }
objective=$(grep -oE '(obj = |Objective value = )-?[0-9.e+-]+' "$log.train.stdout" | tail -1 | grep -oE -- '-?[0-9.e+-]+$')
predict_result=$(timed "$log.predict" "${predict_cmd[@]}") || predict_result="$predict_result"
accuracy=$(grep -oE 'Accuracy = [0-9.]+%' "$log.predict.stdout" | grep -oE '[0-9.]+%')
echo "$case_name $program $train_result ${objective:--} ${predict_result%% *} ${accuracy:--}"
