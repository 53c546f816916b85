#!/usr/bin/env bash
# Start-up benchmark (not a test): time from process start to a visible dialog, idrovan.exe
# against a bare dialog program built the same way, alternating, under a warm Wine.
#   tests/e2e/startup/startup_bench.sh <windows build dir> [runs]
set -euo pipefail
build=$(cd "$1" && pwd) runs=${2:-30}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)

cmake --build "$build" --target idrovan bare_dialog startup_timer >/dev/null
trap 'wine_env_stop' EXIT
source "$root/scripts/wine-env.sh" "$build/bench-wine"
wine "$build/tests/e2e/startup_timer.exe" "$runs" \
  "$(winepath -w "$build/app/idrovan.exe")" "$(winepath -w "$build/tests/e2e/bare_dialog.exe")"
ls -l "$build/app/idrovan.exe" | awk '{print "idrovan.exe: " $5 " bytes"}'
