#!/usr/bin/env bash
# idrovan.exe must be a GUI program, idrovan-cli.exe a console one, and both must import nothing
# but Windows system DLLs, so that they run on a clean Windows without any runtime installed.
#   check_executable.sh <objdump> <exe> [gui|console]
set -euo pipefail
objdump=$1 exe=$2 subsystem=${3:-gui}

headers=$("$objdump" -p "$exe")
grep -Eq '^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)' <<<"$headers" || {
  echo "not a PE32+ executable"; exit 1; }
if [[ $subsystem == console ]]; then
  grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]+\(Windows CUI\)' <<<"$headers" || {
    echo "not a Windows console executable"; exit 1; }
else
  grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]+\(Windows GUI\)' <<<"$headers" || {
    echo "not a Windows GUI executable"; exit 1; }
fi

system_dlls='^(kernel32|user32|gdi32|advapi32|comctl32|comdlg32|shell32|ole32|oleaut32|msvcrt|ucrtbase|version|ws2_32|uxtheme|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
while read -r dll; do
  if ! grep -Eqi "$system_dlls" <<<"$dll"; then
    echo "imports a DLL that is not part of Windows: $dll"
    status=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[[ -n $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers") ]] || { echo "no imports found"; exit 1; }
exit $status
