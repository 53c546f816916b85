#!/usr/bin/env bash
# idrovan.exe must be a GUI program that imports nothing but Windows system DLLs, so that it
# runs on a clean Windows without any runtime installed.
#   check_executable.sh <objdump> <idrovan.exe>
set -euo pipefail
objdump=$1 exe=$2

headers=$("$objdump" -p "$exe")
grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]+\(Windows GUI\)' <<<"$headers" || {
  echo "not a Windows GUI executable"; exit 1; }

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
