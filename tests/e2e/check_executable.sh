#!/usr/bin/env bash
# A program must import nothing but Windows' KnownDLLs (tests/abi/known_dlls.txt), so that it
# runs on a clean Windows without any runtime installed and no DLL beside it is taken for a
# system one; comctl32.dll only when its manifest names Common Controls 6, which the loader then
# takes from the side-by-side store. It must be of the subsystem and architecture it is built for,
# and its manifest must name that architecture (Windows refuses a mismatch); its header carries
# no time stamp, which would make every build differ.
#   check_executable.sh <objdump> <program.exe> [gui|console] [x86|x64]
# Without the last two: a GUI program of either architecture.
set -euo pipefail
objdump=$1 exe=$2 subsystem=${3:-gui} arch=${4:-}

headers=$("$objdump" -p "$exe")
case $subsystem in
  gui) grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]+\(Windows GUI\)' <<<"$headers" || {
    echo "not a Windows GUI executable"; exit 1; } ;;
  console) grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]+\(Windows CUI\)' <<<"$headers" || {
    echo "not a Windows console executable"; exit 1; } ;;
  *) echo "unknown subsystem: $subsystem"; exit 2 ;;
esac

# TERMINAL_SERVER_AWARE (DllCharacteristics 0x8000): without it Windows gives the program on a
# Remote Desktop host a private per-user Windows directory, and with it perhaps another system
# drive and another ID for every user. GNU ld sets it only when told (--tsaware).
characteristics=$(sed -n 's/^DllCharacteristics[[:space:]]*\([0-9A-Fa-f]*\)$/\1/p' <<<"$headers")
if [[ -z $characteristics ]]; then
  echo "no DllCharacteristics in the header"; exit 1
