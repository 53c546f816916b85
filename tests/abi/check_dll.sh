#!/usr/bin/env bash
# idrovan.dll keeps its ABI and stays a self-contained DLL: its export table holds exactly the
# names of the committed list (a removed or renamed export fails here; a new one must be added to
# the list on purpose), all undecorated; it imports nothing but Windows system DLLs; it is a DLL
# of the architecture given, without a time stamp, carrying the version of the file VERSION.
#   check_dll.sh <objdump> <idrovan.dll> <exports list> <x64|x86> <source dir>
set -euo pipefail
objdump=$1 dll=$2 list=$3 arch=$4 source=$5
status=0
headers=$("$objdump" -p "$dll")

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' | sort)
expected=$(grep -v '^#' "$list" | sed '/^[[:space:]]*$/d' | sort)
if [[ $exports != "$expected" ]]; then
  echo "the $arch DLL's exports differ from $list (< list, > DLL):"
  diff <(echo "$expected") <(echo "$exports") || true
  status=1
fi

system_dlls='^(kernel32|user32|gdi32|advapi32|bcrypt|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r imported; do
  grep -Eqi "$system_dlls" <<<"$imported" || { echo "imports a DLL that is not part of Windows: $imported"; status=1; }
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")

python3 - "$dll" "$arch" <<'PY' || status=1
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
machine, _, stamp = struct.unpack_from("<HHI", data, pe + 4)
characteristics = struct.unpack_from("<H", data, pe + 22)[0]
faults = []
if {"x64": 0x8664, "x86": 0x14C}[sys.argv[2]] != machine:
    faults.append("machine 0x%x is not %s" % (machine, sys.argv[2]))
if not characteristics & 0x2000:
    faults.append("not a DLL (IMAGE_FILE_DLL is not set)")
if stamp:
    faults.append("the header carries a time stamp (0x%x)" % stamp)
print("\n".join(faults)) if faults else None
sys.exit(1 if faults else 0)
PY
built_version=$(python3 "$source/packaging/file_version.py" "$dll" 2>&1) || true
[[ $built_version == "$(tr -d ' \t\r\n' <"$source/VERSION")" ]] ||
  { echo "version resource: $built_version"; status=1; }
((status)) || echo "idrovan.dll ($arch): exports, imports and header as they must be"
exit $status
