#!/usr/bin/env bash
# The release packages end to end. Runs scripts/package.sh (building both architectures unless
# --no-build), then checks what a user or an administrator gets:
#   - the zips, the MSIs, the SBOMs and SHA256SUMS exist and the sums verify;
#   - built with IDROVAN_RELEASE_URL=https://example.invalid/idrovan/<version>/, a homepage and
#     a channel address, the winget and Scoop manifests beside them pass
#     tests/package/check_manifests.py (YAML; the published schemas, from IDROVAN_SCHEMAS_DIR or
#     ../shared/schemas, SKIPPED where missing; hashes, product and upgrade codes, versions,
#     both architectures, https, msi, a release date, Scoop's checkver on the channel's
#     idrovan.json and its notes); copies broken on purpose fail it, naming the fault; the
#     writer refuses addresses that are not https and a missing homepage or channel address,
#     and package.sh without the release address writes none and says why;
#   - each zip holds exactly both programs (of its architecture: GUI and console subsystem),
#     README.txt, LICENSE.txt and THIRD-PARTY-NOTICES.txt with Windows line ends; a second run
#     gives identical zips and SBOMs;
#   - each SDK zip holds, under one folder, the header, idrovan.dll (of its architecture and
#     version, signed when signing), both import libraries, the CMake package and the pkg-config
#     file, the licence and the notices; the SBOM lists the DLL; a second run gives the same bytes
#     (the SDK's consumers are tested under Wine by tests/sdk);
#   - the notices name the linked libraries with the versions of the installed toolchain,
#     carry the licence texts of winpthreads and the mingw-w64 runtime as Debian gives them,
#     and nothing of the parts the programs do not contain, and the Hewlett-Packard and Silicon
#     Graphics notices of libstdc++'s containers as the installed bits/stl_tree.h gives them;
#     each SBOM is valid CycloneDX (npm's @cyclonedx/cyclonedx-library; a broken copy is
#     refused), names its supplier, authors and tool, and lists both programs with their
#     SHA-256 and the linked libraries with their versions and a purl each (winpthreads' names
#     its archive within the runtime's Debian package);
#   - each MSI carries the version, its architecture's fixed UpgradeCode, a per-machine install
#     into its Program Files folder, every file as short|long name, no registry entry of any
#     kind, and runs the installed idrovan-cli.exe once, deferred and without impersonation,
#     on a first installation only, checking its exit code;
#   - one version everywhere: the file VERSION's is in the package names, both programs' version
#     resources, the MSIs' ProductVersion and their File tables (whose programs have no hash
#     rows); package.sh refuses another IDROVAN_VERSION, a fourth part that is not 0, and
#     programs built for another version; a package built from the sources with another VERSION
#     carries that one throughout (the versions the test uses are worked out from VERSION's); the
#     guides name this version's packages and product codes, give every silent msiexec command
#     with /norestart, and have exit-code rows for 3010, 1641, 1603 and 1605;
#   - one Idrovan per machine, in the tables: RemoveExistingProducts is the first action after
#     InstallInitialize (inside the transaction), the x64 MSI removes any x86 Idrovan, the x86
#     MSI has a launch condition that refuses where the x64 one is; the product names say the
#     architecture; Programs and Features gets the icon, the install location (a plain type-51
#     setter) and the publisher, and no web address;
#   - package.sh refuses, before writing anything, any IDROVAN_SIGN_ setting without both
#     certificate and key, a setting it does not know, and signing without a timestamp unless
#     IDROVAN_SIGN_TEST_BUILD=1;
#   - signing a test build with a throw-away self-signed certificate and a password-protected
#     key gives programs and MSIs whose signatures osslsigncode verifies against that
#     certificate; the password (and below, the token's PIN) reaches osslsigncode only through
#     -readpass, from a file of mode 600 in a folder of mode 700 that is gone afterwards, never
#     on its command line or in its environment (an osslsigncode in front of the real one
#     records how it is called);
#   - signing from a software token (SoftHSM, through OpenSSL's PKCS#11 engine), timestamped by
#     a throw-away time-stamping server on 127.0.0.1 (the first server named answers 503, the
#     second is used): signature and timestamp verify on both programs and both MSIs, also at
#     a time after the certificate has expired, when a signature without timestamp fails;
#   - where Wine runs 32-bit programs, first the x86 MSI in the prefix below: it installs silently
#     into Program Files (x86), its installation makes the marker, its console program and its
#     dialog show the ID that tests/e2e/expected_id.py derives, as does the x64 zip's console
#     program in the same prefix, and a silent uninstall removes it and keeps the marker, which
#     the test then deletes so that the x64 MSI meets a machine without one; elsewhere this
#     part is reported as skipped;
#   - under Wine, in a prefix of its own with machine facts of the test's choosing: the x64 MSI
#     installs silently; the installation made the marker (a REG_SZ of 32 digits); the
#     installed files equal the zip's; the
#     Start-menu shortcut exists; the installed console program prints the ID
#     that tests/e2e/expected_id.py derives, as does the zip's, and the package's version; the
#     installed dialog shows it; with the marker key made read-only, as a standard user sees it,
#     `idrovan-cli --no-write` still prints it; a silent uninstall removes files and shortcut
#     and keeps the marker; installing again over a stored marker that cannot be used,
#     so that the package's run of idrovan-cli fails, fails the installation and leaves nothing
#     installed; installing with the marker back gives the same ID, and idrovan-cli runs from
#     PATH again; the machine PATH, read byte for byte with its type, is the installation
#     folder and ';' in front of what it was before the first package after every installation
#     (x86 and x64 alike), and exactly what it was after every uninstall, so no stray separator
#     is left (Wine's cmd stops searching PATH at an empty entry); an upgrade forced
#     to fail after the files (an error action in a copy of the newer package) fails with 1603
#     and leaves the older version installed, or, as Wine's msi does not roll back
#     RemoveExistingProducts, leaves nothing at all (reported as a known Wine limit; anything
#     half-installed fails); a newer version replaces it, and the older one is then refused
#     (1603); Programs and Features shows the product's name, publisher, version and install
#     location;
#   - under Wine where 32-bit programs run (SKIPPED elsewhere): the x86 MSI, then the x64 one
#     over it, leaves one product, one shortcut (to the x64 dialog), one PATH entry and the
#     same ID; the x86 MSI is then refused (1603) and the x64 product stays.
#   - NOMARKER=1 installs without making the marker, and a repair without it makes none either
#     (the marker's action is for a first installation).
#
#   test_packages.sh <work dir> <idrovan_probe.exe> <idrovan_cli_e2e_test.exe> [--no-build]
#
# The two programs come from the windows preset's tests/e2e: the first reads the dialog off the
# screen, the second reads the marker and makes its key read-only (suite CliInstalled).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
usage="usage: test_packages.sh <work dir> <idrovan_probe.exe> <idrovan_cli_e2e_test.exe> [--no-build]"
work=$(realpath -m "${1:?$usage}")
probe=$(realpath "${2:?$usage}")
driver=$(realpath "${3:?$usage}")
build_option=()
[[ ${4:-} == --no-build ]] && build_option=(--no-build)

version=$(tr -d ' \t\r\n' <"$root/VERSION")
# Versions the test builds or refuses, from VERSION's: the next build number, the one after, and
# VERSION with a fourth part.
IFS=. read -r major minor build _ <<<"$version"
newer_version=$major.$minor.$((build + 1)).0
newest_version=$major.$minor.$((build + 2)).0
fourth_part_version=$major.$minor.$build.1
declare -A upgrade_code=([x64]=AE1FBC0D-75FE-4AA8-B0FC-5AFDC95A3F9F [x86]=CB65BCE9-A1BC-4182-8347-F4A9A9CEE83A)
declare -A pe_format=([x64]=pei-x86-64 [x86]=pei-i386)
declare -A program_files=([x64]=ProgramFiles64Folder [x86]=ProgramFilesFolder)
declare -A template=([x64]='x64;1033' [x86]='Intel;1033')
declare -A subsystem=([idrovan.exe]='Windows GUI' [idrovan-cli.exe]='Windows CUI')
contents='LICENSE.txt README.txt THIRD-PARTY-NOTICES.txt idrovan-cli.exe idrovan.exe'

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

rm -rf "$work"
mkdir -p "$work"
dist=$work/dist
# The manifests' download addresses lie under this one (a name that never resolves).
release_url=https://example.invalid/idrovan/$version/
channel_url=https://example.invalid/idrovan/stable/
export IDROVAN_HOMEPAGE=https://example.invalid/idrovan/ IDROVAN_CHANNEL_URL=$channel_url
IDROVAN_RELEASE_URL=$release_url "$root/scripts/package.sh" "${build_option[@]}" --out "$dist"

echo "== the packages and their checksums"
names=()
for arch in x64 x86; do
  names+=("idrovan-$version-$arch.zip" "idrovan-$version-$arch.msi" "idrovan-$version-$arch.cdx.json"
          "idrovan-sdk-$version-$arch.zip")
done
for name in "${names[@]}" SHA256SUMS; do
  [[ -s $dist/$name ]] || fail "$name is missing or empty"
done
listed=$(awk '{print $2}' "$dist/SHA256SUMS" | sort | tr '\n' ' ')
[[ $listed == "$(printf '%s\n' "${names[@]}" | sort | tr '\n' ' ')" ]] ||
  fail "SHA256SUMS lists: $listed"
if (cd "$dist" && sha256sum --quiet -c SHA256SUMS); then ok "SHA256SUMS verifies"; else fail "SHA256SUMS does not verify"; fi

