#!/usr/bin/env bash
# Builds idrovan.exe and idrovan-cli.exe and opens the dialog under Wine, from a fresh Debian 12
# machine on.
#
# With an X display ($DISPLAY answers) the dialog opens there; the script goes on when the dialog
# is closed. Without one, the dialog runs on a virtual display: the script saves a screenshot
# (build/run/idrovan.png), prints the ID that the dialog shows, and closes the dialog. Either way
# it then prints what the console program prints in the same prefix (plain and --explain).
#
# Wine prefix: $WINEPREFIX when it is set, else the project's own build/run-wine, which is
# kept between runs so that the ID stays the same from run to run, as long as nothing is created
# or deleted directly in its drive_c: Wine takes the root folder's creation time from drive_c's
# modification time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target idrovan idrovan-cli idrovan_probe -j "$(nproc)"
exe=$root/build/windows/app/idrovan.exe
cli=$root/build/windows/cli/idrovan-cli.exe
probe=$root/build/windows/tests/e2e/idrovan_probe.exe

source scripts/wine-env.sh
own_prefix=false
if [[ -z ${WINEPREFIX:-} ]]; then
  export WINEPREFIX=$root/build/run-wine
  own_prefix=true
  if [[ ! -f $WINEPREFIX/.ready ]]; then
    wine_env_make_template
    rm -rf "$WINEPREFIX"
    cp -a "$wine_env_template" "$WINEPREFIX"
  fi
fi
echo "Wine prefix: $WINEPREFIX"

# On a desktop the window manager should frame the dialog; on a bare virtual display Wine draws
# the frame itself (and does not stall waiting for a manager). Only our own prefix is changed.
let_window_manager_frame() {
  if $own_prefix; then
    wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$1" /f </dev/null >/dev/null 2>&1 || true
  fi
}

# What the console program prints after the dialog has run (the dialog wrote any marker), with
# its exit code; the plain run's ID must be the dialog's.
console_id=
show_console() {
  local command out code
  for command in "" --explain; do
    code=0
    out=$(wine "$cli" $command </dev/null 2>&1 | tr -d '\r') || code=$?
    echo "idrovan-cli${command:+ $command} (exit code $code):"
    sed 's/^/  /' <<<"$out"
    [[ -n $command ]] || console_id=$out
  done
}

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  let_window_manager_frame Y
  echo "Opening the dialog on $DISPLAY; close it to go on."
  wine "$exe"
  show_console
  exit 0
fi

# No display: a virtual one of our own.
stop() {
  # Wine programs of a prefix the user gave are not ours to end: stop only the display.
  if $own_prefix; then wine_env_stop; else WINEPREFIX='' wine_env_stop; fi
}
trap stop EXIT
wine_env_start_display
let_window_manager_frame N
echo "No display: running the dialog on the virtual display $DISPLAY."

wine "$exe" </dev/null >/dev/null 2>&1 &
app=$!
report=$(wine "$probe" show | tr -d '\r')
read -r left top width height < <(sed -n 's/^area //p' <<<"$report")
mkdir -p build/run
shot=$root/build/run/idrovan.png
# A margin around the windows, so that their frames are whole in the picture.
import -window root -crop "$((width + 16))x$((height + 16))+$((left - 8))+$((top - 8))" +repage "$shot"
echo "Screenshot: $shot"
wine "$probe" close
wait "$app" || true

show_console
id=$(sed -n 's/^id //p' <<<"$report")
if [[ -n $id ]]; then
  echo "Computer ID: $id"
  if [[ $console_id != "$id" ]]; then
    echo "The console program printed another ID: $console_id"
    exit 1
  fi
else
  echo "No computer ID; the dialog said: $(sed -n 's/^error //p' <<<"$report")"
  exit 1
fi
