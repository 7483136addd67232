#!/usr/bin/env bash
# Installs what building and testing tevra needs, where it is missing:
# compilers, CMake, GoogleTest, reference BLAS/LAPACK, GNU Octave (the host
# of the extension modules and their tests), and the locale sources from
# which a test builds a locale whose decimal point is a comma.
set -euo pipefail
need=()
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
[ -f /usr/lib/x86_64-linux-gnu/libgtest.a ] || [ -f /usr/lib/libgtest.a ] || need+=(libgtest-dev)
[ -e /usr/lib/x86_64-linux-gnu/libblas.so ] || need+=(libblas-dev)
[ -e /usr/lib/x86_64-linux-gnu/liblapack.so ] || need+=(liblapack-dev)
command -v valgrind >/dev/null || need+=(valgrind)
command -v octave-cli >/dev/null || need+=(octave)
command -v mkoctfile >/dev/null || need+=(liboctave-dev)
command -v localedef >/dev/null || need+=(libc-bin)
[ -f /usr/share/i18n/locales/de_DE ] || need+=(locales)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