echo "== the winget and Scoop manifests"
check_manifests() {
  python3 "$here/check_manifests.py" --dist "$dist" --version "$version" --release-url "$release_url" \
    --channel-url "$channel_url" "$@"
}
if check_manifests; then ok "the manifests describe the packages"; else fail "the manifests do not describe the packages"; fi
# broken <what> <file> <part of the fault> <python on m, the file's content>: a copy of the
# manifests with that file changed must fail the check, for that reason. An m that is left a
# string is written as it is.
broken() {
  local what=$1 file=$2 part=$3 edit=$4 copy=$work/broken-manifests said
  rm -rf "$copy"
  cp -r "$dist/manifests" "$copy"
  python3 - "$copy/$file" "$edit" <<'PYTHON'
import json, sys, yaml
path, edit = sys.argv[1:]
text = open(path, encoding="utf-8").read()
is_json = path.endswith(".json")
m = json.loads(text) if is_json else yaml.safe_load(text)
exec(edit)
out = m if isinstance(m, str) else json.dumps(m) if is_json else yaml.safe_dump(m, sort_keys=False)
open(path, "w", encoding="utf-8").write(out)
PYTHON
  if said=$(check_manifests --manifests "$copy"); then fail "the check accepts manifests with $what"; return; fi
  grep -qF -- "$part" <<<"$said" && ok "the check refuses $what" ||
    fail "the check refused $what without naming '$part': $said"
}
installer=winget/Veltrane.Idrovan.installer.yaml
locale=winget/Veltrane.Idrovan.locale.en-US.yaml
scoop=scoop/idrovan.json
broken "a wrong hash" $installer "x64 InstallerSha256" "m['Installers'][0]['InstallerSha256'] = '0' * 64"
broken "a missing ProductCode" $installer "x86 ProductCode" "del m['Installers'][1]['ProductCode']"
broken "the UpgradeCodes swapped" $installer "UpgradeCode" \
  "a, b = m['Installers']; a['AppsAndFeaturesEntries'], b['AppsAndFeaturesEntries'] = b['AppsAndFeaturesEntries'], a['AppsAndFeaturesEntries']"
broken "an http address" $installer "is not an https address" \
  "m['Installers'][0]['InstallerUrl'] = m['Installers'][0]['InstallerUrl'].replace('https:', 'http:')"
broken "one architecture only" $installer "installer architectures" "del m['Installers'][1]"
broken "a silent install that may restart" $installer "/norestart" "m['InstallerSwitches']['Silent'] = '/qn'"
broken "another version in the version file" winget/Veltrane.Idrovan.yaml "PackageVersion" "m['PackageVersion'] = '2.1.30.0'"
broken "text that is not YAML" $locale "not readable YAML" "m = text + 'Tags: [unclosed\n'"
broken "a wrong Scoop hash" $scoop "32bit hash" "m['architecture']['32bit']['hash'] = '0' * 64"
broken "no 32-bit Scoop download" $scoop "architectures" "del m['architecture']['32bit']"
broken "a Scoop autoupdate address without the version pattern" $scoop "autoupdate url" \
  "u = m['autoupdate']['architecture']['64bit']; u['url'] = u['url'].replace('\$version', '2.1.30.0')"
broken "a Scoop checkver on a folder listing" $scoop "checkver" \
  "m['checkver'] = {'url': 'https://example.invalid/idrovan/', 'regex': '([0-9.]+)/', 'reverse': True}"
broken "a Scoop checkver on the release's own manifest" $scoop "checkver" \
  "m['checkver']['url'] = '$release_url' + 'idrovan.json'"
broken "Scoop notes that only say --no-write" $scoop "--first-run" \
  "m['notes'] = \"A standard user's ID: run 'idrovan-cli --no-write'.\""
broken "the release folder as Scoop's homepage" $scoop "homepage" "m['homepage'] = '$release_url'"
broken "winget told the MSI is WiX's" $installer "InstallerType" "m['InstallerType'] = 'wix'"
broken "an install location the MSI does not keep" $installer "InstallLocation" \
  "m['InstallerSwitches']['InstallLocation'] = 'INSTALLDIR=\"<INSTALLPATH>\"'"
broken "no release date" $installer "ReleaseDate" "del m['ReleaseDate']"
broken "installation notes silent on elevation" $locale "InstallationNotes" \
  "m['InstallationNotes'] = 'Run idrovan-cli --no-write.'"
# What only the schemas require.
if [[ -d ${IDROVAN_SCHEMAS_DIR:-$root/../shared/schemas} ]]; then
  broken "a locale without its short description" $locale "does not match its schema" "del m['ShortDescription']"
  broken "a Scoop manifest without a licence" $scoop "does not match its schema" "del m['license']"
  broken "an elevation winget does not know" $installer "does not match its schema" \
    "m['ElevationRequirement'] = 'elevated'"
else
  echo "SKIPPED: manifests that only the schemas refuse: no schemas in ${IDROVAN_SCHEMAS_DIR:-$root/../shared/schemas}"
fi
# The writer refuses an address that is not https, and writes nothing then.
for setting in "IDROVAN_RELEASE_URL=http://example.invalid/idrovan/$version/" \
    "IDROVAN_RELEASE_URL=ftp://example.invalid/idrovan/" "IDROVAN_RELEASE_URL=example.invalid/idrovan/" \
    "IDROVAN_RELEASE_URL=https:///idrovan/" "IDROVAN_HOMEPAGE=http://example.invalid/idrovan" \
    "IDROVAN_CHANNEL_URL=http://example.invalid/idrovan/stable/"; do
  status=0
  said=$(env IDROVAN_RELEASE_URL="$release_url" "$setting" python3 "$root/packaging/make_manifests.py" \
    --dist "$dist" --version "$version" --out "$work/refused-manifests" 2>&1) || status=$?
  if ((status == 0)) || [[ -e $work/refused-manifests ]]; then
    fail "the manifests were written with $setting"
  elif [[ $said != *"must be an https address"* ]]; then
    fail "$setting refused, saying: $said"
  else
    ok "$setting refused"
  fi
done
# Nor without the product's page (a release folder is none) or the channel's fixed address
# (without it scoop update never finds the next release).
for setting in IDROVAN_HOMEPAGE IDROVAN_CHANNEL_URL; do
  status=0
  said=$(env -u "$setting" IDROVAN_RELEASE_URL="$release_url" python3 "$root/packaging/make_manifests.py" \
    --dist "$dist" --version "$version" --out "$work/refused-manifests" 2>&1) || status=$?
  if ((status == 0)) || [[ -e $work/refused-manifests ]]; then
    fail "the manifests were written without $setting"
  elif [[ $said != *"$setting is not set"* ]]; then
    fail "without $setting refused, saying: $said"
  else
    ok "no manifests without $setting"
  fi
done

# Windows text: every line ends in CR LF, and the text is the repository's.
check_text() {
  local file=$1 source=$2
  if grep -qv $'\r$' "$file"; then fail "$file has a line without CR LF"; fi
  cmp -s <(tr -d '\r' <"$file") "$source" || fail "$file is not $source"
}

echo "== the zips"
for arch in x64 x86; do
  zip=$dist/idrovan-$version-$arch.zip
  unpacked=$work/zip-$arch
  entries=$(unzip -Z1 "$zip" | tr '\n' ' ')
  [[ $entries == "$contents " ]] || fail "$arch zip holds: $entries"
  unzip -q "$zip" -d "$unpacked"
  for program in idrovan.exe idrovan-cli.exe; do
    headers=$(objdump -f -p "$unpacked/$program")
    grep -q "file format ${pe_format[$arch]}\$" <<<"$headers" ||
      fail "$arch zip: $program is not ${pe_format[$arch]}"
    grep -Eq "^Subsystem[[:space:]]+[0-9a-f]+[[:space:]]+\(${subsystem[$program]}\)" <<<"$headers" ||
      fail "$arch zip: $program is not a ${subsystem[$program]} program"
  done
  check_text "$unpacked/README.txt" <(python3 "$root/packaging/make_guide.py" --version "$version")
  check_text "$unpacked/LICENSE.txt" "$root/LICENSE"
  if grep -qv $'\r$' "$unpacked/THIRD-PARTY-NOTICES.txt"; then fail "$arch zip: THIRD-PARTY-NOTICES.txt has a line without CR LF"; fi
done
ok "zip contents checked"

echo "== the SDKs"
failures_before=$failures
for arch in x64 x86; do
  sdk=$dist/idrovan-sdk-$version-$arch.zip
  top=idrovan-sdk-$version-$arch
  entries=$(unzip -Z1 "$sdk" | tr '\n' ' ')
  want="$top/LICENSE.txt $top/THIRD-PARTY-NOTICES.txt $top/bin/idrovan.dll $top/bin/idrovan.dll.debug $top/example/CMakeLists.txt $top/example/example.c $top/include/idrovan.h $top/lib/cmake/Idrovan/IdrovanConfig.cmake $top/lib/cmake/Idrovan/IdrovanConfigVersion.cmake $top/lib/idrovan.lib $top/lib/libidrovan.dll.a $top/lib/pkgconfig/idrovan.pc $top/library.txt $top/src/idrovan_licence.c $top/src/idrovan_licence.h $top/src/idrovan_licence_win32.c $top/src/idrovan_licence_win32.h "
  [[ $entries == "$want" ]] || fail "$arch SDK holds: $entries"
  unzip -q "$sdk" -d "$work/sdk-$arch"
  grep -q "file format ${pe_format[$arch]}\$" <<<"$(objdump -f "$work/sdk-$arch/$top/bin/idrovan.dll")" ||
    fail "$arch SDK: idrovan.dll is not ${pe_format[$arch]}"
  [[ $(python3 "$root/packaging/file_version.py" "$work/sdk-$arch/$top/bin/idrovan.dll") == "$version" ]] ||
    fail "$arch SDK: idrovan.dll is not version $version"
  cmp -s "$work/sdk-$arch/$top/include/idrovan.h" "$root/include/idrovan.h" || fail "$arch SDK: another idrovan.h"
  # The licence check's source is the very file the DLL is built from.
  for source in idrovan_licence.c idrovan_licence.h idrovan_licence_win32.c idrovan_licence_win32.h; do
    cmp -s "$work/sdk-$arch/$top/src/$source" "$root/api/licence/$source" || fail "$arch SDK: another $source"
  done
  check_text "$work/sdk-$arch/$top/LICENSE.txt" "$root/LICENSE"
  check_text "$work/sdk-$arch/$top/library.txt" \
    <(python3 "$root/packaging/make_guide.py" --version "$version" --page docs/library.md)
  # The symbols: a file of debug information for this very DLL, stripped of it, which names the
  # file and its CRC-32 in its .gnu_debuglink section (tests/sdk builds and runs the example).
  python3 - "$work/sdk-$arch/$top/bin/idrovan.dll" "$work/sdk-$arch/$top/bin/idrovan.dll.debug" <<'PYTHON' ||
