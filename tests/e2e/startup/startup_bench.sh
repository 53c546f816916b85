#!/usr/bin/env bash
# Start-up benchmark (not a test): time from process start to a visible dialog, idrovan.exe (A)
# against two yardsticks built the same way, in alternating rounds under a warm Wine: the
# feature-equivalent dialog (B: common controls, a worker thread, a layered popup) and the bare
# dialog (C). Then the start-up breakdown of an instrumented build (startup_breakdown.sh).
# Further programs (say, an idrovan.exe of an earlier commit) join the rounds as D, E, ...
#   tests/e2e/startup/startup_bench.sh <windows build dir> [runs [program.exe ...]]
set -euo pipefail
build=$(cd "$1" && pwd) runs=${2:-30}
shift $(($# < 2 ? $# : 2))
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)

cmake --build "$build" --target idrovan feature_dialog bare_dialog startup_timer \
  idrovan_startup_trace feature_dialog_trace >/dev/null
trap 'wine_env_stop' EXIT
extra_programs=("$@")
source "$root/scripts/wine-env.sh"
wine_env_start "$build/bench-wine"
extra=()
for program in "${extra_programs[@]}"; do extra+=("$(wine64 winepath -w "$(realpath "$program")")"); done
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
wine "$build/tests/e2e/startup_timer.exe" "$runs" \
  "$(wine64 winepath -w "$build/app/idrovan.exe")" \
  "$(wine64 winepath -w "$build/tests/e2e/feature_dialog.exe")" \
  "$(wine64 winepath -w "$build/tests/e2e/bare_dialog.exe")" \
  "${extra[@]}"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
ls -l "$build/app/idrovan.exe" | awk '{print "idrovan.exe: " $5 " bytes"}'
echo
STARTUP_BREAKDOWN_IN_WINE=1 bash "$root/tests/e2e/startup/startup_breakdown.sh" "$build" 11
