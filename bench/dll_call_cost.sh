#!/usr/bin/env bash
# A benchmark, not a test: what one call of idrovan.dll costs its host under Wine, for this tree's
# DLL (after) against the DLL of an earlier revision (before), in one prefix whose marker the
# console wrote, by one host (bench/dll_call_cost.c) run alternately on each DLL. Prints each
# kind of call's median per run, the after/before ratio of the medians over all runs, and the
# wineserver requests of one call of each kind (Wine's +server log, between two marks, less the
# marks' own requests).
#   bench/dll_call_cost.sh <before revision> [build dir, default build/windows] [rounds, default 200]
#                          [runs, default 3]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
revision=${1:?before revision}
build=$(realpath "${2:-$root/build/windows}")
rounds=${3:-200}
runs=${4:-3}
work=$build/bench/dll-call-cost
mkdir -p "$work"

cmake --build "$build" --target idrovan_dll idrovan-cli -j 2 >/dev/null
compiler=$(sed -n 's/^CMAKE_C_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
"$compiler" -O2 -Wall -I"$root" "$here/dll_call_cost.c" -o "$work/dll_call_cost.exe"

# The DLL before: the earlier revision's sources (an archive of them, no checkout), configured
# like this build, without tests.
before=$work/before
rm -rf "$before/src"
mkdir -p "$before/src"
git -C "$root" archive "$revision" | tar -x -C "$before/src"
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

: >"$work/runs.txt"
for ((run = 1; run <= runs; ++run)); do
  for which in before after; do
    wine "$host" "$(wine64 winepath -w "$work/idrovan-$which.dll")" "$rounds" </dev/null |
      tr -d '\r' | sed "s/^/$which: /" | tee -a "$work/runs.txt"
  done
done
echo "== after/before, medians over $runs runs of $rounds calls each"
python3 - "$work/runs.txt" <<'PY'
import re, statistics, sys
times = {}
for line in open(sys.argv[1]):
    m = re.match(r"(before|after): (.*): median ([0-9.]+) us", line)
    if m:
        times.setdefault(m.group(2), {}).setdefault(m.group(1), []).append(float(m.group(3)))
for kind, t in times.items():
    b, a = statistics.median(t["before"]), statistics.median(t["after"])
    print(f"{kind}: before {b:.1f} us, after {a:.1f} us, after/before {a / b:.2f}")
PY

echo "== wineserver requests of one call"
for which in before after; do
  WINEDEBUG=+server,+debugstr wine "$host" "$(wine64 winepath -w "$work/idrovan-$which.dll")" 1 \
    --server-marks </dev/null 2>"$work/server-$which.log" >/dev/null
  awk -v which="$which" '
    /mark begin/ { match($0, /mark begin [a-z0-9]+/); kind = substr($0, RSTART + 11, RLENGTH - 11); n = 0; inside = 1; next }
    /mark end/ { if (inside) count[kind] = n; inside = 0; next }
    inside && /^[0-9a-f]+: [a-z_]+\(/ && !/\) = / { ++n }
    END {
      split("computer ID, no detail|computer ID, detail with marker_key|application ID|application ID, bcrypt held", names, "|")
      for (k = 0; k < 4; ++k) printf "%s: %s: %d requests\n", which, names[k + 1], count[k] - count["none"]
    }' "$work/server-$which.log"
done
