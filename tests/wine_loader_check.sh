#!/usr/bin/env bash
# Fails on a Wine builtin started without naming its loader, in the scripts and tests.
#
# Debian's `wine` command, and its wrappers msiexec, regedit, wineboot and winepath, start the
# 32-bit loader where wine32 is installed and the 64-bit one elsewhere; a builtin then runs in
# that bitness and sees that registry view. So a script that says `wine reg query` reads another
# view on one machine than on the next. The commands wine64 and wine32 (scripts/wine-loaders)
# name the loader; `reg ... /reg:64` names the view. This check runs everywhere, also where no
# 32-bit Wine is installed and so nothing else would show the difference.
#
#   wine_loader_check.sh [repository root]
set -euo pipefail
root=$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/..}" && pwd)

builtins='reg|regedit|msiexec|cmd|wineboot|winepath|winecfg|regsvr32|rundll32|start|net|sc|taskkill|tasklist|wmic|cscript|wscript|xcopy|expand|icacls|schtasks|setx|whoami'
wrappers='msiexec|regedit|wineboot|winepath|winecfg|regsvr32|wineconsole'
# A command begins at the start of a line or after ; & | ( ` $( and the shell's keywords,
# behind any VAR=value assignments and any of the commands that start another: env (with its
# options and assignments), command, xargs (with its options), nohup, nice, setsid.
assign='([A-Za-z_][A-Za-z0-9_]*=[^[:space:]()]*[[:space:]]+)'
# An option, with the argument it may take (env -u NAME, xargs -n 1).
option='(-[^[:space:]]+([[:space:]]+[^-[:space:]=][^[:space:]=]*)?[[:space:]]+)'
starter="((env[[:space:]]+(${option}|${assign})*)|(command[[:space:]]+(-[pvV]+[[:space:]]+)?)|(xargs[[:space:]]+${option}*)|((nohup|setsid)[[:space:]]+)|(nice[[:space:]]+${option}*))"
begins="(^|[;&|(\`]|\\\$\\(|\\b(then|do|else|if|while|until|time|exec|timeout( [0-9]+[a-z]?)?))[[:space:]]*${assign}*(${starter}${assign}*)*"
# The loader: wine itself, or a variable that holds it ("$WINE", ${wine}, $MY_WINE; not $WINE64).
loader='(wine|"?\$\{?([A-Za-z0-9_]*_)?[Ww][Ii][Nn][Ee]\}?"?)'
# The builtin, by name or by a path to it (C:\windows\system32\reg.exe), quoted or not.
builtin="[\"']?([^[:space:]\"';|&]*[/\\\\])?(${builtins})(\\.exe)?[\"']?"
pattern="${begins}(${loader}[[:space:]]+${builtin}|(${wrappers}))([[:space:]]|\$|\))"

# The forms the check must catch, and forms it must let through, tried before every scan so that
# a change of the pattern cannot quietly stop catching one.
bad_forms=(
  'wine reg query HKCU'
  'WINEDEBUG=-all wine reg query HKCU'
  'env WINEDEBUG=-all wine reg query HKCU'
  'env -u DISPLAY WINEPREFIX=/tmp/p wine reg add HKCU\\x'
  'command wine reg query HKCU'
  'command -p wine cmd /c echo'
  'printf x | xargs wine reg add'
  'find . | xargs -0 -n 1 wine reg import'
  '"$WINE" reg query HKCU'
  '${WINE} reg query HKCU'
  'out=$($wine cmd /c ver)'
  'wine C:\\windows\\system32\\reg.exe query HKCU'
  'wine "C:\\windows\\system32\\reg.exe" query HKCU'
  "wine 'c:/windows/system32/reg' query HKCU"
  'wine /usr/lib/wine/x86_64-windows/reg.exe query HKCU'
  'if wine reg query HKCU; then :; fi'
  'nohup wine cmd /c start x'
  'regedit /s settings.reg'
  'env WINEDEBUG=-all msiexec /i x.msi'
)
good_forms=(
  'wine64 reg query HKCU'
  'env WINEDEBUG=-all wine64 reg query HKCU'
  'command wine64 reg query HKCU'
  'printf x | xargs wine64 reg add'
  '"$WINE64" reg query HKCU'
  'wine64 C:\\windows\\system32\\reg.exe query HKCU'
  'wine build/windows/cli/idrovan-cli.exe --json'
  '"$WINE" "$exe" --json'
  'echo "reg is the registry tool"'
  'wine32 cmd /c ver'
)
for form in "${bad_forms[@]}"; do
  grep -qE "$pattern" <<<"$form" || { echo "wine_loader_check.sh: the pattern misses: $form"; exit 2; }
done
for form in "${good_forms[@]}"; do
  ! grep -qE "$pattern" <<<"$form" || { echo "wine_loader_check.sh: the pattern flags: $form"; exit 2; }
done

found=$(cd "$root" &&
  git ls-files -co --exclude-standard -- scripts tests cmake CMakeLists.txt '*.cmake' |
  while read -r file; do [[ -f $file ]] && printf '%s\0' "$file"; done |
    xargs -0 grep -nE "$pattern" /dev/null |
    grep -vE '^[^:]+:[0-9]+:[[:space:]]*#' |
    grep -v '^tests/wine_loader_check.sh:' || true)

if [[ -n $found ]]; then
  echo "A Wine builtin started through a bare wine, or through a wrapper that picks the loader itself;"
  echo "use wine64 or wine32 (scripts/wine-loaders, on PATH after sourcing scripts/wine-env.sh) (or reg's /reg:64 and /reg:32):"
  echo "$found"
  exit 1
fi
echo "every Wine builtin in scripts/ and tests/ names its loader"
