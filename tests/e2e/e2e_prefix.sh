# Sourced by the end-to-end scripts: Wine prefixes whose machine facts the test chooses.
#   source tests/e2e/e2e_prefix.sh
#   serial=00c0ffee root_time=2019-03-04T09:05:07.042
#   e2e_begin               the caller's display when it answers, else an Xvfb of our own;
#                           every prefix started here and that display end with the script
#   e2e_fresh_prefix <dir>  a new prefix with that volume serial and root directory time
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"

e2e_prefixes=()

e2e_begin() {
  # Many steps send their output to /dev/null: a step that ends the script under set -e names
  # itself, also inside functions.
  set -E
  trap 'e2e_status=$?; echo "e2e: \"$BASH_COMMAND\" failed with status $e2e_status" >&2' ERR
  if [[ -z ${DISPLAY:-} ]] || ! xdpyinfo >/dev/null 2>&1; then
    wine_env_start_display
  fi
  trap e2e_end EXIT
}

e2e_end() {
  for p in "${e2e_prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done
  wine_env_stop 2>/dev/null || true
}

# A copy of the template prefix with a running wineserver. The volume serial is read when the
# server starts, so the server is restarted with it in place; the root directory's time is set
# last, since anything created in drive_c afterwards would move it.
e2e_fresh_prefix() {
  local prefix=$1
  rm -rf "$prefix"
  wine_env_start "$prefix" current
  e2e_prefixes+=("$prefix")
  wineserver -k
  printf '%s\n' "$serial" >"$prefix/drive_c/.windows-serial"
  wineserver -p
  wine64 wineboot </dev/null >/dev/null 2>&1
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
}
