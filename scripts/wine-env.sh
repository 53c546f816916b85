# Sourced: a Wine prefix and virtual display of the caller's own, never ~/.wine.
#   source scripts/wine-env.sh <prefix-dir> [current]
#   ... wine or ctest ...
#   wine_env_stop
#   source scripts/wine-env.sh     (no arguments: only the functions, nothing started)
# The display is a new Xvfb on a number the X server picks itself (two test runs on one machine
# must not share a display or its clipboard), or with "current" the caller's $DISPLAY.
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
  local answer
  answer=$(mktemp)
  # -displayfd: the server takes the first free number and writes it once it accepts clients.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$answer" >/dev/null 2>&1 &
  wine_env_xvfb_pid=$!
  for _ in $(seq 1 200); do
    grep -q . "$answer" && break
    kill -0 "$wine_env_xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  export DISPLAY=":$(head -n 1 "$answer")"
  rm -f "$answer"
  if [[ $DISPLAY == ":" ]]; then
    echo "wine-env: Xvfb did not start" >&2
    return 1
  fi
}

wine_env_start() {
  local prefix=$1 display=${2:-new}
  [[ $display == current ]] || wine_env_start_display
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
if (($# >= 1)); then
  wine_env_start "$@"
fi
