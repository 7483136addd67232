#!/usr/bin/env bash
# Trains every case of cases.txt and compares the progress output, the model
# file and the predictions byte for byte with the committed golden copies.
# Usage: check.sh TRAIN PREDICT [--update]
set -euo pipefail
train=$1 predict=$2 update=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
data=$here/../data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
while IFS='|' read -r name set options test_set; do
  name=$(echo $name)
  case "$name" in ''|'#'*) continue ;; esac
  set=$(echo $set) test_set=$(echo $test_set)
  out=$work/$name
  mkdir -p "$out"
  (cd "$out" && $train $options "$data/$set" model > train.txt)
  [ -f "$out/model" ] || : > "$out/model"
  if [ "$test_set" != "-" ]; then
    (cd "$out" && $predict "$data/$test_set" model predictions > predict.txt)
  fi
  for file in train.txt model predictions predict.txt; do
    [ -f "$out/$file" ] || continue
    golden=$here/expected/$name.$file
    if [ "$update" = "--update" ]; then
      mkdir -p "$here/expected"
      cp "$out/$file" "$golden"
    elif ! cmp -s "$out/$file" "$golden"; then
      echo "MISMATCH: $name $file"
      diff "$golden" "$out/$file" | head -5 || true
      failed=1
    fi
  done
done < "$here/cases.txt"
[ "$failed" = 0 ] && echo "all golden outputs match"
exit $failed
