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
root=$(cd "$here/../.." && pwd)

for file in "$exe64" "$exe32" "$driver"; do
  [[ -f $file ]] || { echo "skipped: $file is missing (build the windows and windows-x86 presets)"; exit 77; }
done

# Other machine facts than run_e2e.sh's, so that a program that ignores them cannot pass both.
serial=5ea1ed07
root_time=2021-11-30T23:59:58.999

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

# As in run_e2e.sh: the serial in place before the server starts, the root's time set last.
fresh_prefix() {
  local prefix=$1
  rm -rf "$prefix"
  wine_env_start "$prefix" current
  started_prefixes+=("$prefix")
  wineserver -k
  printf '%s\n' "$serial" >"$prefix/drive_c/.windows-serial"
  wineserver -p
  wine wineboot </dev/null >/dev/null 2>&1
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
}

status=0
for first in 64 32; do
  if ((first == 64)); then second=32; else second=64; fi
  first_exe=exe$first second_exe=exe$second
  echo "== the $first-bit program first, then the $second-bit one"
  fresh_prefix "$work/prefix-$first-first"
  if ! wine_env_runs_32bit; then
    echo "skipped: this Wine does not run 32-bit programs"
    exit 77
  fi
  export IDROVAN_EXE IDROVAN_E2E_RECORD IDROVAN_EXPECTED_ID
  record=$work/record-$first-first.txt
  rm -f "$record"
  IDROVAN_E2E_RECORD=$(winepath -w "$record")
  IDROVAN_EXE=$(winepath -w "${!first_exe}")
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
  IDROVAN_EXE=$(winepath -w "${!second_exe}")
  wine "$driver" --gtest_filter='WithId.ShowsTheIdDerivedFromTheMachineFacts' || status=1
  wineserver -k
done
exit $status
