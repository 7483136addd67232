#!/usr/bin/env bash
# Wall time of training and prediction at several thread counts, the
# speed-up over the first count, and a check that every count writes the
# same bytes (progress output, model file, predictions, summary).
#
#   bench/threads.sh [--threads LIST] [--runs N] [--only SUBSTRING]
#                    [--run-under CMD] [--data DIR] [--out FILE]
#
#   --threads  thread counts (OMP_NUM_THREADS), for example 1,2,4,8,16; the
#              first one is the base of the speed-up (default 1,2)
#   --runs     timed runs per case and count; the table shows the median (3)
#   --only     only the cases whose name contains SUBSTRING
#   --run-under  a command that each timed run runs under, for example one
#              that waits for the machine to be quiet (words split at blanks)
#   --data     data directory (default bench/data-threads, written by
#              bench/prepare_data.py on first use: Fashion-MNIST with 12000
#              training and 10000 test images, and the shaped sets)
#   --out      markdown table (default bench/results-threads.md)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

thread_list=1,2
runs=3
only=""
run_under=""
data=$root/bench/data-threads
out=$root/bench/results-threads.md
while [ $# -gt 0 ]; do
  case "$1" in
    --threads) thread_list=$2; shift ;;
    --runs) runs=$2; shift ;;
    --only) only=$2; shift ;;
    --run-under) run_under=$2; shift ;;
    --data) data=$2; shift ;;
    --out) out=$2; shift ;;
    *) echo "usage: bench/threads.sh [--threads LIST] [--runs N] [--only SUBSTRING] [--run-under CMD] [--data DIR] [--out FILE]" >&2
       exit 1 ;;
  esac
  shift
done
IFS=',' read -r -a counts <<< "$thread_list"

sudo_cmd=""
if [ "$(id -u)" != 0 ]; then sudo_cmd="sudo"; fi
need=()
[ -x /usr/bin/time ] || need+=(time)
/usr/bin/python3 -c "import sklearn" 2>/dev/null || need+=(python3-sklearn)
[ -d /usr/share/datasets/fashion-mnist ] || need+=(dataset-fashion-mnist)
if [ ${#need[@]} -gt 0 ]; then
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${need[@]}"
fi

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTEVRA_BUILD_TESTS=OFF \
  -DTEVRA_BUILD_MEX=OFF >/dev/null
cmake --build "$build" -j2 --target tevra-train tevra-predict >/dev/null
train=$root/$build/tools/train/tevra-train
predict=$root/$build/tools/predict/tevra-predict

if [ ! -f "$data/.prepared-threads" ]; then
  mkdir -p "$data"
  /usr/bin/python3 bench/prepare_data.py "$data" --fashion-train 12000 --fashion-test 10000 --shaped
  touch "$data/.prepared-threads"
fi

gamma_img=0.0012755102040816326  # 1 / 784
# name | data set | what | options (training), or the case whose model predicts
cases=(
  "rbf c_svc|fashion12000|train|-s 0 -t 2 -c 10 -g $gamma_img"
  "rbf kbb|fashion12000|train|-s 1 -t 2 -c 10 -g $gamma_img"
  "spoc|letter_sized|train|-s 2 -t 2 -c 10"
  "linear c_svc|fashion2c12000|train|-s 0 -t 0 -c 1 -e 0.0001"
  "predict rbf (10000 lines)|fashion12000|predict|rbf c_svc"
  "predict linear (10000 lines)|fashion2c12000|predict|linear c_svc"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# timed DIR THREADS command...: runs the command in DIR with OMP_NUM_THREADS,
# appends its wall time in seconds to DIR/walls.
timed() {
  local dir=$1 threads=$2
  shift 2
  local prefix=()
  [ -z "$run_under" ] || read -r -a prefix <<< "$run_under"
  (cd "$dir" && OMP_NUM_THREADS=$threads "${prefix[@]}" /usr/bin/time -f %e -o time.txt "$@" \
     > stdout.txt 2> stderr.txt) || { echo "failed: $* (see $dir)" >&2; cat "$dir/stderr.txt" >&2; exit 1; }
  cat "$dir/time.txt" >> "$dir/walls"
}

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

slug() { echo "$1" | tr -c 'a-zA-Z0-9_\n' '_'; }

# The model a prediction case uses: trained here once, at the first count.
model_of() {
  local dir=$work/models/$(slug "$1")
  if [ ! -f "$dir/model" ]; then
    local entry options set
    for entry in "${cases[@]}"; do
      IFS='|' read -r name set _ options <<< "$entry"
      [ "$name" = "$1" ] && break
    done
    mkdir -p "$dir"
    (cd "$dir" && OMP_NUM_THREADS=${counts[0]} "$train" $options "$data/$set.train" model > /dev/null)
  fi
  echo "$dir/model"
}

header="| case | data | options |"
rule="|---|---|---|"
for n in "${counts[@]}"; do header+=" ${n} thr (s) |"; rule+="---|"; done
for n in "${counts[@]:1}"; do header+=" speed-up ${n} thr |"; rule+="---|"; done
header+=" same bytes |"
rule+="---|"
rows=()
for entry in "${cases[@]}"; do
  IFS='|' read -r name set what options <<< "$entry"
  case "$name $set" in *"$only"*) ;; *) continue ;; esac
  echo "== $name"
  if [ "$what" = predict ]; then model=$(model_of "$options"); fi
  walls=()
  for n in "${counts[@]}"; do
    dir=$work/$(slug "$name")/$n
    mkdir -p "$dir"
    for ((r = 0; r < runs; ++r)); do
      if [ "$what" = train ]; then
        timed "$dir" "$n" "$train" $options "$data/$set.train" model
      else
        timed "$dir" "$n" "$predict" "$data/$set.test" "$model" predictions
      fi
    done
    walls+=("$(median "$dir/walls")")
    echo "   $n threads: ${walls[-1]} s"
  done
  same=yes
  base=$work/$(slug "$name")/${counts[0]}
  for n in "${counts[@]:1}"; do
    for file in stdout.txt model predictions; do
      [ -f "$base/$file" ] || continue
      cmp -s "$base/$file" "$work/$(slug "$name")/$n/$file" || same="no ($file at $n threads)"
    done
  done
  shown_options=$options
  [ "$what" = predict ] && shown_options="model of $options"
  row="| $name | $set | \`$shown_options\` |"
  for w in "${walls[@]}"; do row+=" $w |"; done
  for w in "${walls[@]:1}"; do row+=" $(awk -v a="${walls[0]}" -v b="$w" 'BEGIN { printf "%.2f", a / b }') |"; done
  row+=" $same |"
  rows+=("$row")
done

{
  echo "# tevra at several thread counts"
  echo
  echo "Generated by \`bench/threads.sh --threads $thread_list --runs $runs\` on $(date -u '+%Y-%m-%d %H:%M UTC'),"
  echo "$(uname -m), $(nproc) cores. Wall time is the median of $runs runs in seconds (\`/usr/bin/time\`),"
  echo "speed-up = time at ${counts[0]} thread(s) / time at the count. \"same bytes\": progress output,"
  echo "model file and predictions are identical at every count."
  echo
  echo "$header"
  echo "$rule"
  printf '%s\n' "${rows[@]}"
} > "$out"
echo "table: $out"