import re, subprocess, sys, tempfile, zlib
dll, debug = sys.argv[1:]
def sections(path):
    out = subprocess.run(["objdump", "-h", path], capture_output=True, text=True, check=True).stdout
    return set(re.findall(r"^\s*\d+\s+(\S+)", out, re.M))
with tempfile.TemporaryDirectory() as work:
    subprocess.run(["objcopy", "--dump-section", ".gnu_debuglink=%s/link" % work, dll,
                    "%s/copy" % work], check=True)
    data = open("%s/link" % work, "rb").read()
# The file's name, a zero, padding to four bytes, then the CRC-32 of the file.
name = data.partition(b"\0")[0]
at = (len(name) + 4) & ~3
crc = int.from_bytes(data[at:at + 4], "little")
problems = []
if name != b"idrovan.dll.debug":
    problems.append("the debug link names %r" % name)
if crc != zlib.crc32(open(debug, "rb").read()):
    problems.append("the debug link's CRC is not the symbol file's")
if any(s.startswith(".debug") for s in sections(dll)):
    problems.append("the DLL still carries debug sections")
if not {".debug_info", ".debug_line"} <= sections(debug):
    problems.append("the symbol file lacks .debug_info or .debug_line")
sys.exit("; ".join(problems) if problems else 0)
PYTHON
    fail "$arch SDK: idrovan.dll and idrovan.dll.debug do not belong together"
  # The architecture's SBOM lists the DLL as shipped.
  python3 - "$dist/idrovan-$version-$arch.cdx.json" "$work/sdk-$arch/$top/bin/idrovan.dll" "$version" <<'PYTHON' ||
import hashlib, json, sys
bom, dll, version = sys.argv[1:]
c = {c["name"]: c for c in json.load(open(bom))["components"]}.get("idrovan.dll", {})
digest = hashlib.sha256(open(dll, "rb").read()).hexdigest()
sys.exit(0 if c.get("version") == version and {"alg": "SHA-256", "content": digest} in c.get("hashes", []) else 1)
PYTHON
    fail "$arch SBOM does not list the SDK's idrovan.dll with its SHA-256"
done
((failures > failures_before)) || ok "SDK contents checked"

echo "== third-party notices and bills of materials"
# The toolchain's packages and their versions, as dpkg has them; the upstream version is the
# Debian one without its revision.
declare -A triple=([x64]=x86-64 [x86]=i686)
deb_version() { dpkg-query -W -f='${Version}' "$1"; }
upstream() { sed 's/^[0-9]*://; s/-[^-]*$//' <<<"$1"; }
for arch in x64 x86; do
  notices=$(tr -d '\r' 2>/dev/null <"$work/zip-$arch/THIRD-PARTY-NOTICES.txt" || true)
  runtime=mingw-w64-${triple[$arch]}-dev
  debian_copyright=/usr/share/doc/$runtime/copyright
  gcc=gcc-mingw-w64-${triple[$arch]}-posix
  gxx=g++-mingw-w64-${triple[$arch]}-posix
  declare -A component_version=(
    [mingw-w64-crt]=$(upstream "$(deb_version "$runtime")") [winpthreads]=$(upstream "$(deb_version "$runtime")")
    [libgcc]=$(upstream "$(deb_version "$gcc")") [libstdc++]=$(upstream "$(deb_version "$gxx")"))
  for line in "mingw-w64 runtime ${component_version[mingw-w64-crt]} ($runtime $(deb_version "$runtime"))" \
      "winpthreads ${component_version[winpthreads]} ($runtime $(deb_version "$runtime"))" \
      "libgcc ${component_version[libgcc]} ($gcc $(deb_version "$gcc"))" \
      "libstdc++ ${component_version[libstdc++]} ($gxx $(deb_version "$gxx"))"; do
    grep -qxF "  $line" <<<"$notices" || fail "$arch notices do not name: $line"
  done
  grep -qF 'GCC Runtime Library Exception' <<<"$notices" || fail "$arch notices say nothing of GCC's runtime libraries"
  # What the linked parts ask for: the runtime's ZPL, winpthreads' MIT (expat) and the Lockless
  # notice of its pthread.h; not the licences of parts that are not linked (the profiler's
  # Cygwin licence, the tools' GPL, the headers' LGPL).
  for licence in ZPL-2.1 expat BSD-3-clause-Lockless; do
    grep -qE "^License: (.* )?$licence( |\$)" <<<"$notices" || fail "$arch notices lack the $licence licence"
  done
  for licence in Cygwin GPL-3+ LGPL-2.1+; do
    ! grep -qF "License: $licence" <<<"$notices" || fail "$arch notices carry the $licence licence of parts not linked"
  done
  # Every copyright and licence line of the runtime's sections is Debian's own.
  foreign=$(awk '/^====================+$/ {getline title; keep = title ~ /^(mingw-w64 runtime|winpthreads) /; next} keep' <<<"$notices" |
             grep -E '^(Copyright:|License:| )' | grep -vxF -f "$debian_copyright" | head -3 || true)
  [[ -z $foreign ]] || fail "$arch notices have lines that are not in $debian_copyright: $foreign"
  # libstdc++'s containers: the Hewlett-Packard and Silicon Graphics notices, every line of them
  # as the installed bits/stl_tree.h gives it.
  stl_tree=$(dpkg -L "$gxx" | grep '/bits/stl_tree\.h$' | head -1)
  stl_lines=$(sed -n '/^ \* Copyright (c) 1996,1997$/,/^ \*\/$/p' "$stl_tree" | sed -n 's/^ \* \(..*\)$/\1/p')
  [[ $(grep -c . <<<"$stl_lines") -ge 16 ]] && grep -qF 'Hewlett-Packard Company makes no' <<<"$stl_lines" &&
    grep -qF 'Silicon Graphics makes no' <<<"$stl_lines" || fail "$stl_tree does not give the HP and SGI notices"
  missing=$(grep -vxF -f <(sed 's/^  //' <<<"$notices") <<<"$stl_lines" | head -3 || true)
  [[ -z $missing ]] || fail "$arch notices lack lines of the HP and SGI notices in $stl_tree: $missing"

  python3 - "$dist/idrovan-$version-$arch.cdx.json" "$work/zip-$arch" "$version" \
      "mingw-w64-crt=${component_version[mingw-w64-crt]}" "winpthreads=${component_version[winpthreads]}" \
      "libgcc=${component_version[libgcc]}" "libstdc++=${component_version[libstdc++]}" <<'PYTHON' ||
import hashlib, json, re, sys
bom_file, unpacked, version, *libraries = sys.argv[1:]
bom = json.load(open(bom_file))
components = {c["name"]: c for c in bom["components"]}
faults = []
for program in ("idrovan.exe", "idrovan-cli.exe"):
    digest = hashlib.sha256(open(f"{unpacked}/{program}", "rb").read()).hexdigest()
    c = components.get(program, {})
    if c.get("version") != version or {"alg": "SHA-256", "content": digest} not in c.get("hashes", []):
        faults.append(f"{program}: not version {version} with the zip's SHA-256 {digest}")
for name, wanted in (library.split("=") for library in libraries):
    if components.get(name, {}).get("version") != wanted:
        faults.append(f"{name}: version {components.get(name, {}).get('version')}, not {wanted}")
for program in ("idrovan.exe", "idrovan-cli.exe"):
    depends = next((d["dependsOn"] for d in bom.get("dependencies", []) if d["ref"] == program), [])
    if sorted(depends) != sorted(l.split("=")[0] for l in libraries):
        faults.append(f"{program} depends on {depends}")
# Who made it, and with what.
metadata = bom.get("metadata", {})
if metadata.get("supplier", {}).get("name") != "Veltrane":
    faults.append(f"metadata.supplier: {metadata.get('supplier')}")
if {"name": "The Idrovan authors"} not in metadata.get("authors", []):
    faults.append(f"metadata.authors: {metadata.get('authors')}")
tools = metadata.get("tools", {}).get("components", [])
if not any("third_party.py" in t.get("name", "") and t.get("version") == version for t in tools):
    faults.append(f"metadata.tools names no third_party.py {version}: {tools}")
# Each library its own package URL, the Debian package it came from; winpthreads, which shares
# the runtime's, by the archive within it.
purls = [c.get("purl") for c in bom["components"] if c["type"] == "library"]
if len(set(purls)) != len(purls) or None in purls:
    faults.append(f"the libraries' purls are not one each: {purls}")
for name in ("mingw-w64-crt", "winpthreads"):
    package = next((p["value"].split()[0] for p in components.get(name, {}).get("properties", [])
                    if p["name"] == "idrovan:debian-package"), None)
    if not str(components.get(name, {}).get("purl")).startswith(f"pkg:deb/debian/{package}@"):
        faults.append(f"{name}: purl {components.get(name, {}).get('purl')} is not of the Debian package {package}")
if not re.search(r"#usr/[^#?]*/lib(win)?pthread\.a$", str(components.get("winpthreads", {}).get("purl"))):
    faults.append(f"winpthreads: purl {components.get('winpthreads', {}).get('purl')} does not name its archive")
print("\n".join(faults))
sys.exit(1 if faults else 0)
PYTHON
    fail "$arch SBOM does not describe the programs and libraries"
