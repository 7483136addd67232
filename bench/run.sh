#!/usr/bin/env bash
# Benchmarks tevra against svm-train (libsvm-tools) and liblinear-train
# (liblinear-tools) on public data sets from Debian packages and writes a
# markdown table.
#
#   bench/run.sh            default run: a few minutes; table in bench/results.md
#   bench/run.sh --full     Fashion-MNIST with 12000 training images, 5 runs;
#                           table in bench/results-full.md (hours: kbb and spoc
#                           on 12000 images take long)
#   bench/run.sh --linear   the linear-kernel cases against liblinear-train/-predict
#                           (bench/linear_table.sh on bench/data; table in
#                           bench/results-linear.md; --wrap CMD as for --multiclass)
#   bench/run.sh --multiclass [--data DIR] [--wrap CMD] [--sets LIST]
#                           kbb, spoc and spoc_l2 against svm-train -s 0 (one
#                           versus one) with the same C and gamma, one thread,
#                           -m 100, runs interleaved; wall time and peak memory
#                           in bench/results-multiclass.md. DIR holds the sets
#                           of prepare_data.py --shaped and fashion12000
#                           (default: written into bench/data-multiclass); CMD prefixes every timed run
#                           (for example a lock that keeps the machine quiet)
#   options: --runs N, --only SUBSTRING (cases whose name or data set match)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

full=0
linear=0
multiclass=0
runs=""
only=""
mc_data=""
mc_wrap=""
mc_sets="letter_sized satimage_sized vehicle_sized fashion12000"
while [ $# -gt 0 ]; do
  case "$1" in
    --full) full=1 ;;
    --linear) linear=1; full=1 ;;
    --multiclass) multiclass=1 ;;
    --data) mc_data="$2"; shift ;;
    --wrap) mc_wrap="$2"; shift ;;
    --sets) mc_sets="$2"; shift ;;
    --runs) runs="$2"; shift ;;
    --only) only="$2"; shift ;;
    *) echo "usage: bench/run.sh [--full | --multiclass | --linear] [--runs N] [--only SUBSTRING]" >&2; exit 1 ;;
  esac
  shift
done

if [ "$full" = 1 ]; then
  fashion_train=12000; runs=${runs:-5}; out=bench/results-full.md; title="full run"
else
  fashion_train=1500; runs=${runs:-3}; out=bench/results.md; title="default run"
fi

sudo_cmd=""
if [ "$(id -u)" != 0 ]; then sudo_cmd="sudo"; fi
need=()
command -v svm-train >/dev/null || need+=(libsvm-tools)
command -v liblinear-train >/dev/null || need+=(liblinear-tools)
/usr/bin/python3 -c "import sklearn" 2>/dev/null || need+=(python3-sklearn)
[ -d /usr/share/datasets/fashion-mnist ] || need+=(dataset-fashion-mnist)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${need[@]}"
fi

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTEVRA_BUILD_TESTS=OFF \
  -DTEVRA_BUILD_MEX=OFF -DTEVRA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 >/dev/null

if [ "$multiclass" = 1 ]; then
  if [ -z "$mc_data" ]; then
    mc_data=$root/bench/data-multiclass
    if [ ! -f "$mc_data/.prepared" ]; then
      mkdir -p "$mc_data"
      /usr/bin/python3 bench/prepare_data.py "$mc_data" --fashion-train 12000 --fashion-test 2000 --shaped
      touch "$mc_data/.prepared"
    fi
  fi
  exec bench/multiclass_cases.sh "$root/$build/tools/train" "$mc_data" "${runs:-3}" \
    "$mc_sets" "$mc_wrap" bench/results-multiclass.md
fi

data=bench/data
stamp="$data/.prepared-$fashion_train"
if [ ! -f "$stamp" ]; then
  mkdir -p "$data"
  /usr/bin/python3 bench/prepare_data.py "$data" --fashion-train "$fashion_train" --fashion-test 2000
  touch "$stamp"
fi

if [ "$linear" = 1 ]; then
  [ -f "$data/sparse20k.train" ] ||
    /usr/bin/python3 bench/prepare_data.py "$data" --fashion-train 12000 --fashion-test 2000 --shaped
  tools="$build/linear-tools"
  mkdir -p "$tools"
  ln -sf "$root/$build/tools/train/tevra-train" "$root/$build/tools/predict/tevra-predict" "$tools/"
  RUNS=${runs:-1} WRAP="$mc_wrap" bench/linear_table.sh "$root/$tools" "$root/$data" >bench/results-linear.md
  echo "table: bench/results-linear.md"
  exit 0
fi

/usr/bin/python3 bench/compare.py --bin "$root/$build" --data "$root/$data" --out "$out" \
  --runs "$runs" --fashion "fashion$fashion_train" --only "$only" --title "$title"
echo "table: $out"
