#!/usr/bin/env bash
# Runs dialog_dpi_test at 96, 144 and 192 DPI, each in a fresh Wine prefix whose
# HKCU\Control Panel\Desktop\LogPixels is that DPI; the test checks the row of its table that
# belongs to the DPI it finds. With a screenshot folder, also takes a picture of idrovan.exe
# itself at each DPI (idrovan-<dpi>dpi.png), read off the screen with idrovan_probe.exe.
#   run_dpi_table.sh <dialog_dpi_test.exe> <idrovan.exe> <work dir> [<idrovan_probe.exe> <shot dir>]
set -euo pipefail
test_exe=$1 exe=$2 work=$(realpath -m "$3") probe=${4:-} shots=${5:+$(realpath -m "$5")}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Any machine facts do here: the test reads no ID.
serial=0badf00d
root_time=2020-01-02T03:04:05.000
source "$here/../../e2e/e2e_prefix.sh"
e2e_begin
mkdir -p "$work"
[[ -z $shots ]] || mkdir -p "$shots"

status=0
for dpi in 96 144 192; do
  echo "== $dpi DPI"
  prefix=$work/prefix-$dpi
  e2e_fresh_prefix "$prefix"
  wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    </dev/null >/dev/null 2>&1
  # Read when the server starts.
  wineserver -k
  wineserver -p
  wine64 wineboot </dev/null >/dev/null 2>&1
  IDROVAN_DPI_EXE=$(wine64 winepath -w "$exe") IDROVAN_TEST_DPI=$dpi \
    wine "$test_exe" || status=1
  if [[ -n $shots ]]; then
    wine "$exe" </dev/null >/dev/null 2>&1 &
    app=$!
    report=$(wine "$probe" show | tr -d '\r')
    # Buttons may paint a moment after the dialog settles.
    sleep 1
    read -r left top width height < <(sed -n 's/^area //p' <<<"$report")
    import -window root -crop "$((width + 16))x$((height + 16))+$((left - 8))+$((top - 8))" \
      +repage -strip "$shots/idrovan-${dpi}dpi.png"
    wine "$probe" close >/dev/null
    wait "$app" || true
    echo "Screenshot: $shots/idrovan-${dpi}dpi.png"
  fi
  wineserver -k
done
exit $status
