#!/usr/bin/env bash
# The multi-class cases of bench/run.sh --multiclass: kbb, spoc and spoc_l2
# against svm-train -s 0, which trains the one-versus-one pairs with the
# same C and gamma. One thread, -m 100; the four programs of a set run one
# after another in each round, so that a change in the machine's load hits
# all of them alike. Reports the median wall time, the peak resident memory
# and each time relative to the peer's.
#
#   bench/multiclass_cases.sh BIN_DIR DATA_DIR RUNS "SETS" WRAP OUT
# BIN_DIR holds tevra-train.
set -euo pipefail
bin=$1 data=$2 runs=$3 sets=$4 wrap=$5 out=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export OMP_NUM_THREADS=1

options_of() {
  case "$1" in
    letter_sized) echo "-c 16 -g 4" ;;
    satimage_sized) echo "-c 16 -g 1" ;;
    vehicle_sized) echo "-c 512 -g 0.03125" ;;
    fashion*) echo "-c 10 -g $(python3 -c 'print("%.17g" % (1.0 / 784))')" ;;
    *) echo "unknown set $1" >&2; exit 1 ;;
  esac
}

# PROGRAMS (environment) picks a subset; peer must stay in it.
programs=${PROGRAMS:-peer kbb spoc spoc_l2}
command_of() {  # program set
  local train=$data/$2.train options
  options=$(options_of "$2")
  case "$1" in
    peer) echo "svm-train -s 0 -t 2 -m 100 $options $train $work/model" ;;
    kbb) echo "$bin/tevra-train -s 1 -t 2 -m 100 $options $train $work/model" ;;
    spoc) echo "$bin/tevra-train -s 2 -t 2 -m 100 $options $train $work/model" ;;
    spoc_l2) echo "$bin/tevra-train -s 4 -t 2 -m 100 $options $train $work/model" ;;
  esac
}

for set in $sets; do
  for round in $(seq "$runs"); do
    for p in $programs; do
      # shellcheck disable=SC2046
      $wrap /usr/bin/time -f "%e %M" -o "$work/time" $(command_of "$p" "$set") >/dev/null
      echo "$(cat "$work/time")" >> "$work/$set.$p"
      echo "$set $p round $round: $(cat "$work/time")" >&2
    done
  done
done

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
{
  echo "# Multi-class formulations against one-versus-one"
  echo
  echo "OMP_NUM_THREADS=1, -m 100, $runs interleaved rounds; median wall seconds, peak resident"
  echo "memory in MB, and the time relative to svm-train -s 0 with the same C and gamma."
  echo
  echo "| set | options | peer s | kbb s (×) | spoc s (×) | spoc_l2 s (×) | peer MB | kbb MB | spoc MB | spoc_l2 MB |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  for set in $sets; do
    peer=$(cut -d' ' -f1 "$work/$set.peer" | median)
    row="| $set | $(options_of "$set") | $peer"
    for p in kbb spoc spoc_l2; do
      if [ ! -f "$work/$set.$p" ]; then row="$row | —"; continue; fi
      t=$(cut -d' ' -f1 "$work/$set.$p" | median)
      row="$row | $t ($(awk -v a="$t" -v b="$peer" 'BEGIN {printf "%.2f", a / b}'))"
    done
    for p in peer kbb spoc spoc_l2; do
      if [ ! -f "$work/$set.$p" ]; then row="$row | —"; continue; fi
      row="$row | $(cut -d' ' -f2 "$work/$set.$p" | median | awk '{printf "%.0f", $1 / 1024}')"
    done
    echo "$row |"
  done
} > "$out"
cat "$out"
