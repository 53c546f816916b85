#!/usr/bin/env bash
# Two builds of the same source must give the same idrovan.exe byte for byte. Builds the
# program again in a second, differently named tree and compares.
#   check_reproducible.sh <source dir> <idrovan.exe> <scratch build dir> [toolchain file]
# The toolchain file is the one the program was built with (default: the 64-bit one).
set -euo pipefail
source_dir=$1 exe=$2 rebuild=$3
toolchain=${4:-$source_dir/cmake/mingw-w64-x86_64.cmake}

rm -rf "$rebuild"
cmake -S "$source_dir" -B "$rebuild" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DIDROVAN_TESTS=OFF >/dev/null
cmake --build "$rebuild" --target idrovan -j "$(nproc)" >/dev/null
if cmp "$exe" "$rebuild/app/idrovan.exe"; then
  rm -rf "$rebuild"
else
  echo "the second build differs; both are kept: $exe $rebuild/app/idrovan.exe"
  exit 1
fi
