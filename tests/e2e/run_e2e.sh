#!/usr/bin/env bash
# Runs idrovan.exe end to end under Wine, one fresh prefix per scenario, and checks what it
# shows against an ID that expected_id.py derives on its own from the machine facts set here.
#   run_e2e.sh <idrovan.exe> <idrovan_e2e_test.exe> <idrovan_in_process_probe.dll> <work dir>
# Uses the X display it is given when that display answers, else an Xvfb of its own.
set -euo pipefail
exe=$1 driver=$2 in_process_probe=$3 work=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

# Machine facts of the test's choosing. The serial has leading zeros, which the ID leaves out.
serial=00c0ffee
root_time=2019-03-04T09:05:07.042

source "$root/scripts/wine-env.sh"
if [[ -z ${DISPLAY:-} ]] || ! xdpyinfo >/dev/null 2>&1; then
  wine_env_start_display
fi

mkdir -p "$work"
started_prefixes=()
stop_all() {
  for p in "${started_prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done
  wine_env_stop 2>/dev/null || true
}
trap stop_all EXIT

# A copy of the template prefix with a running wineserver, the volume serial given, and the
# root directory's time set last (anything created in drive_c afterwards would move it).
fresh_prefix() {
  local prefix=$1
  rm -rf "$prefix"
  wine_env_start "$prefix" current
  started_prefixes+=("$prefix")
  # The volume serial is read when the server starts: restart it with the serial in place.
  wineserver -k
  printf '%s\n' "$serial" >"$prefix/drive_c/.windows-serial"
  wineserver -p
  wine wineboot </dev/null >/dev/null 2>&1
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  export IDROVAN_EXE IDROVAN_IN_PROCESS_PROBE
  IDROVAN_EXE=$(winepath -w "$exe")
  IDROVAN_IN_PROCESS_PROBE=$(winepath -w "$in_process_probe")
}

status=0

echo "== with an ID: serial $serial, root directory created $root_time UTC"
fresh_prefix "$work/prefix-id"
record="$work/first-run.txt"
rm -f "$record"
export IDROVAN_E2E_RECORD
IDROVAN_E2E_RECORD=$(winepath -w "$record")
wine "$driver" --gtest_filter='FirstRun.*' || status=1
if [[ -s $record ]]; then
  read -r marker <"$record"
  export IDROVAN_EXPECTED_ID
  IDROVAN_EXPECTED_ID=$(python3 "$here/expected_id.py" --serial "$serial" \
    --root-time "$root_time" --marker "$marker")
  echo "marker $marker, expected ID $IDROVAN_EXPECTED_ID"
  wine "$driver" --gtest_filter='WithId.*:Resources.*' || status=1
else
  echo "the first run recorded no marker"
  status=1
fi
wineserver -k

echo "== without an ID: the marker key grants only reading"
fresh_prefix "$work/prefix-no-id"
wine "$driver" --gtest_filter='NoId.*' || status=1
wineserver -k

exit $status
