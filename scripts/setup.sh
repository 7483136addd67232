#!/usr/bin/env bash
# Installs what building and testing tevra needs, where it is missing:
# compilers, CMake, pkg-config, GoogleTest, reference BLAS/LAPACK, GNU Octave (the host
# of the extension modules and their tests), the locale sources from which
# a test builds a locale whose decimal point is a comma, for the Python
# package Debian's Python 3 with pybind11, numpy, scipy, scikit-learn, Dask,
# matplotlib, pytest and the tools to install it with pip, and for the race
# check clang with LLVM's OpenMP runtime, its Archer tool and
# ThreadSanitizer.
set -euo pipefail
need=()
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
command -v pkg-config >/dev/null || need+=(pkg-config)
[ -f /usr/lib/x86_64-linux-gnu/libgtest.a ] || [ -f /usr/lib/libgtest.a ] || need+=(libgtest-dev)
[ -e /usr/lib/x86_64-linux-gnu/libblas.so ] || need+=(libblas-dev)
[ -e /usr/lib/x86_64-linux-gnu/liblapack.so ] || need+=(liblapack-dev)
command -v valgrind >/dev/null || need+=(valgrind)
command -v octave-cli >/dev/null || need+=(octave)
command -v mkoctfile >/dev/null || need+=(liboctave-dev)
command -v localedef >/dev/null || need+=(libc-bin)
[ -f /usr/share/i18n/locales/de_DE ] || need+=(locales)
[ -x /usr/lib/llvm-14/bin/clang++ ] || need+=(clang-14)
[ -e /usr/lib/llvm-14/lib/libarcher.so ] || need+=(libomp-14-dev)
compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.tsan-x86_64.a" >/dev/null || need+=(libclang-rt-14-dev)
for package in python3-dev pybind11-dev python3-pybind11 python3-numpy python3-scipy \
               python3-sklearn python3-dask python3-distributed python3-matplotlib python3-pytest \
               python3-pip python3-venv python3-setuptools python3-wheel; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || need+=("$package")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
