# Sourced: a Wine prefix and virtual display of the caller's own, never ~/.wine.
#   source scripts/wine-env.sh <prefix-dir> <display-number>
#   ... wine or ctest ...
#   wine_env_stop
#   source scripts/wine-env.sh     (no arguments: only the functions, nothing started)
# The first prefix is made once from scratch and kept as a template in build/;
# every later one is a copy of it (about a second instead of several).

wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine_env_template="$wine_env_root/build/wine-template-2"

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

wine_env_make_template() {
  [[ -f "$wine_env_template/.ready" ]] && return 0
  mkdir -p "$(dirname "$wine_env_template")"
  # Several test runs may start at once; one of them makes the template.
  exec {wine_env_lock}>"$wine_env_template.lock"
  flock "$wine_env_lock"
  if [[ -f "$wine_env_template/.ready" ]]; then
    flock -u "$wine_env_lock"
    return 0
  fi
  rm -rf "$wine_env_template"
  mkdir -p "$wine_env_template"
  WINEPREFIX="$wine_env_template" wineboot -i </dev/null >/dev/null 2>&1
  # Without a window manager Wine stalls whenever a captioned window hides; let
  # Wine manage and draw the frames itself.
  WINEPREFIX="$wine_env_template" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >/dev/null 2>&1
  # Debian's Wine does not find the fonts of fonts-wine by itself; without Tahoma,
  # "MS Shell Dlg" falls back to another face and text measures differently.
  cp /usr/share/wine/fonts/*.ttf "$wine_env_template/drive_c/windows/Fonts/"
  WINEPREFIX="$wine_env_template" wineserver -w
  touch "$wine_env_template/.ready"
  flock -u "$wine_env_lock"
}

wine_env_start_display() {
  local n=$1
  export DISPLAY=":$n"
  if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    wine_env_xvfb_pid=$!
    for _ in $(seq 1 100); do
      xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break
      sleep 0.1
    done
  fi
}

wine_env_start() {
  local prefix=$1 display=$2
  wine_env_start_display "$display"
  wine_env_make_template
  export WINEPREFIX="$prefix"
  if [[ ! -f "$WINEPREFIX/.ready" ]]; then
    rm -rf "$WINEPREFIX"
    cp -a "$wine_env_template" "$WINEPREFIX"
  fi
  wineserver -p
  # Warm-up: Wine's service processes must not inherit the test runner's pipes.
  wine wineboot </dev/null >/dev/null 2>&1
}

wine_env_stop() {
  [[ -n "${WINEPREFIX:-}" ]] && wineserver -k 2>/dev/null || true
  if [[ -n "${wine_env_xvfb_pid:-}" ]]; then
    kill "$wine_env_xvfb_pid" 2>/dev/null || true
    wait "$wine_env_xvfb_pid" 2>/dev/null || true
    unset wine_env_xvfb_pid
  fi
}

# Sourced without arguments it only defines the functions above.
if (($# >= 2)); then
  wine_env_start "$1" "$2"
fi
