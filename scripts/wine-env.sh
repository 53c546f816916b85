# Sourced: a Wine prefix and virtual display of the caller's own, never ~/.wine.
#   source scripts/wine-env.sh     (defines the functions; starts nothing)
#   wine_env_start <prefix-dir> [current]
#   ... wine or ctest ...
#   wine_env_stop
# Starting is always a call of its own: a file sourced without arguments sees those of the script
# that sources it, and would take them for a prefix to make.
# The display is a new Xvfb on a number the X server picks itself (two test runs on one machine
# must not share a display or its clipboard), or with "current" the caller's $DISPLAY.
# The first prefix is made once from scratch and kept as a template in build/;
# every later one is a copy of it (about a second instead of several). The template is keyed to
# the Wine it was made with (see wine_env_template_key) and made anew when that changes.

wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Set by wine_env_make_template to the template of the Wine installed now.
wine_env_template=

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# The loaders. Debian's `wine` command starts the 32-bit loader when wine32 is installed and the
# 64-bit one otherwise, and a builtin it names (reg, msiexec, cmd, wineboot) runs in that
# loader's bitness and sees that registry view: an x64 package's Uninstall entry is invisible to
# a 32-bit `reg query`. So no script starts a builtin through `wine`; each names the loader it
# means with the commands wine64 and wine32 (scripts/wine-loaders, put on PATH here so that
# timeout, xargs and child scripts find them too). A program's own executable decides its
# bitness, whichever loader starts it.
case ":$PATH:" in
  *":$wine_env_root/scripts/wine-loaders:"*) ;;
  *) export PATH="$wine_env_root/scripts/wine-loaders:$PATH" ;;
esac

# What a prefix depends on beyond its own files. A prefix made by one Wine can fail under
# another: made before 32-bit Wine was installed, it cannot load kernel32.dll once it is. So:
# Wine's version, which loaders are installed (32-bit and 64-bit), the installed Wine packages,
# the prefix architecture, and the recipe below.
wine_env_template_key() {
  local loader
  printf 'wine %s\n' "$(wine --version 2>/dev/null)"
  printf 'WINEARCH %s\n' "$WINEARCH"
  for loader in wine wine64; do
    [[ -x /usr/lib/wine/$loader ]] && printf 'loader %s\n' "$loader"
  done
  dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n' '*wine*' 2>/dev/null |
    sed -n 's/^ii  *//p' | sort
  declare -f wine_env_fill_template | sha256sum | sed 's/ .*//; s/^/recipe /'
}

wine_env_fill_template() {
  local template=$1
  # Every step says what failed: under `set -e` a silent failure here would end the caller's
  # whole test run without a word.
  WINEPREFIX="$template" wine64 wineboot -i </dev/null >/dev/null 2>&1 ||
    { echo "wine-env: wineboot -i failed to make the prefix template $template" >&2; return 1; }
  # Without a window manager Wine stalls whenever a captioned window hides; let
  # Wine manage and draw the frames itself.
  WINEPREFIX="$template" wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >/dev/null 2>&1
  # Debian's Wine does not find the fonts of fonts-wine by itself; without Tahoma,
  # "MS Shell Dlg" falls back to another face and text measures differently.
  cp /usr/share/wine/fonts/*.ttf "$template/drive_c/windows/Fonts/" ||
    { echo "wine-env: could not copy Wine's fonts into $template" >&2; return 1; }
  WINEPREFIX="$template" wineserver -w
}

# Sets wine_env_template to build/wine-template-<key digest> and makes it when missing; the
# key's text is kept beside it in .key, and its digest in .ready (which copies carry along).
wine_env_make_template() {
  local key digest build=$wine_env_root/build
  key=$(wine_env_template_key)
  digest=$(sha256sum <<<"$key" | cut -c1-16)
  wine_env_template=$build/wine-template-$digest
  [[ -f "$wine_env_template/.ready" ]] && return 0
  mkdir -p "$build"
  # Several test runs may start at once; one of them makes the template.
  exec {wine_env_lock}>"$build/wine-template.lock"
  flock "$wine_env_lock"
  if [[ ! -f "$wine_env_template/.ready" ]]; then
    # Templates of another Wine can no longer serve: only the current one is kept.
    rm -rf "$build"/wine-template-*
    mkdir -p "$wine_env_template"
    wine_env_fill_template "$wine_env_template"
    printf '%s\n' "$key" >"$wine_env_template/.key"
    printf '%s\n' "$digest" >"$wine_env_template/.ready"
  fi
  flock -u "$wine_env_lock"
  exec {wine_env_lock}>&-
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

# Nothing there, an empty folder or a Wine prefix: the only things a prefix may replace.
wine_env_may_replace() {
  [[ ! -e $1 || -f $1/system.reg ]] && return 0
  [[ -d $1 && -z $(ls -A "$1") ]]
}

wine_env_start() {
  local prefix=$1 display=${2:-new}
  [[ $display == current ]] || wine_env_start_display
  wine_env_make_template
  export WINEPREFIX="$prefix"
  # A prefix copied from another template (another Wine) is copied again. Only a prefix, or
  # nothing, is ever deleted here.
  if ! cmp -s "$WINEPREFIX/.ready" "$wine_env_template/.ready"; then
    if ! wine_env_may_replace "$WINEPREFIX"; then
      echo "wine-env: $WINEPREFIX is not a Wine prefix; not replacing it" >&2
      return 1
    fi
    rm -rf "$WINEPREFIX"
    cp -a "$wine_env_template" "$WINEPREFIX"
  fi
  wineserver -p || { echo "wine-env: wineserver -p failed for $WINEPREFIX" >&2; return 1; }
  # Warm-up: Wine's service processes must not inherit the test runner's pipes.
  wine64 wineboot </dev/null >/dev/null 2>&1 ||
    { echo "wine-env: the warm-up wineboot failed in $WINEPREFIX" >&2; return 1; }
}

# Whether Wine runs 32-bit programs in the current prefix: starts a tiny 32-bit program (built
# once into build/) that exits with 32. Needs the i686 cross compiler.
wine_env_runs_32bit() {
  local probe=$wine_env_root/build/wine32-probe.exe status=0
  if [[ ! -f $probe ]]; then
    mkdir -p "$(dirname "$probe")"
    printf 'int main(void) { return 32; }\n' |
      i686-w64-mingw32-gcc -x c -o "$probe.$$" - -Wl,--no-insert-timestamp || return 1
    mv "$probe.$$" "$probe"
  fi
  [[ -x /usr/lib/wine/wine ]] || return 1
  timeout 60 wine32 "$probe" </dev/null >/dev/null 2>&1 || status=$?
  ((status == 32))
}

wine_env_stop() {
  [[ -n "${WINEPREFIX:-}" ]] && wineserver -k 2>/dev/null || true
  if [[ -n "${wine_env_xvfb_pid:-}" ]]; then
    kill "$wine_env_xvfb_pid" 2>/dev/null || true
    wait "$wine_env_xvfb_pid" 2>/dev/null || true
    unset wine_env_xvfb_pid
  fi
}
