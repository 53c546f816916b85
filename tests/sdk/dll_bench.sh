#!/usr/bin/env bash
# A benchmark, not a test: one read-only ID through idrovan.dll in-process against one start of
# idrovan-cli --no-write, side by side in one run under Wine (tests/sdk/dll_bench.c, medians over
# alternating rounds), in a fresh prefix whose marker the console wrote first; and the DLL's size.
#   tests/sdk/dll_bench.sh [build dir, default build/windows] [rounds, default 50]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "${1:-$root/build/windows}")
rounds=${2:-50}
cmake --build "$build" --target dll_bench idrovan-cli -j 2 >/dev/null
work=$build/tests/sdk/bench
serial=00c0ffee
root_time=2019-03-04T09:05:07.042
source "$root/tests/e2e/e2e_prefix.sh"
e2e_begin
mkdir -p "$work"
e2e_fresh_prefix "$work/prefix"
cli=$build/cli/idrovan-cli.exe
wine "$cli" </dev/null >/dev/null
# The DLL beside the benchmark, as a vendor ships it.
cp "$build/api/idrovan.dll" "$build/tests/sdk/"
echo "idrovan.dll: $(stat -c %s "$build/api/idrovan.dll") bytes ($(basename "$build"))"
wine "$build/tests/sdk/dll_bench.exe" "$rounds" "$(wine64 winepath -w "$cli")" </dev/null | tr -d '\r'
