#!/usr/bin/env bash
# Idle cost (a measurement, not a test): the CPU time that idrovan.exe uses while its dialog
# sits open with the pointer elsewhere, over <seconds> (60 unless given), once with the ID field
# focused (the hover timer active: one tick a second that reads the pointer) and once with the
# focus on Close (the timer inactive). Reports the process's own figure (GetProcessTimes) and
# what Linux counts for the Wine process and for the prefix's wineserver, which does the
# process's system calls.
#   tests/e2e/startup/idle_cpu.sh <windows build dir> [seconds]
set -euo pipefail
build=$(cd "$1" && pwd) seconds=${2:-60}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)

cmake --build "$build" --target idrovan idle_driver >/dev/null
trap 'wine_env_stop' EXIT
source "$root/scripts/wine-env.sh"
wine_env_start "$build/idle-wine"
ticks=$(getconf CLK_TCK)

# utime + stime, in clock ticks, of one Linux process.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# The Linux process of this prefix whose command line matches $1.
wine_pid() {
  local pid
  for pid in $(pgrep -f "$1"); do
    # A process may end between the search and the read: its environment is then no match.
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return
    fi
  done
}

for focus in ${IDLE_FOCUS:-focused unfocused}; do
  coproc driver { wine "$build/tests/e2e/idle_driver.exe" \
    "$(wine64 winepath -w "$build/app/idrovan.exe")" "$seconds" "$focus" 2>&1; }
  read -r ready _ <&"${driver[0]}"
  [[ $ready == ready ]] || { echo "idle_driver: $ready"; exit 1; }
  program=$(wine_pid '^[^ ]*idrovan\.exe')
  server=$(wine_pid 'wineserver')
  for p in "$program" "$server"; do [[ -n $p ]] || { echo "no process found"; exit 1; }; done
  p0=$(cpu_ticks "$program") s0=$(cpu_ticks "$server")
  read -r line <&"${driver[0]}"
  p1=$(cpu_ticks "$program") s1=$(cpu_ticks "$server")
  wait "$driver_PID" || true
  echo "$line"
  echo "  Linux: wine process $(( (p1 - p0) * 1000 / ticks )) ms, wineserver $(( (s1 - s0) * 1000 / ticks )) ms over $seconds s"
done
