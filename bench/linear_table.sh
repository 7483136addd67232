#!/usr/bin/env bash
# The linear-kernel table: every case of bench/linear.sh, tevra before
# (REF_BIN, optional), tevra -a 0 and -a 1 (BIN) and liblinear-train/-predict,
# interleaved, one run each per round; markdown on stdout.
#   bench/linear_table.sh BIN DATA_DIR [REF_BIN]
# RUNS (default 1) rounds; WRAP, if set, prefixes every single run (for
# example a command that waits until the machine is quiet).
set -u
bin=$1 data=$2 ref=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
programs=(a0 a1 peer)
[ -n "$ref" ] && programs=(ref "${programs[@]}")
echo "| case | program | train s | train peak MB | objective | predict s | accuracy |"
echo "|---|---|---|---|---|---|---|"
for round in $(seq "${RUNS:-1}"); do
  for c in fashion2c sparse20k satimage letter wide4 classes200; do
    for p in "${programs[@]}"; do
      [ "$c" = classes200 ] && { [ "$p" = a1 ] || [ "$p" = peer ]; } && continue  # rbf
      dir=$bin; [ "$p" = ref ] && dir=$ref
      ${WRAP:-} "$here/linear.sh" "$c" "$p" "$dir" "$data" "$out" |
        awk '{printf "| %s | %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6, $7}'
    done
  done
done
