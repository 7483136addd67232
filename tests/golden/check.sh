#!/usr/bin/env bash
# Trains every case of cases.txt and compares the progress output, the model
# file and the predictions byte for byte with the committed golden copies.
# Usage: check.sh TRAIN PREDICT [--update | --threads LIST]
# With --threads (for example 1,3) every case runs once per thread count
# (OMP_NUM_THREADS) and each run must match the golden copies.
set -euo pipefail
train=$1 predict=$2 mode=${3:-}
threads=("")
if [ "$mode" = "--threads" ]; then
  IFS=',' read -r -a threads <<< "$4"
fi
here=$(cd "$(dirname "$0")" && pwd)
data=$here/../data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
while IFS='|' read -r name set options test_set; do
  name=$(echo $name)
  case "$name" in ''|'#'*) continue ;; esac
  set=$(echo $set) test_set=$(echo $test_set)
  for count in "${threads[@]}"; do
    out=$work/$name${count:+-$count}
    label=$name${count:+ ($count threads)}
    mkdir -p "$out"
    (
      [ -z "$count" ] || export OMP_NUM_THREADS=$count
      cd "$out"
      $train $options "$data/$set" model > train.txt
      [ -f model ] || : > model
      if [ "$test_set" != "-" ]; then
        $predict "$data/$test_set" model predictions > predict.txt
      fi
    )
    for file in train.txt model predictions predict.txt; do
      [ -f "$out/$file" ] || continue
      golden=$here/expected/$name.$file
      if [ "$mode" = "--update" ]; then
        mkdir -p "$here/expected"
        cp "$out/$file" "$golden"
      elif ! cmp -s "$out/$file" "$golden"; then
        echo "MISMATCH: $label $file"
        diff "$golden" "$out/$file" | head -5 || true
        failed=1
      fi
    done
  done
done < "$here/cases.txt"
[ "$failed" = 0 ] && echo "all golden outputs match${4:+ at $4 threads}"
exit $failed