done
if "$here/sbom/validate.sh" "$dist"/*.cdx.json; then ok "the SBOMs are valid CycloneDX"; else fail "an SBOM is not valid CycloneDX"; fi
# The validator refuses what the schema does not allow: a hash algorithm it does not know.
if sed 's/"SHA-256"/"SHA256"/' "$dist/idrovan-$version-x64.cdx.json" >"$work/broken.cdx.json" 2>/dev/null; then
  ! "$here/sbom/validate.sh" "$work/broken.cdx.json" >/dev/null || fail "the validator accepts a broken SBOM"
fi
ok "notices and SBOMs checked"

said=$(env -u IDROVAN_RELEASE_URL "$root/scripts/package.sh" --no-build --out "$work/again" 2>&1 >/dev/null) ||
  fail "package.sh --no-build failed: $said"
# Without the address the packages are made, without manifests, and the run says why.
[[ ! -e $work/again/manifests && $said == *"IDROVAN_RELEASE_URL"*"is not set"* ]] &&
  ok "without IDROVAN_RELEASE_URL: no manifests, and package.sh says why" ||
  fail "without IDROVAN_RELEASE_URL: manifests '$(ls "$work/again/manifests" 2>&1)', package.sh said: $said"
for arch in x64 x86; do
  for file in "idrovan-$version-$arch.zip" "idrovan-sdk-$version-$arch.zip" "idrovan-$version-$arch.cdx.json"; do
    if cmp -s "$dist/$file" "$work/again/$file"; then ok "$file is the same after a second run"; else fail "$file differs after a second run"; fi
  done
done

echo "== the MSIs"
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p {print $2}'; }
# rows <msi> <table>: the table's rows, tab-separated, without its three header lines.
rows() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
for arch in x64 x86; do
  msi=$dist/idrovan-$version-$arch.msi
  [[ $(property "$msi" ProductVersion) == "$version" ]] || fail "$arch MSI: ProductVersion $(property "$msi" ProductVersion)"
  [[ $(property "$msi" UpgradeCode) == "{${upgrade_code[$arch]}}" ]] || fail "$arch MSI: UpgradeCode $(property "$msi" UpgradeCode)"
  [[ $(property "$msi" ALLUSERS) == 1 ]] || fail "$arch MSI: not a per-machine install"
  msiinfo suminfo "$msi" | grep -qxF "Template: ${template[$arch]}" || fail "$arch MSI: platform is not ${template[$arch]}"
  msiinfo export "$msi" Directory | tr -d '\r' | grep -qxF "INSTALLDIR	${program_files[$arch]}	Idrovan" ||
    fail "$arch MSI: does not install into ${program_files[$arch]}\\Idrovan"
  # A plain shortcut to the program, not an advertised one (whose target is a feature).
  msiinfo export "$msi" Shortcut | tr -d '\r' | awk -F'\t' '$1 == "StartMenuIdrovan" {print $3, $5}' |
    grep -qxF 'Idrovan [#idrovan.exe]' || fail "$arch MSI: no Start-menu shortcut Idrovan to idrovan.exe"
  # The marker key belongs to the program: the package writes no registry value at all.
  [[ $(msiinfo export "$msi" Registry | wc -l) -le 3 ]] || fail "$arch MSI: writes registry values"
  # It runs the installed idrovan-cli.exe, which makes the marker: 3090 = an exe from the File
  # table (18) + deferred (0x400) + without impersonation (0x800), its exit code checked (no
  # 0x40); once the files are in place, on a first installation only (not on a repair or an
  # uninstall).
  msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' '$1 == "idrovan_cli.exe" {sub(/^.*\|/, "", $3); print $3}' |
    grep -qxF idrovan-cli.exe || fail "$arch MSI: the file key idrovan_cli.exe is not idrovan-cli.exe"
  # Every file with its 8.3 short name before its long one: capitals, digits and the
  # punctuation 8.3 allows, one per file, and the long names exactly the zip's files.
  msiinfo export "$msi" File | tr -d '\r' | tail -n +4 | cut -f3 | python3 -c '
import re, sys
names = [line.rstrip("\n") for line in sys.stdin]
part = r"[A-Z0-9!#$%&\x27()@^_`{}~-]"
faults = [n for n in names if not re.fullmatch(r"%s{1,8}(\.%s{1,3})?\|[^|]+" % (part, part), n)]
shorts = [n.split("|")[0] for n in names]
if len(set(shorts)) != len(shorts):
    faults.append("short names repeat: %s" % shorts)
print(" ".join(sorted(n.split("|")[-1] for n in names)) if not faults else "FAULTS " + "; ".join(faults))
' | grep -qxF "$contents" || fail "$arch MSI: File names are not short|long for each file: $(rows "$msi" File | cut -f3 | tr '\n' ' ')"
  msiinfo export "$msi" CustomAction | tr -d '\r' | grep -qxF $'MakeMarker\t3090\tidrovan_cli.exe\t\t' ||
    fail "$arch MSI: no custom action MakeMarker running idrovan-cli.exe: $(msiinfo export "$msi" CustomAction | tail -n +4)"
  msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | awk -F'\t' '
    {at[$1] = $3; condition[$1] = $2}
    END {exit !(condition["MakeMarker"] == "NOT Installed AND NOMARKER<>\"1\"" &&
                at["InstallFiles"] < at["MakeMarker"] && at["MakeMarker"] < at["InstallFinalize"])}' ||
    fail "$arch MSI: MakeMarker is not between InstallFiles and InstallFinalize, for a first installation only, unless NOMARKER=1"
  # NOMARKER=1 must reach the server side of a managed installation.
  tr ';' '\n' <<<"$(property "$msi" SecureCustomProperties)" | grep -qxF NOMARKER ||
    fail "$arch MSI: NOMARKER is not in SecureCustomProperties: $(property "$msi" SecureCustomProperties)"
done
ok "MSI tables checked"

echo "== one version everywhere"
declare -A file_key=([idrovan.exe]=idrovan.exe [idrovan-cli.exe]=idrovan_cli.exe)
# check_versions <label> <version> <msi> <folder with the programs>
check_versions() {
  local label=$1 want=$2 msi=$3 folder=$4 program resource listed
  for program in idrovan.exe idrovan-cli.exe; do
    resource=$(python3 "$root/packaging/file_version.py" "$folder/$program" 2>&1)
    [[ $resource == "$want" ]] || fail "$label: $program's version resource says '$resource', not $want"
    # Windows Installer compares versioned files by this column; a hash row would mark the
    # file as unversioned.
    listed=$(rows "$msi" File | awk -F'\t' -v k="${file_key[$program]}" '$1 == k {print $5 "/" $6}')
    [[ $listed == "$want/1033" ]] || fail "$label MSI: File table gives $program version/language '$listed'"
    ! rows "$msi" MsiFileHash | cut -f1 | grep -qxF "${file_key[$program]}" ||
      fail "$label MSI: $program has an MsiFileHash row"
  done
  [[ $(property "$msi" ProductVersion) == "$want" ]] || fail "$label MSI: ProductVersion $(property "$msi" ProductVersion)"
}
failures_before=$failures
for arch in x64 x86; do
  check_versions "$arch" "$version" "$dist/idrovan-$version-$arch.msi" "$work/zip-$arch"
done
((failures > failures_before)) || ok "version $version in the names, the programs, and each MSI's properties and File table"
# The pages and the packages' guide (made from them, as the zips carry it) name this version's
# packages, and the administrator's page its product codes.
failures_before=$failures
guide=$work/guide.txt
python3 "$root/packaging/make_guide.py" --version "$version" | tr -d '\r' >"$guide"
deploy=$root/docs/install-and-deploy.md
guides=("$root/README.md" "$guide")
for page in "$root"/docs/*.md; do [[ -f $page ]] && guides+=("$page"); done
for page in "${guides[@]}"; do
  named=$(grep -ohE 'idrovan-[0-9]+(\.[0-9]+){3}-(x64|x86)\.(msi|zip|cdx\.json)' "$page" |
          sed -E 's/^idrovan-//; s/-(x64|x86)\..*$//' | sort -u | tr '\n' ' ' || true)
  [[ -z $named || $named == "$version " ]] || fail "${page#"$root"/} names packages of version $named, not $version"
  # Every silent command keeps Windows Installer from restarting the machine by itself.
  restarting=$(grep -E 'msiexec /[ix] [^ ]+ .*/qn' "$page" | grep -vF '/norestart' || true)
  [[ -z $restarting ]] || fail "${page#"$root"/} gives silent commands without /norestart: $restarting"
done
for page in "$deploy" "$guide"; do
  for code in 3010 1641 1603 1605; do
    grep -qE "^(\| | +)$code " "$page" || fail "${page#"$root"/}'s exit-code table has no row for $code"
  done
done
[[ $(head -1 "$guide") == "Veltrane Idrovan $version" ]] ||
  fail "the packages' guide's title is not 'Veltrane Idrovan $version'"
for arch in x64 x86; do
  code=$(property "$dist/idrovan-$version-$arch.msi" ProductCode)
  for page in "$deploy" "$guide"; do
    grep -F "$code" "$page" | grep -qF "$arch $version" ||
      fail "${page#"$root"/} does not give $code as the product code of $arch $version"
  done
done
((failures > failures_before)) || ok "the guides name version $version's packages and product codes"

