#!/usr/bin/env bash
# An import that Windows forwards from a KnownDLL to a DLL that is no KnownDLL is a DLL search
# like any other: a DLL of the target's name beside the program is taken first. objdump lists an
# import by its DLL and name only, so the forwarders come from the committed table
# tests/abi/forwarded_imports.txt. Fails, naming each, on an import whose forwarder's target is
# not in tests/abi/known_dlls.txt.
#   check_forwarded_imports.sh <objdump> <program.exe or .dll>
set -euo pipefail
objdump=$1 binary=$2
abi=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

known=$(grep -v '^#' "$abi/known_dlls.txt")
forwarders=$(grep -v '^#' "$abi/forwarded_imports.txt" | sed '/^[[:space:]]*$/d')
# "dll function" for every import by name, from objdump's import tables.
imports=$("$objdump" -p "$binary" | awk '
  /^[[:space:]]*DLL Name: / { dll = tolower($3); sub(/\.dll$/, "", dll); next }
  /^[[:space:]]*$/ { dll = "" }
  dll != "" && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ && NF >= 3 { print dll, tolower($3) }')
[[ -n $imports ]] || { echo "$binary: no imports by name found"; exit 1; }

status=0
while read -r dll function target; do
  grep -qx "$dll $function" <<<"$imports" || continue
  grep -qx "$target" <<<"$known" && continue
  echo "imports $dll!$function, which Windows forwards to $target.dll, which is not a KnownDLL"
  status=1
done <<<"$forwarders"
exit $status
