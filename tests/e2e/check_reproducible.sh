#!/usr/bin/env bash
# Two builds of the same source must give the same idrovan.exe (and idrovan-cli.exe and
# idrovan.dll with its import library, when given) byte for byte. Builds the programs again in a
# second, differently named tree and compares.
#   check_reproducible.sh <source dir> <idrovan.exe> <scratch build dir> [<idrovan-cli.exe>
#                         [<idrovan.dll>]]
set -euo pipefail
source_dir=$1 exe=$2 rebuild=$3 cli=${4:-} dll=${5:-}

rm -rf "$rebuild"
cmake -S "$source_dir" -B "$rebuild" \
  -DCMAKE_TOOLCHAIN_FILE="${IDROVAN_TOOLCHAIN_FILE:-$source_dir/cmake/mingw-w64-x86_64.cmake}" \
  -DCMAKE_BUILD_TYPE=Release -DIDROVAN_TESTS=OFF >/dev/null
targets=(idrovan)
[[ -z $cli ]] || targets+=(idrovan-cli)
[[ -z $dll ]] || targets+=(idrovan_dll)
cmake --build "$rebuild" --target "${targets[@]}" -j "$(nproc)" >/dev/null
status=0
compare() {
  if ! cmp "$1" "$2"; then
    echo "the second build differs; both are kept: $1 $2"
    status=1
  fi
}
compare "$exe" "$rebuild/app/idrovan.exe"
[[ -z $cli ]] || compare "$cli" "$rebuild/cli/idrovan-cli.exe"
if [[ -n $dll ]]; then
  compare "$dll" "$rebuild/api/idrovan.dll"
  compare "$(dirname "$dll")/libidrovan.dll.a" "$rebuild/api/libidrovan.dll.a"
fi
if ((status == 0)); then
  rm -rf "$rebuild"
fi
exit $status