echo "== one Idrovan per machine, and Programs and Features, in the tables"
declare -A other=([x64]=x86 [x86]=x64)
failures_before=$failures
# sequence <msi> <table>: "action number" lines, for awk to compare positions.
sequence() { rows "$1" "$2" | awk -F'\t' '{print $1, $3}'; }
before() { awk -v a="$2" -v b="$3" '{at[$1] = $2} END {exit !(a in at && b in at && at[a] < at[b])}' <<<"$1"; }
for arch in x64 x86; do
  msi=$dist/idrovan-$version-$arch.msi
  [[ $(property "$msi" ProductName) == "Veltrane Idrovan ($arch)" ]] ||
    fail "$arch MSI: product name '$(property "$msi" ProductName)' does not say $arch"
  # The other architecture's row: any version of it, minimum 0.0.0 included (256), no maximum;
  # its property must be secure, or a per-machine install never sees it set.
  # (Fields joined with '|': read would merge the empty ones between tabs.)
  row=$(rows "$msi" Upgrade | awk -F'\t' -v c="{${upgrade_code[${other[$arch]}]}}" '$1 == c {print $2 "|" $3 "|" $5 "|" $7}')
  IFS='|' read -r minimum maximum attributes found <<<"$row" || true
  [[ $minimum == 0.0.0 && -z $maximum && $((attributes & 256)) -ne 0 && -n $found ]] ||
    fail "$arch MSI: no Upgrade row for every ${other[$arch]} version: '$row'"
  tr ';' '\n' <<<"$(property "$msi" SecureCustomProperties)" | grep -qxF "$found" ||
    fail "$arch MSI: $found is not in SecureCustomProperties"
  execute=$(sequence "$msi" InstallExecuteSequence)
  # An older version (or the x86 Idrovan) is removed inside the transaction, so that a failed
  # upgrade restores it: the first action after InstallInitialize, before anything of this
  # package is removed or installed.
  awk '{at[$1] = $2} END {
         if (!("RemoveExistingProducts" in at) || at["RemoveExistingProducts"] <= at["InstallInitialize"]) exit 1
         for (a in at) if (at[a] > at["InstallInitialize"] && at[a] < at["RemoveExistingProducts"]) exit 1
       }' <<<"$execute" ||
    fail "$arch MSI: RemoveExistingProducts is not the first action after InstallInitialize: $(grep -E '^(InstallInitialize|RemoveExistingProducts|ProcessComponents) ' <<<"$execute" | tr '\n' ' ')"
  if [[ $arch == x64 ]]; then
    # Removes it (not only detects it).
    ((!(attributes & 2))) || fail "x64 MSI: only detects the x86 Idrovan instead of removing it"
  else
    ((attributes & 2)) || fail "x86 MSI: would remove the x64 Idrovan instead of refusing"
    message=$(rows "$msi" LaunchCondition | awk -F'\t' -v c="NOT $found" '$1 == c {print $2}')
    [[ $message == *'(x64) is installed'* ]] || fail "x86 MSI: no launch condition on $found: '$message'"
    for table in InstallExecuteSequence InstallUISequence; do
      before "$(sequence "$msi" $table)" FindRelatedProducts LaunchConditions ||
        fail "x86 MSI: $table checks launch conditions before it finds the related products"
    done
  fi
  # Programs and Features: icon, publisher and install location; no web address of any kind.
  icon=$(property "$msi" ARPPRODUCTICON)
  # (The Icon table's rows are streams named after them; exporting it would write them out.)
  [[ -n $icon ]] && msiinfo streams "$msi" | grep -qxF "Icon.$icon" || fail "$arch MSI: ARPPRODUCTICON '$icon' names no icon"
  [[ $(property "$msi" Manufacturer) == Veltrane ]] || fail "$arch MSI: publisher '$(property "$msi" Manufacturer)'"
  ! rows "$msi" Property | cut -f1 | grep -E '^ARP(URL|HELPLINK)' || fail "$arch MSI: names a web address"
  # A plain property setter (51): the no-impersonation bit (2048) means nothing to it.
  setter=$(rows "$msi" CustomAction | awk -F'\t' '$3 == "ARPINSTALLLOCATION" && $4 == "[INSTALLDIR]" && $2 == 51 {print $1}')
  [[ -n $setter ]] && before "$execute" CostFinalize "$setter" && before "$execute" "$setter" RegisterProduct ||
    fail "$arch MSI: ARPINSTALLLOCATION is not set to INSTALLDIR (type 51) between CostFinalize and RegisterProduct"
done
((failures > failures_before)) || ok "the upgrade, launch condition and Programs and Features tables checked"

echo "== versions package.sh refuses, and a package of another version"
# A copy of the working tree without build/, whose VERSION the test may change.
source_copy=$work/source
mkdir -p "$source_copy"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -C "$source_copy" -xf -
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
# refused <what> <message part> <command...>: the command must fail, saying why.
refused() {
  local what=$1 part=$2 said
  shift 2
  if said=$("$@" 2>&1 >/dev/null); then fail "package.sh accepted $what"; return; fi
  [[ $said == *"$part"* ]] && ok "package.sh refuses $what" || fail "package.sh refused $what saying: $said"
}
refused "IDROVAN_VERSION=$newer_version with VERSION $version" "the file VERSION" \
  env IDROVAN_VERSION=$newer_version "$root/scripts/package.sh" --no-build --out "$work/refused"
echo "$fourth_part_version" >"$source_copy/VERSION"
refused "a fourth part that is not 0" "the fourth part must be 0" \
  "$source_copy/scripts/package.sh" --no-build --out "$work/refused"
# The newer version, built from its own VERSION: the x64 package for the upgrade under Wine,
# set as a release sets it (VERSION and the public header's version macros, which the build
# checks against each other).
"$source_copy/scripts/set-version.sh" "$newer_version" >/dev/null ||
  fail "scripts/set-version.sh could not set $newer_version"
"$source_copy/scripts/package.sh" --arch x64 --out "$work/newer" >"$work/newer.log" 2>&1 ||
  { tail -20 "$work/newer.log"; fail "package.sh could not make a $newer_version package"; }
newer=$work/newer/idrovan-$newer_version-x64.msi
unzip -q "$work/newer/idrovan-$newer_version-x64.zip" -d "$work/zip-newer"
failures_before=$failures
check_versions "$newer_version x64" "$newer_version" "$newer" "$work/zip-newer"
((failures > failures_before)) || ok "a package built with VERSION $newer_version carries it throughout"
echo "$newest_version" >"$source_copy/VERSION"
refused "programs built for another version (--no-build)" "is version $newer_version" \
  "$source_copy/scripts/package.sh" --no-build --arch x64 --out "$work/refused"

echo "== signing settings package.sh refuses"
signing=$work/signing
mkdir -p "$signing"
# The throw-away key file is encrypted: its password reaches osslsigncode as a token's PIN does.
key_pass=$(od -An -N8 -tx8 /dev/urandom | tr -d ' ')
openssl req -x509 -newkey rsa:2048 -passout "pass:$key_pass" -days 2 -subj "/CN=Idrovan test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
# unsigned_refused <what> <message part> <setting=value...>: refused before anything is
# written, rather than a build that comes out unsigned or signed without a timestamp.
unsigned_refused() {
  local what=$1 part=$2
  shift 2
  rm -rf "$work/refused"
  refused "$what" "$part" env "$@" "$root/scripts/package.sh" --no-build --out "$work/refused"
  [[ -z $(ls "$work/refused" 2>/dev/null) ]] || fail "package.sh wrote packages although it refused $what"
}
unsigned_refused "IDROVAN_SIGN_CERT without IDROVAN_SIGN_KEY" "needs both IDROVAN_SIGN_CERT" \
  IDROVAN_SIGN_CERT="$signing/cert.pem"
unsigned_refused "IDROVAN_SIGN_KEY without IDROVAN_SIGN_CERT" "needs both IDROVAN_SIGN_CERT" \
  IDROVAN_SIGN_KEY="$signing/key.pem" IDROVAN_SIGN_TIMESTAMP=http://127.0.0.1:9/
unsigned_refused "IDROVAN_SIGN_PASS alone" "IDROVAN_SIGN_PASS given" IDROVAN_SIGN_PASS="$key_pass"
unsigned_refused "IDROVAN_SIGN_TIMESTAMP alone" "IDROVAN_SIGN_TIMESTAMP given" IDROVAN_SIGN_TIMESTAMP=http://127.0.0.1:9/
unsigned_refused "a signing setting it does not know" "IDROVAN_SIGN_TIMESTMAP is not a signing setting" \
  IDROVAN_SIGN_CERT="$signing/cert.pem" IDROVAN_SIGN_KEY="$signing/key.pem" IDROVAN_SIGN_PASS="$key_pass" \
  IDROVAN_SIGN_TIMESTMAP=http://127.0.0.1:9/
unsigned_refused "signing without a timestamp" "Set IDROVAN_SIGN_TEST_BUILD=1" \
  IDROVAN_SIGN_CERT="$signing/cert.pem" IDROVAN_SIGN_KEY="$signing/key.pem" IDROVAN_SIGN_PASS="$key_pass"
unsigned_refused "IDROVAN_SIGN_TEST_BUILD other than 1" "IDROVAN_SIGN_TEST_BUILD is 1" \
  IDROVAN_SIGN_CERT="$signing/cert.pem" IDROVAN_SIGN_KEY="$signing/key.pem" IDROVAN_SIGN_TEST_BUILD=yes

# An osslsigncode in front of the real one records how package.sh calls it: the command line,
# and the file that -readpass names (its mode, its folder's, whether it holds the secret), and
# whether the password is in its environment.
spy=$work/spy
mkdir -p "$spy"
cat >"$spy/osslsigncode" <<'SPY'
#!/usr/bin/env bash
{
  printf 'ARGS %s\n' "$*"
  previous=
  for argument in "$@"; do
    if [[ $previous == -readpass ]]; then
      holds=no
      [[ $(cat "$argument") == "$SPY_SECRET" ]] && holds=yes
      printf 'READPASS %s %s %s %s\n' "$(stat -c %a "$argument")" "$(stat -c %a "$(dirname "$argument")")" "$holds" "$argument"
    fi
    previous=$argument
  done
  printf 'ENV %s\n' "$(env | grep -c '^IDROVAN_SIGN_PASS=')"
} >>"$SPY_LOG"
exec "$SPY_REAL" "$@"
SPY
chmod +x "$spy/osslsigncode"
export SPY_REAL
SPY_REAL=$(command -v osslsigncode)
# check_secret_passing <log> <secret> <label>: every signing read the secret from a file of
# mode 600 in a folder of mode 700, gone afterwards; never on a command line or in the environment.
check_secret_passing() {
  local log=$1 secret=$2 label=$3 file
  [[ -s $log ]] || { fail "$label: osslsigncode was not called through the spy"; return; }
  ! grep '^ARGS ' "$log" | grep -qF -- "$secret" || fail "$label: the password is on osslsigncode's command line"
  [[ $(grep -c '^ARGS ' "$log") -eq $(grep -c '^READPASS 600 700 yes ' "$log") ]] ||
    fail "$label: not every signing read the password from a private file: $(grep '^READPASS' "$log" | sort -u | head -3)"
  ! grep -q '^ENV [1-9]' "$log" || fail "$label: osslsigncode got the password in its environment"
  for file in $(awk '/^READPASS/ {print $5}' "$log" | sort -u); do
    [[ ! -e $file && ! -e $(dirname "$file") ]] || fail "$label: $file (or its folder) is left behind"
  done
}

