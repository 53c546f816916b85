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
# behind any VAR=value assignments.
begins='(^|[;&|(`]|\$\(|\b(then|do|else|if|while|until|time|exec|timeout( [0-9]+[a-z]?)?))[[:space:]]*([A-Za-z_][A-Za-z0-9_]*=[^[:space:]()]*[[:space:]]+)*'
pattern="${begins}(wine[[:space:]]+(${builtins})(\.exe)?|(${wrappers}))([[:space:]]|\$|\))"

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
