#!/usr/bin/env bash
# idrovan.dll keeps its ABI and stays a self-contained DLL: its export table holds exactly the
# names of the committed list (a removed or renamed export fails here; a new one must be added to
# the list on purpose), all undecorated; it is a DLL of the architecture given, without a time
# stamp, carrying the version of the file VERSION.
# And it is safe to load into any process and to unload again: it imports KERNEL32, ADVAPI32
# and msvcrt and nothing else (all of them KnownDLLs, tests/abi/known_dlls.txt), neither
# TlsAlloc nor AddVectoredExceptionHandler; its TLS callbacks are no more than a bare MinGW
# DLL's (the C runtime's own), built here with the same toolchain to compare; and its linker
# map (<idrovan.dll>.map) shows that loading it runs only the C runtime's start-up: no static
# constructor but the runtime's own, the runtime's default DllMain, and nothing of winpthreads,
# of the C++ exception support or of the runtime's guards of local statics linked in.
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

imported=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
[[ $imported == "advapi32.dll kernel32.dll msvcrt.dll " ]] ||
  { echo "imports $imported; only advapi32.dll kernel32.dll msvcrt.dll are expected"; status=1; }
known=$(grep -v '^#' "$source/tests/abi/known_dlls.txt")
for name in $imported; do
  grep -qx "${name%.dll}" <<<"$known" || { echo "imports $name, which is not a KnownDLL"; status=1; }
done
# Nor a function that Windows forwards from a KnownDLL to a DLL that is none.
bash "$source/tests/abi/check_forwarded_imports.sh" "$objdump" "$dll" || status=1
for call in TlsAlloc AddVectoredExceptionHandler; do
  ! grep -Eq "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$call\$" <<<"$headers" ||
    { echo "imports $call: something in it keeps state past FreeLibrary"; status=1; }
done
# The system drive comes from the system's Windows directory, never the per-user one that
# GetWindowsDirectory gives a host on a Remote Desktop server.
for call in GetWindowsDirectoryA GetWindowsDirectoryW; do
  ! grep -Eq "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$call\$" <<<"$headers" ||
    { echo "imports $call: the system drive must come from GetSystemWindowsDirectory"; status=1; }
done

# The TLS callbacks of a bare MinGW DLL of the same toolchain, and the DLL's.
bare=$(mktemp -d)
trap 'rm -rf "$bare"' EXIT
compiler=${objdump%objdump}gcc
printf 'int bare_export(void) { return 1; }\n' >"$bare/bare.c"
"$compiler" -shared -O2 -o "$bare/bare.dll" "$bare/bare.c" ||
  { echo "could not build a bare DLL with $compiler"; status=1; }
if ! python3 "$source/tests/abi/tls_callbacks.py" "$bare/bare.dll" "$dll"; then
  status=1
fi

map=$dll.map
if [[ -f $map ]]; then
  # The archive members linked in, as the map's first part lists them.
  members=$(sed -n '1,/^Discarded input sections/p' "$map" | grep -E '^[^[:space:]].*\.a\(' || true)
  for unwanted in 'libwinpthread|libpthread\.a' 'eh_alloc\.o|eh_throw\.o|eh_personality\.o|eh_globals\.o' \
                  'emutls\.o' 'libstdc\+\+\.a\(guard\.o\)'; do
    found=$(grep -E "$unwanted" <<<"$members" || true)
    [[ -z $found ]] || { echo "links in the runtime's $(sed 's/.*(//; s/)$//' <<<"$found" | tr '\n' ' ')"; status=1; }
  done
  # DllMain is the runtime's default one, not ours.
  grep -Eq '^[^[:space:]]*lib[a-z0-9_]*\.a\([a-z0-9_-]*dllmain\.o\)' "$map" ||
    { echo "DllMain is not the C runtime's default: something of ours runs at load"; status=1; }
  # Static constructors: only the C runtime's own start-up files may add one.
  ctors=$(awk '/__CTOR_LIST__ = \./ {on = 1} /__DTOR_LIST__ = \./ {on = 0}
               on && $1 ~ /^\.(ctors|ctor|init_array)/ {print $NF}' "$map" | grep -Ev '/crt(begin|end)\.o$' || true)
  [[ -z $ctors ]] || { echo "static constructors run at load from: $ctors"; status=1; }
else
  echo "no linker map beside the DLL ($map)"
  status=1
fi

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
((status)) || echo "idrovan.dll ($arch): exports, imports, TLS callbacks, start-up and header as they must be"
exit $status
