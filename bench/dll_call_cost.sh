#!/usr/bin/env bash
# A benchmark, not a test: what one call of idrovan.dll costs its host under Wine, for this tree's
# DLL (after) against the DLL of an earlier revision (before), in one prefix whose marker the
# console wrote, by one host (bench/dll_call_cost.c) that loads both DLLs and alternates between
# them call by call. Prints each kind of call's medians and their after/before ratio, and the
# wineserver requests of one call of each kind (the server's +server log, between two marks,
# less the marks' own requests).
#   bench/dll_call_cost.sh <before revision> [build dir, default build/windows] [rounds, default 500]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
revision=${1:?before revision}
build=$(realpath "${2:-$root/build/windows}")
rounds=${3:-500}
work=$build/bench/dll-call-cost
mkdir -p "$work"

cmake --build "$build" --target idrovan_dll idrovan-cli -j 2 >/dev/null
compiler=$(sed -n 's/^set(CMAKE_C_COMPILER "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeCCompiler.cmake | head -1)
"$compiler" -O2 -Wall -I"$root" "$here/dll_call_cost.c" -o "$work/dll_call_cost.exe"

# The DLL before: the earlier revision's sources (an archive of them, no checkout), configured
# like this build, without tests.
before=$work/before
commit=$(git -C "$root" rev-parse "$revision^{commit}")
if [[ $(cat "$before/commit" 2>/dev/null) != "$commit" ]]; then
  rm -rf "$before"
  mkdir -p "$before/src"
  git -C "$root" archive "$commit" | tar -x -C "$before/src"
  echo "$commit" >"$before/commit"
fi
toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
cmake -S "$before/src" -B "$before/build" -DCMAKE_BUILD_TYPE=Release -DIDROVAN_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$before/src/cmake/$(basename "$toolchain")" >/dev/null
cmake --build "$before/build" --target idrovan_dll -j 2 >/dev/null
cp "$before/build/api/idrovan.dll" "$work/idrovan-before.dll"
cp "$build/api/idrovan.dll" "$work/idrovan-after.dll"

serial=00c0ffee
root_time=2019-03-04T09:05:07.042
source "$root/tests/e2e/e2e_prefix.sh"
e2e_begin
e2e_fresh_prefix "$work/prefix"
wine "$build/cli/idrovan-cli.exe" </dev/null >/dev/null
host=$work/dll_call_cost.exe

echo "== one host, both DLLs side by side, $rounds rounds"
wine "$host" "$(wine64 winepath -w "$work/idrovan-before.dll")" \
  "$(wine64 winepath -w "$work/idrovan-after.dll")" "$rounds" </dev/null | tr -d '\r'

echo "== wineserver requests of one call (the server's +server log, between two marks)"
wineserver -k
wineserver -d1 -f -p 2>"$work/server.log" &
server=$!
sleep 1
wine "$host" "$(wine64 winepath -w "$work/idrovan-before.dll")" \
  "$(wine64 winepath -w "$work/idrovan-after.dll")" 1 --server-marks </dev/null >/dev/null
wineserver -k
wait "$server" || true
# A request line: "<thread>: <request>( ... )"; its reply: "<thread>: <request>() = ...". Only
# the calling thread's requests count (the services that answer some of them, such as the
# mount manager for the volume, make requests of their own in between). Each mark is one
# open_event request.
awk '
  /open_event\(/ && /idrovan-mark-begin-/ {
    match($0, /idrovan-mark-begin-[a-z0-9-]+/); kind = substr($0, RSTART + 19, RLENGTH - 19)
    thread = $1; n = 0; inside = 1; next
  }
  /open_event\(/ && /idrovan-mark-end/ { if (inside) count[kind] = n; inside = 0; next }
  inside && $1 == thread && /^[0-9a-f]+: [a-z_]+\(/ && !/\) = / { ++n }
  END {
    split("computer ID, no detail|computer ID, detail with marker_key|application ID|application ID, bcrypt held", names, "|")
    for (w = 1; w <= 2; ++w) {
      which = w == 1 ? "before" : "after"
      for (k = 0; k < 4; ++k) printf "%s: %s: %d requests\n", which, names[k + 1], count[which "-" k] - count["none"]
    }
  }' "$work/server.log"