echo "== signing with a throw-away certificate"
SPY_LOG=$signing/spy.log SPY_SECRET=$key_pass PATH="$spy:$PATH" \
  IDROVAN_SIGN_CERT=$signing/cert.pem IDROVAN_SIGN_KEY=$signing/key.pem IDROVAN_SIGN_PASS=$key_pass \
  IDROVAN_SIGN_TEST_BUILD=1 "$root/scripts/package.sh" --no-build --out "$signing/dist" >/dev/null 2>"$signing/package.log" ||
  fail "package.sh could not sign a test build with a password-protected key: $(tail -5 "$signing/package.log")"
grep -qF "a test build, signed without a timestamp" "$signing/package.log" ||
  fail "package.sh did not warn that the test build is signed without a timestamp"
check_secret_passing "$signing/spy.log" "$key_pass" "key file"
rm -f "$signing/key.pem"
verify() { osslsigncode verify -CAfile "$signing/cert.pem" -in "$1" 2>&1 | grep -q '^Signature verification: ok'; }
for arch in x64 x86; do
  unzip -q "$signing/dist/idrovan-$version-$arch.zip" -d "$signing/zip-$arch"
  unzip -q "$signing/dist/idrovan-sdk-$version-$arch.zip" -d "$signing/sdk-$arch"
  for file in "$signing/zip-$arch/idrovan.exe" "$signing/zip-$arch/idrovan-cli.exe" \
      "$signing/sdk-$arch/idrovan-sdk-$version-$arch/bin/idrovan.dll" \
      "$signing/dist/idrovan-$version-$arch.msi"; do
    verify "$file" || fail "no valid signature on the signed ${file#"$signing"/}"
  done
