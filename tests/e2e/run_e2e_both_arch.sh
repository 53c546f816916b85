#!/usr/bin/env bash
# The 32-bit and the 64-bit idrovan.exe show the same ID in one prefix, whichever runs first:
# the marker key is shared between the two registry views. In a fresh prefix one program makes
# the marker (the driver's FirstRun), the other must then show the ID that expected_id.py
# derives and leave the marker as it is (WithId.ShowsTheIdDerivedFromTheMachineFacts).
#   run_e2e_both_arch.sh <64-bit idrovan.exe> <32-bit idrovan.exe> <64-bit idrovan_e2e_test.exe> <work dir>
# Exits 77 (skipped) when a program is missing or this Wine cannot run 32-bit programs.
set -euo pipefail
exe64=$(realpath -m "$1") exe32=$(realpath -m "$2") driver=$(realpath -m "$3")
work=$(realpath -m "$4")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

for file in "$exe64" "$exe32" "$driver"; do
  [[ -f $file ]] || { echo "skipped: $file is missing (build the windows and windows-x86 presets)"; exit 77; }
done

# Other machine facts than run_e2e.sh's, so that a program that ignores them cannot pass both.
serial=5ea1ed07
root_time=2021-11-30T23:59:58.999

source "$here/e2e_prefix.sh"
e2e_begin
mkdir -p "$work"

status=0
for first in 64 32; do
  if ((first == 64)); then second=32; else second=64; fi
  first_exe=exe$first second_exe=exe$second
  echo "== the $first-bit program first, then the $second-bit one"
  e2e_fresh_prefix "$work/prefix-$first-first"
  if ! wine_env_runs_32bit; then
    echo "skipped: this Wine does not run 32-bit programs"
    exit 77
  fi
  export IDROVAN_EXE IDROVAN_E2E_RECORD IDROVAN_EXPECTED_ID
  record=$work/record-$first-first.txt
  rm -f "$record"
  IDROVAN_E2E_RECORD=$(wine64 winepath -w "$record")
  IDROVAN_EXE=$(wine64 winepath -w "${!first_exe}")
  wine "$driver" --gtest_filter='FirstRun.*' || status=1
  if [[ ! -s $record ]]; then
    echo "the $first-bit program recorded no marker"
    status=1
    wineserver -k
    continue
  fi
  read -r marker <"$record"
  IDROVAN_EXPECTED_ID=$(python3 "$here/expected_id.py" --serial "$serial" \
    --root-time "$root_time" --marker "$marker")
  echo "marker $marker, expected ID $IDROVAN_EXPECTED_ID"
  IDROVAN_EXE=$(wine64 winepath -w "${!second_exe}")
  wine "$driver" --gtest_filter='WithId.ShowsTheIdDerivedFromTheMachineFacts' || status=1
  wineserver -k
done
exit $status
