#!/usr/bin/env bash
# Runs idrovan.exe end to end under Wine, one fresh prefix per scenario, and checks what it
# shows against an ID that expected_id.py derives on its own from the machine facts set here.
#   run_e2e.sh <idrovan.exe> <idrovan_e2e_test.exe> <idrovan_in_process_probe.dll> <work dir>
# Uses the X display it is given when that display answers, else an Xvfb of its own.
set -euo pipefail
exe=$1 driver=$2 in_process_probe=$3 work=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Machine facts of the test's choosing. The serial has leading zeros, which the ID leaves out.
serial=00c0ffee
root_time=2019-03-04T09:05:07.042

source "$here/e2e_prefix.sh"
e2e_begin
mkdir -p "$work"

fresh_prefix() {
  e2e_fresh_prefix "$1"
  export IDROVAN_EXE IDROVAN_IN_PROCESS_PROBE
  IDROVAN_EXE=$(wine64 winepath -w "$exe")
  IDROVAN_IN_PROCESS_PROBE=$(wine64 winepath -w "$in_process_probe")
}

status=0

echo "== with an ID: serial $serial, root directory created $root_time UTC"
fresh_prefix "$work/prefix-id"
record="$work/first-run.txt"
rm -f "$record"
export IDROVAN_E2E_RECORD
IDROVAN_E2E_RECORD=$(wine64 winepath -w "$record")
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
