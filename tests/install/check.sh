#!/usr/bin/env bash
# Installs a build into a fresh prefix and builds a small consumer program
# against the installed tree twice, through find_package(tevra) and through
# pkg-config; both programs must run and succeed.
#   tests/install/check.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
for file in bin/tevra-train bin/tevra-predict; do
  [ -x "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
[ -f "$prefix/include/tevra/tevra.h" ] || { echo "not installed: include/tevra/tevra.h"; exit 1; }
# Nothing but the public header is installed.
headers=$(cd "$prefix/include" && find . -type f | sort)
[ "$headers" = "./tevra/tevra.h" ] || { echo "installed headers: $headers"; exit 1; }

cmake -S "$here/consumer" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_TYPE=Release > "$work/configure.log"
cmake --build "$work/cmake-consumer" > "$work/build.log"
"$work/cmake-consumer/consumer"

pc_dir=$(dirname "$(find "$prefix" -name tevra.pc)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs tevra)
g++ -std=c++17 "$here/consumer/consumer.cpp" $flags -o "$work/pkg-config-consumer"
"$work/pkg-config-consumer"
echo "installed tree builds and runs both consumers"