done
# The same check refuses what was not signed.
! verify "$work/zip-x64/idrovan.exe" || fail "the unsigned program passes the signature check"
(cd "$signing/dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of the signed packages does not verify"
ok "signatures checked"

echo "== signing from a token, timestamped"
# A software token (SoftHSM) holds the throw-away signing key; the key file is deleted once it
# is on the token, so that only the token can have signed. A throw-away time-stamping key
# answers RFC 3161 requests over HTTP on 127.0.0.1.
token=$work/token
mkdir -p "$token/store"
export SOFTHSM2_CONF=$token/softhsm2.conf
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$token/store" >"$SOFTHSM2_CONF"
pin=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
softhsm2-util --init-token --free --label idrovan-test --pin "$pin" --so-pin "$pin$pin" >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Idrovan token signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$token/key.pem" -out "$token/cert.pem" 2>/dev/null
softhsm2-util --import "$token/key.pem" --token idrovan-test --label signer --id 01 --pin "$pin" >/dev/null
rm -f "$token/key.pem"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Idrovan test time-stamping" \
  -addext "extendedKeyUsage=critical,timeStamping" -keyout "$token/tsa-key.pem" -out "$token/tsa.pem" 2>/dev/null
echo 01 >"$token/tsa-serial"
printf '%s\n' '[tsa]' 'default_tsa = throwaway' '[throwaway]' "serial = $token/tsa-serial" \
  "signer_cert = $token/tsa.pem" "signer_key = $token/tsa-key.pem" 'signer_digest = sha256' \
  'default_policy = 1.3.6.1.4.1.57264.1' 'digests = sha256, sha384, sha512' 'accuracy = secs:1' \
  'ess_cert_id_alg = sha256' >"$token/tsa.cnf"
# The server stops by itself should the test end without stopping it.
timeout 600 python3 "$here/tsa_responder.py" "$token/tsa.cnf" "$token/tsa-port" 2>"$token/tsa.log" &
tsa_pid=$!
for _ in $(seq 100); do [[ -s $token/tsa-port ]] && break; sleep 0.1; done
tsa=http://127.0.0.1:$(cat "$token/tsa-port" 2>/dev/null)
softhsm=$(dpkg -L libsofthsm2 | grep '/libsofthsm2\.so$' | head -1)
engine=$(dpkg -L libengine-pkcs11-openssl | grep '/engines-3/pkcs11\.so$' | head -1)
SPY_LOG=$token/spy.log SPY_SECRET=$pin PATH="$spy:$PATH" \
  IDROVAN_SIGN_CERT=$token/cert.pem IDROVAN_SIGN_KEY='pkcs11:token=idrovan-test;object=signer;type=private' \
  IDROVAN_SIGN_PKCS11_MODULE=$softhsm IDROVAN_SIGN_PKCS11_ENGINE=$engine IDROVAN_SIGN_PASS=$pin \
  IDROVAN_SIGN_TIMESTAMP="$tsa/down $tsa/" \
  "$root/scripts/package.sh" --no-build --out "$token/dist" >/dev/null 2>"$token/package.log" ||
  fail "package.sh could not sign from the token with a timestamp: $(tail -5 "$token/package.log")"
kill "$tsa_pid" 2>/dev/null || true
wait "$tsa_pid" 2>/dev/null || true
grep -q '"POST /down ' "$token/tsa.log" && grep -q '"POST / .* 200 ' "$token/tsa.log" ||
  fail "the time-stamping servers were not asked in turn: $(cat "$token/tsa.log")"
check_secret_passing "$token/spy.log" "$pin" "token PIN"

# After the certificate's two days a signature stands only on its timestamp.
expired=$(($(date +%s) + 5 * 86400))
stamped() {
  local report
  report=$(osslsigncode verify -CAfile "$token/cert.pem" -TSA-CAfile "$token/tsa.pem" "$@" 2>&1)
  grep -q '^Timestamp Server Signature verification: ok' <<<"$report" &&
    grep -q '^Signature verification: ok' <<<"$report" &&
    grep -q 'Issuer: /CN=Idrovan test time-stamping' <<<"$report"
}
# Verifying at a given time needs an osslsigncode that offers verify -time.
at_expiry=false
osslsigncode --help 2>&1 | sed -n '/^ *verify /,/^$/p' | grep -q -- '-time ' && at_expiry=true
for arch in x64 x86; do
  unzip -q "$token/dist/idrovan-$version-$arch.zip" -d "$token/zip-$arch" ||
    { fail "no token-signed $arch zip"; continue; }
  for file in "$token/zip-$arch/idrovan.exe" "$token/zip-$arch/idrovan-cli.exe" \
      "$token/dist/idrovan-$version-$arch.msi"; do
    stamped -in "$file" || fail "no valid timestamped signature on ${file#"$token"/}"
    ! $at_expiry || stamped -time "$expired" -in "$file" ||
      fail "${file#"$token"/}: the timestamped signature fails once the certificate has expired"
  done
done
if $at_expiry; then
  # The same check refuses a signature without timestamp once its certificate has expired.
  ! osslsigncode verify -CAfile "$signing/cert.pem" -time "$expired" -in "$signing/zip-x64/idrovan.exe" 2>&1 |
    grep -q '^Signature verification: ok' || fail "a signature without timestamp verifies after its certificate expired"
else
  echo "skipped: verifying after the certificate's expiry (this osslsigncode has no verify -time)"
fi
(cd "$token/dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of the token-signed packages does not verify"
ok "token signatures and timestamps checked"

echo "== a Wine prefix for the MSIs"
# Machine facts of the test's choosing, as in the program's own end-to-end test.
serial=00c0ffee
root_time=2019-03-04T09:05:07.042
prefix=$work/wine
source "$root/scripts/wine-env.sh"
wine_env_start "$prefix"
trap 'wine_env_stop' EXIT
wineserver -k
printf '%s\n' "$serial" >"$prefix/drive_c/.windows-serial"
wineserver -p
wine64 wineboot </dev/null >/dev/null 2>&1

installed=$prefix/drive_c/Program\ Files/Idrovan
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# Windows' own msiexec is 64-bit and installs both architectures' packages; so is the one here.
# run_msiexec <option> <package>: its status is the low byte of msiexec's exit code (Wine hands
# Unix no more), so 1603 arrives as 67.
# run_msiexec <option> <package> [PROPERTY=value...]
run_msiexec() {
  local option=$1 package=$2
  shift 2
  wine64 msiexec "$option" "$(wine64 winepath -w "$package")" "$@" /qn /norestart </dev/null >/dev/null 2>&1
}
refused_status=$((1603 & 255))
# Under Wine the root folder's creation time is drive_c's modification time, which installing
# may move; the test keeps the fact it chose.
# Prints what the program printed; a failing or hanging program leaves its output short.
# cli_with names the loader (wine32 for a 32-bit program); cli is the 64-bit one's.
cli_with() {
  local loader=$1
  shift
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  timeout 120 "$loader" "$@" </dev/null 2>/dev/null | tr -d '\r' || true
}
cli() { cli_with wine64 "$@"; }
marker() { wine64 reg query 'HKCR\lrgDocID' /v Rndund 2>/dev/null | tr -d '\r' | awk '$1 == "Rndund" {print $3}'; }
machine_path() { wine64 reg query "$environment_key" /v PATH 2>/dev/null | tr -d '\r'; }
# The machine PATH as "<type> <value>", every character of the value as stored.
path_value() {
  wine64 reg query "$environment_key" /v PATH /reg:64 2>/dev/null | tr -d '\r' |
    sed -n 's/^    PATH    \(REG_[A-Z_]*\)    /\1 /p'
}
# path_is <what> <expected "<type> <value>">: the machine PATH byte for byte.
path_is() {
  local now
  now=$(path_value)
  [[ $now == "$2" ]] && ok "$1: the machine PATH is $2" || fail "$1: the machine PATH is '$now', expected '$2'"
}
shortcuts() { find "$prefix/drive_c" -path '*/Start Menu/Programs/*' -name 'Idrovan.lnk'; }
# Registered in either registry view: Wine files a 32-bit package's entry in the 32-bit one.
registered() {
  wine64 reg query "$uninstall_key\\$1" /reg:64 >/dev/null 2>&1 ||
    wine64 reg query "$uninstall_key\\$1" /reg:32 >/dev/null 2>&1
}
# arp <product code> <value>: what Programs and Features shows, from the product's entry.
arp() {
  wine64 reg query "$uninstall_key\\$1" /v "$2" /reg:64 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
product_code() { property "$1" ProductCode; }

# The driver's suite CliInstalled, against the installed console program.
installed_driver() {
  IDROVAN_CLI_EXE='C:\Program Files\Idrovan\idrovan-cli.exe' IDROVAN_EXPECTED_ID=${2:-} \
    timeout 300 wine64 "$driver" --gtest_filter="CliInstalled.$1" </dev/null >"$work/driver.log" 2>&1 ||
    { tr -d '\r' <"$work/driver.log" | awk '/: Failure$/ {p = 1} /^\[/ {p = 0} p' | head -20; return 1; }
}
# Starts the installed dialog (the x64 one, or the one named with its loader) and prints what
# the probe reads off it: "id <ID>" or "error <first line of the error box>"; then closes it.
#   dialog [<loader> <program>]
dialog() {
  local app report loader=${1:-wine64} exe=${2:-'C:\Program Files\Idrovan\idrovan.exe'}
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  "$loader" "$exe" </dev/null >/dev/null 2>&1 &
  app=$!
  report=$(timeout 120 wine64 "$probe" show </dev/null 2>/dev/null | tr -d '\r' | grep -E '^(id|error) ' || true)
  timeout 60 wine64 "$probe" close </dev/null >/dev/null 2>&1 || kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  echo "$report"
}

# The x86 package in the same prefix, before the x64 one: a 32-bit installation makes the marker,
# and the 32-bit and 64-bit programs must then print one ID.
check_x86_package() {
  local x86_msi=$dist/idrovan-$version-x86.msi x86_dir='C:\Program Files (x86)\Idrovan'
  local x86_installed=$prefix/drive_c/Program\ Files\ \(x86\)/Idrovan x86_marker x86_id expected zip_id shown
  if run_msiexec /i "$x86_msi"; then ok "x86: installed silently"; else fail "x86: msiexec /i exited with $?"; fi
  if diff -r "$x86_installed" "$work/zip-x86" >/dev/null; then
    ok "x86: installed into Program Files (x86); the files equal the zip's"
  else
    fail "x86: Program Files (x86)\\Idrovan differs from the zip: $(diff -rq "$x86_installed" "$work/zip-x86" 2>&1 | head -5)"
  fi
  registered "$(product_code "$x86_msi")" || fail "x86: the product is not registered"
  path_is "x86: installed" "REG_EXPAND_SZ $x86_dir\\;${path_before#REG_EXPAND_SZ }"
  x86_marker=$(marker)
  [[ $x86_marker =~ ^[0-9a-f]{32}$ ]] && ok "x86: the installation made the marker" ||
    fail "x86: the installation made no marker: '$x86_marker'"
  expected=$(python3 "$root/tests/e2e/expected_id.py" --serial "$serial" --root-time "$root_time" \
    --marker "${x86_marker:-none}")
  x86_id=$(cli_with wine32 "$x86_dir\\idrovan-cli.exe")
  if [[ $x86_id == "$expected" ]]; then ok "x86: the installed idrovan-cli prints the ID $x86_id"; else
    fail "x86: the installed idrovan-cli printed '$x86_id', expected '$expected'"; fi
  zip_id=$(cli "$work/zip-x64/idrovan-cli.exe")
  [[ $zip_id == "$x86_id" ]] && ok "x86: the x64 idrovan-cli prints the same ID" ||
    fail "x86: the x64 idrovan-cli printed '$zip_id', the x86 one '$x86_id'"
  shown=$(dialog wine32 "$x86_dir\\idrovan.exe")
  [[ $shown == "id $x86_id" ]] && ok "x86: the installed dialog shows the ID" ||
    fail "x86: the installed dialog shows '$shown'"
  if run_msiexec /x "$x86_msi"; then ok "x86: uninstalled silently"; else fail "x86: msiexec /x exited with $?"; fi
  [[ ! -e $x86_installed ]] || fail "x86: files left after uninstall: $(ls "$x86_installed")"
  ! registered "$(product_code "$x86_msi")" || fail "x86: still registered after uninstall"
  [[ $(marker) == "$x86_marker" ]] || fail "x86: the uninstall changed the marker"
  path_is "x86: uninstalled" "$path_before"
  # The x64 package below meets a machine without a marker, as a new one.
  wine64 reg delete 'HKCR\lrgDocID' /f </dev/null >/dev/null 2>&1 || fail "x86: the marker key could not be deleted"
}

# The machine PATH before any package: each uninstall must leave it exactly so (type kept, no
# stray separator: Wine's cmd stops searching PATH at an empty entry), and each installation
# puts the installation folder in front of it, and nothing else.
path_before=$(path_value)
[[ $path_before == REG_EXPAND_SZ\ ?* ]] || fail "the new prefix's machine PATH is '$path_before'"
path_x64="REG_EXPAND_SZ C:\\Program Files\\Idrovan\\;${path_before#REG_EXPAND_SZ }"

echo "== the x86 MSI under Wine"
if wine_env_runs_32bit; then
  check_x86_package
else
  echo "SKIPPED: the x86 MSI under Wine; Wine here runs no 32-bit programs (scripts/setup.sh installs"
  echo "32-bit Wine only where the kernel runs 32-bit programs). Its tables and signatures are checked above."
fi

echo "== the x64 MSI under Wine"
msi=$dist/idrovan-$version-x64.msi
[[ -z $(marker) ]] || fail "the new prefix has a marker before the installation"
if run_msiexec /i "$msi"; then ok "installed silently"; else fail "msiexec /i exited with $?"; fi
installed_driver ThePackageMadeTheMarker && ok "the installation made the marker: $(marker)" ||
  fail "the installation made no 32-digit REG_SZ marker"
if diff -r "$installed" "$work/zip-x64" >/dev/null; then ok "installed files equal the zip's"; else
  fail "installed files differ from the zip's: $(diff -rq "$installed" "$work/zip-x64" | head -5)"; fi
# Wine puts the per-machine shortcut into the installing user's Start menu; Windows puts it
# into the one of all users. Either way there is one, and it starts the installed program.
lnk=$(shortcuts)
if [[ $(wc -l <<<"$lnk") -eq 1 && -n $lnk ]] &&
    strings "$lnk" | grep -qxF 'C:\Program Files\Idrovan\idrovan.exe'; then
  ok "Start-menu shortcut ${lnk#"$prefix"/} starts idrovan.exe"
else
  fail "no Start-menu shortcut to the installed idrovan.exe: '$lnk'"
fi
path_is "installed" "$path_x64"
code=$(product_code "$msi")
shown_arp="$(arp "$code" DisplayName)|$(arp "$code" Publisher)|$(arp "$code" DisplayVersion)|$(arp "$code" InstallLocation)"
[[ $shown_arp == "Veltrane Idrovan (x64)|Veltrane|$version|"'C:\Program Files\Idrovan\' ]] &&
  ok "Programs and Features: $shown_arp" || fail "Programs and Features shows name|publisher|version|location: $shown_arp"

id=$(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe")
first_marker=$(marker)
expected=$(python3 "$root/tests/e2e/expected_id.py" --serial "$serial" --root-time "$root_time" \
  --marker "${first_marker:-none}")
if [[ $id =~ ^[0-9a-f]{32}$ && $id == "$expected" ]]; then ok "installed idrovan-cli prints the ID $id"; else
  fail "installed idrovan-cli printed '$id', expected '$expected'"; fi
installed_version=$(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --version)
[[ $installed_version == "$version" ]] || fail "the installed program is version '$installed_version', the package $version"
# Found through PATH, from a folder of its own.
from_path=$(cd "$work" && cli cmd /c 'cd /d C:\windows && idrovan-cli.exe')
[[ $from_path == "$id" ]] && ok "idrovan-cli runs from PATH" || fail "idrovan-cli through PATH printed '$from_path'"
zip_id=$(cli "$work/zip-x64/idrovan-cli.exe")
[[ $zip_id == "$id" ]] || fail "the zip's idrovan-cli printed '$zip_id', the installed one '$id'"
shown=$(dialog)
[[ $shown == "id $id" ]] && ok "the installed dialog shows the ID" || fail "the installed dialog shows '$shown'"

# The key grants reading only, as it does a standard user, until the wineserver is restarted.
installed_driver ReadOnlyKeyNoWriteGivesTheDialogsId "${shown#id }" &&
  ok "with the key read-only, the installed idrovan-cli --no-write prints the dialog's ID" ||
  fail "with the key read-only, idrovan-cli --no-write does not print the dialog's ID"
echo "note: with the key read-only the installed dialog shows: $(dialog)"

if run_msiexec /x "$msi"; then ok "uninstalled silently"; else fail "msiexec /x exited with $?"; fi
[[ ! -e $installed ]] || fail "files left after uninstall: $(ls "$installed")"
[[ -z $(shortcuts) ]] || fail "shortcut left after uninstall: $(shortcuts)"
path_is "uninstalled" "$path_before"
[[ -n $first_marker && $(marker) == "$first_marker" ]] && ok "marker kept after uninstall" ||
  fail "marker changed by uninstall: '$first_marker' -> '$(marker)'"

# A marker that the package's run of idrovan-cli cannot use (too long: it exits 6) fails the
# installation, which leaves nothing installed; the marker stays as it was. Windows Installer
# ends with 1603 for a failed custom action; Wine's msi with 1627 (function failed).
# A new wineserver forgets the read-only descriptor.
wineserver -k
wineserver -p
wine64 wineboot </dev/null >/dev/null 2>&1
long_marker=$(printf 'f%.0s' {1..261})
wine64 reg add 'HKCR\lrgDocID' /v Rndund /d "$long_marker" /f /reg:64 </dev/null >/dev/null 2>&1 ||
  fail "could not store a marker of 261 characters"
status=0
run_msiexec /i "$msi" || status=$?
if ((status == refused_status || status == (1627 & 255))) && [[ ! -e $installed ]] &&
    ! registered "$(product_code "$msi")"; then
  ok "a marker the package cannot use fails the installation (status $status), nothing installed"
else
  fail "over an unusable marker: msiexec status $status, registered:" \
    "$(registered "$(product_code "$msi")" && echo yes || echo no), files: $(ls "$installed" 2>/dev/null | tr '\n' ' ')"
fi
[[ $(marker) == "$long_marker" ]] || fail "the failed installation changed the stored marker: '$(marker)'"
wine64 reg add 'HKCR\lrgDocID' /v Rndund /d "$first_marker" /f /reg:64 </dev/null >/dev/null 2>&1 ||
  fail "could not put the first marker back"
if run_msiexec /i "$msi"; then ok "installed again over the marker"; else
  fail "msiexec /i after uninstall exited with $?"; fi
again=$(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --no-write)
[[ $again == "$id" ]] && ok "installed again: the same ID" || fail "installed again: ID '$again', before '$id'"
path_is "installed again" "$path_x64"
from_path=$(cd "$work" && cli cmd /c 'cd /d C:\windows && idrovan-cli.exe --no-write')
[[ $from_path == "$id" ]] && ok "installed again: idrovan-cli runs from PATH" ||
  fail "installed again: idrovan-cli through PATH printed '$from_path'"
[[ $(marker) == "$first_marker" ]] || fail "installing again changed the marker: '$(marker)'"

# An upgrade that fails after the older version's removal and the new files: the newer package
# with an error action (type 19) after InstallFiles and before InstallFinalize, which fails it
# when IDROVAN_TEST_FAIL=1. Windows Installer rolls the whole transaction back, the removal of
# this version included, so this version stays installed. Wine's msi runs RemoveExistingProducts
# as an uninstall of its own, outside its rollback: there the old version is gone as well, and
# the new one's files and registration must be too (nothing half-installed).
failing=$work/failing-$newer_version-x64.msi
cp "$newer" "$failing"
msibuild "$failing" \
  -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('ForcedFailure', 19, '', 'A failure forced by the package test')" \
  -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('ForcedFailure', 'IDROVAN_TEST_FAIL=\"1\"', 6550)" ||
  fail "msibuild could not add the forced failure to a copy of $newer"
sequence "$failing" InstallExecuteSequence | awk '{at[$1] = $2} END {
    exit !(at["RemoveExistingProducts"] < at["InstallFiles"] && at["InstallFiles"] < at["ForcedFailure"] &&
           at["ForcedFailure"] < at["InstallFinalize"])}' ||
  fail "the forced failure does not come after RemoveExistingProducts and InstallFiles"
status=0
run_msiexec /i "$failing" IDROVAN_TEST_FAIL=1 || status=$?
((status == refused_status)) && ok "the upgrade with a forced failure failed (1603)" ||
  fail "the upgrade with a forced failure: msiexec status $status, not $refused_status (1603)"
! registered "$(product_code "$newer")" || fail "the failed upgrade left $newer_version registered"
left_version=$(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --version)
if registered "$(product_code "$msi")" && [[ $left_version == "$version" ]]; then
  ok "the failed upgrade left $version installed, files and registration"
elif ! registered "$(product_code "$msi")" && [[ ! -e $installed ]]; then
  echo "known Wine limit: the failed upgrade removed $version too (Wine's msi does not roll back"
  echo "RemoveExistingProducts); nothing of $newer_version was left. Installing $version again."
  run_msiexec /i "$msi" || fail "installing $version again after the failed upgrade exited with $?"
else
  fail "the failed upgrade left a half-installed product: $version registered:" \
    "$(registered "$(product_code "$msi")" && echo yes || echo no), idrovan-cli says '$left_version'," \
    "files: $(ls "$installed" 2>/dev/null | tr '\n' ' ')"
fi

# A newer version replaces this one (major upgrade), and then this one is refused.
# (The newer package was built above, from the sources with VERSION $newer_version.)
run_msiexec /i "$newer" || fail "installing $newer_version over $version exited with $?"
if registered "$(product_code "$newer")" && ! registered "$(product_code "$msi")"; then
  ok "$newer_version replaced $version"
else
  fail "after installing $newer_version: registered products: $(wine64 reg query "$uninstall_key" 2>/dev/null | tr -d '\r' | grep -F '{')"
fi
[[ $(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --no-write) == "$id" ]] || fail "the ID changed with the upgrade"
path_is "$newer_version over $version" "$path_x64"
upgraded_version=$(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --version)
[[ $upgraded_version == "$newer_version" ]] && ok "the upgraded idrovan-cli says $newer_version" ||
  fail "the upgraded idrovan-cli says '$upgraded_version', the package $newer_version"
status=0
run_msiexec /i "$msi" || status=$?
if ((status == refused_status)); then ok "$version refused over $newer_version (1603)"; else
  fail "$version over $newer_version: msiexec status $status, not $refused_status (1603)"; fi
registered "$(product_code "$newer")" || fail "$newer_version is gone after the refused downgrade"
run_msiexec /x "$newer" || fail "uninstalling $newer_version exited with $?"
[[ ! -e $installed && -z $(shortcuts) ]] || fail "files or shortcut left after uninstalling $newer_version"
path_is "$newer_version uninstalled" "$path_before"
[[ $(marker) == "$first_marker" ]] || fail "marker changed"

echo "== the x86 MSI, then the x64 one over it, under Wine"
# The x86 package's own run of idrovan-cli and the x86 programs are 32-bit programs. The 64-bit
# msiexec installs both packages, as Windows' own does.
if ! wine_env_runs_32bit; then
  echo "SKIPPED: the x86 MSI followed by the x64 one (one product, shortcut, PATH entry and ID)," \
    "and the x86 MSI refused where the x64 one is installed: Wine runs no 32-bit programs here"
else
  x86_msi=$dist/idrovan-$version-x86.msi
  x86_installed=$prefix/drive_c/Program\ Files\ \(x86\)/Idrovan
  cli32() { cli_with wine32 "$@"; }
  # The machine PATH's entries that name an Idrovan folder, without a trailing backslash.
  idrovan_paths() {
    machine_path | sed -n 's/^ *PATH *REG_[A-Z_]* *//p' | tr ';' '\n' | grep -i 'Idrovan' | sed 's/\\$//'
  }
  x86_code=$(product_code "$x86_msi")
  x64_code=$(product_code "$msi")

  if run_msiexec /i "$x86_msi"; then ok "x86 installed silently"; else fail "x86 msiexec /i exited with $?"; fi
  registered "$x86_code" || fail "the x86 product is not registered after its installation"
  x86_id=$(cli32 'C:\Program Files (x86)\Idrovan\idrovan-cli.exe' --no-write)
  [[ $x86_id == "$id" ]] || fail "the installed x86 idrovan-cli printed '$x86_id', the x64 one '$id'"

  if run_msiexec /i "$msi"; then ok "x64 installed over x86"; else fail "x64 msiexec /i over x86 exited with $?"; fi
  if registered "$x64_code" && ! registered "$x86_code"; then ok "one product left: x64"; else
    fail "after x64 over x86: x64 registered: $(registered "$x64_code" && echo yes || echo no)," \
      "x86 registered: $(registered "$x86_code" && echo yes || echo no)"
  fi
  [[ ! -e $x86_installed ]] || fail "x86 files left after x64 replaced it: $(ls "$x86_installed")"
  lnk=$(shortcuts)
  if [[ -n $lnk && $(wc -l <<<"$lnk") -eq 1 ]] &&
      strings "$lnk" | grep -qxF 'C:\Program Files\Idrovan\idrovan.exe'; then
    ok "one Start-menu shortcut, to the x64 dialog"
  else
    fail "Start-menu shortcuts after x64 over x86: '$lnk'"
  fi
  [[ $(idrovan_paths) == 'C:\Program Files\Idrovan' ]] && ok "one PATH entry, the x64 folder" ||
    fail "PATH entries naming Idrovan: $(idrovan_paths | tr '\n' ' ')"
  path_is "x64 over x86" "$path_x64"
  x64_id=$(cli 'C:\Program Files\Idrovan\idrovan-cli.exe' --no-write)
  [[ $x64_id == "$id" ]] && ok "the same ID after x64 replaced x86" || fail "ID '$x64_id' after x64 replaced x86, before '$id'"

  status=0
  run_msiexec /i "$x86_msi" || status=$?
  ((status == refused_status)) && ok "x86 refused where x64 is installed (1603)" ||
    fail "x86 over x64: msiexec status $status, not $refused_status (1603)"
  registered "$x64_code" && ! registered "$x86_code" && [[ -f $installed/idrovan.exe && ! -e $x86_installed ]] ||
    fail "the refused x86 install changed what is installed"
  run_msiexec /x "$msi" || fail "uninstalling x64 exited with $?"
  path_is "x64 uninstalled after replacing x86" "$path_before"
fi

# For a disk image: NOMARKER=1 installs without making the marker; a repair (which runs as
# LocalSystem whenever Windows Installer finds one due) makes none either.
wineserver -k
wineserver -p
wine64 wineboot </dev/null >/dev/null 2>&1
wine64 reg delete 'HKCR\lrgDocID' /f /reg:64 </dev/null >/dev/null 2>&1 || true
[[ -z $(marker) ]] || fail "the marker could not be deleted for the NOMARKER check"
run_msiexec /i "$msi" NOMARKER=1 ||
  fail "msiexec /i NOMARKER=1 exited with $?"
[[ -e $installed/idrovan-cli.exe && -z $(marker) ]] && ok "NOMARKER=1 installed without a marker" ||
  fail "NOMARKER=1: installed '$(ls "$installed" 2>/dev/null | tr '\n' ' ')', marker '$(marker)'"
# The repair that msiexec /fa asks for, in the form that Wine's msiexec carries out (its /f
# exits with 1605 or 1 here without repairing anything).
run_msiexec /i "$msi" REINSTALL=ALL REINSTALLMODE=omus ||
  fail "the repair (REINSTALL=ALL) exited with $?"
[[ -e $installed/idrovan-cli.exe && -z $(marker) ]] && ok "a repair made no marker" ||
  fail "a repair: installed '$(ls "$installed" 2>/dev/null | tr '\n' ' ')', marker '$(marker)'"
run_msiexec /x "$msi" || fail "uninstalling after the NOMARKER check exited with $?"
path_is "uninstalled after the NOMARKER check" "$path_before"

echo
if ((failures)); then
  echo "$failures package check(s) failed"
  exit 1
fi
echo "all package checks passed"
