#!/usr/bin/env bash
# Two builds of the same source must give the same idrovan.exe byte for byte. Builds the
# program again in a second, differently named tree and compares.
#   check_reproducible.sh <source dir> <idrovan.exe> <scratch build dir>
set -euo pipefail
source_dir=$1 exe=$2 rebuild=$3

rm -rf "$rebuild"
cmake -S "$source_dir" -B "$rebuild" \
  -DCMAKE_TOOLCHAIN_FILE="${IDROVAN_TOOLCHAIN_FILE:-$source_dir/cmake/mingw-w64-x86_64.cmake}" \
  -DCMAKE_BUILD_TYPE=Release -DIDROVAN_TESTS=OFF >/dev/null
cmake --build "$rebuild" --target idrovan -j "$(nproc)" >/dev/null
if cmp "$exe" "$rebuild/app/idrovan.exe"; then
  rm -rf "$rebuild"
else
  echo "the second build differs; both are kept: $exe $rebuild/app/idrovan.exe"
  exit 1
fi