fi
if ((!(16#$characteristics & 0x8000))); then
  echo "not TERMINAL_SERVER_AWARE (DllCharacteristics 0x$characteristics lacks 0x8000)"; exit 1
fi

known=$(grep -v '^#' "$(dirname "${BASH_SOURCE[0]}")/../abi/known_dlls.txt")
status=0
imports_comctl32=no
while read -r dll; do
  name=$(tr 'A-Z' 'a-z' <<<"${dll%.[dD][lL][lL]}")
  if [[ $name == comctl32 ]]; then
    imports_comctl32=yes
  elif ! grep -qx "$name" <<<"$known"; then
    echo "imports $dll, which is not a KnownDLL"
    status=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[[ -n $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers") ]] || { echo "no imports found"; exit 1; }

# Nor a function that Windows forwards from a KnownDLL to a DLL that is none.
bash "$(dirname "${BASH_SOURCE[0]}")/../abi/check_forwarded_imports.sh" "$objdump" "$exe" || status=1
# The system drive comes from the system's Windows directory: GetWindowsDirectory gives a
# program on a Remote Desktop host the user's own folder, perhaps on another drive.
for call in GetWindowsDirectoryA GetWindowsDirectoryW; do
  ! grep -Eq "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$call\$" <<<"$headers" ||
    { echo "imports $call: the system drive must come from GetSystemWindowsDirectory"; status=1; }
done

# The header fields and the manifest resource, read from the file itself.
python3 - "$exe" "$subsystem" "$arch" "$imports_comctl32" <<'EOF' || status=1
import struct, sys
import xml.etree.ElementTree as ET

path, subsystem, wanted, imports_comctl32 = sys.argv[1:]
data = open(path, "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
machine, sections, stamp = struct.unpack_from("<HHI", data, pe + 4)
optional_size = struct.unpack_from("<H", data, pe + 20)[0]
optional = pe + 24
magic = struct.unpack_from("<H", data, optional)[0]
arch, want_magic = {0x14C: ("x86", 0x10B), 0x8664: ("x64", 0x20B)}.get(machine, ("?", None))
faults = []
if wanted and arch != wanted:
    faults.append(f"built for {arch} (machine 0x{machine:x}), not {wanted}")
if magic != want_magic:
    faults.append(f"optional header magic 0x{magic:x} does not fit machine 0x{machine:x}")
if stamp != 0:
    faults.append(f"the header carries a time stamp (0x{stamp:x})")

table = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i)
         for i in range(sections)]
def offset(rva):
    for _, size, start, raw_size, raw in table:
        if start <= rva < start + max(size, raw_size):
            return raw + rva - start
    raise ValueError(f"RVA 0x{rva:x} lies in no section")

def manifests():
    directories = optional + (96 if magic == 0x10B else 112)
    rva, size = struct.unpack_from("<II", data, directories + 2 * 8)
    if size == 0:
        return []
    base = offset(rva)
    def entries(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        return [struct.unpack_from("<II", data, base + at + 16 + 8 * i) for i in range(named + ids)]
    found = []
    for name, target in entries(0):
        if name != 24 or not target & 0x80000000:  # RT_MANIFEST, a directory
            continue
        for _, by_id in entries(target & 0x7FFFFFFF):
            for _, by_language in entries(by_id & 0x7FFFFFFF):
                data_rva, data_size = struct.unpack_from("<II", data, base + by_language)
                found.append(data[offset(data_rva):offset(data_rva) + data_size])
    return found

# A console program may go without a manifest; one that names an architecture must name its own.
ns = "{urn:schemas-microsoft-com:asm.v1}"
identities = [ET.fromstring(text).find(ns + "assemblyIdentity") for text in manifests()]
named = [identity.get("processorArchitecture") for identity in identities if identity is not None]
if subsystem == "gui" and not named:
    faults.append("no manifest that names the program (a GUI program needs common controls 6)")
for name in named:
    if name != {"x86": "x86", "x64": "amd64"}.get(arch):
        faults.append(f"the manifest names processorArchitecture {name!r} for an {arch} program")
# comctl32.dll is no KnownDLL: imported, it must come through the manifest's dependency on Common
# Controls 6, which the loader resolves from the side-by-side store, not from the program's folder.
dependencies = [identity.get("name") for text in manifests()
                for identity in ET.fromstring(text).iter(ns + "assemblyIdentity")]
if imports_comctl32 == "yes" and "Microsoft.Windows.Common-Controls" not in dependencies:
    faults.append("imports comctl32.dll without a manifest dependency on Common Controls")
for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
EOF

# The DPI calls of Windows 10 are looked up at run time, so that the program still starts on
# Windows 7; imported, they would keep it from loading there.
for call in GetDpiForWindow GetDpiForSystem SetThreadDpiAwarenessContext \
  SetProcessDpiAwarenessContext GetThreadDpiAwarenessContext; do
  if grep -Eq "[[:space:]]$call\$" <<<"$headers"; then
    echo "imports $call, which Windows 7 lacks"
    status=1
  fi
done

# Declarations the manifest makes to Windows: every program names the Windows versions it was
# made for (7, 8, 8.1, 10/11), so that Windows applies no compatibility shims of older
# versions; the dialog declares Per-Monitor V2 DPI awareness with system awareness as the
# fallback of older Windows, so that Windows never stretches it as a bitmap.
python3 - "$exe" "$subsystem" <<'EOF' || status=1
import re, sys

path, subsystem = sys.argv[1:]
data = open(path, "rb").read()
start = data.find(b"<assembly")
end = data.find(b"</assembly>", start)
if start < 0 or end < 0:
    print("no manifest found in the file")
    sys.exit(1)
text = data[start:end].decode("utf-8")
faults = []
wanted = {
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
compatibility = re.search(r'<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">'
                          r'(.*?)</compatibility>', text, re.S)
declared = set(re.findall(r'<supportedOS Id="([^"]+)"/>', compatibility.group(1))
               if compatibility else [])
for name, guid in wanted.items():
    if guid not in declared:
        faults.append(f"the manifest does not declare {name} as a supported OS")

def setting(name, namespace):
    found = re.findall(rf'<{name} xmlns="{re.escape(namespace)}">([^<]*)</{name}>', text)
    return [value.strip() for value in found]

awareness = setting("dpiAwareness", "http://schemas.microsoft.com/SMI/2016/WindowsSettings")
aware = setting("dpiAware", "http://schemas.microsoft.com/SMI/2005/WindowsSettings")
if subsystem == "gui":
    if awareness != ["PerMonitorV2"]:
        faults.append(f"dpiAwareness is {awareness}, not PerMonitorV2")
    if aware != ["true"]:
        faults.append(f"dpiAware is {aware}, not true")
elif awareness or aware:
    faults.append("a console program declares DPI awareness; its console decides how it is drawn")
for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
EOF
exit $status
