#!/usr/bin/env bash
# The release packages end to end. Runs scripts/package.sh (building both architectures unless
# --no-build), then checks what a user or an administrator gets:
#   - the zips, the MSIs and SHA256SUMS exist and the sums verify;
#   - each zip holds exactly both programs (of its architecture: GUI and console subsystem),
#     README.txt and LICENSE.txt with Windows line ends; a second run gives identical zips;
#   - each MSI carries the version, its architecture's fixed UpgradeCode, a per-machine install
#     into its Program Files folder, no registry entry of any kind, and runs the installed
#     idrovan-cli.exe once, deferred and without impersonation, ignoring its exit code;
#   - signing with a throw-away self-signed certificate gives programs and MSIs whose
#     signatures osslsigncode verifies against that certificate;
#   - under Wine (64-bit only: this machine cannot run 32-bit Wine), in a prefix of its own with
#     machine facts of the test's choosing: the x64 MSI installs silently; the installation
#     made the marker (a REG_SZ of 32 digits); the installed files equal the zip's; the
#     Start-menu shortcut and the PATH entry exist; the installed console program prints the ID
#     that tests/e2e/expected_id.py derives, as does the zip's, and the package's version; the
#     installed dialog shows it; with the marker key made read-only, as a standard user sees it,
#     `idrovan-cli --no-write` still prints it; a silent uninstall removes files, shortcut and
#     PATH entry and keeps the marker; installing again, with the key still read-only so that
#     the package's run of idrovan-cli fails, succeeds and gives the same ID; a newer version
#     replaces it, and the older one is then refused; NOMARKER=1 installs without making the
#     marker, and a repair without it makes one.
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

version=$(sed -n 's/^ *VALUE "ProductVersion", "\([0-9.]*\)".*/\1/p' "$root/app/idrovan.rc")
newer_version=2.1.32.0
declare -A upgrade_code=([x64]=AE1FBC0D-75FE-4AA8-B0FC-5AFDC95A3F9F [x86]=CB65BCE9-A1BC-4182-8347-F4A9A9CEE83A)
declare -A pe_format=([x64]=pei-x86-64 [x86]=pei-i386)
declare -A program_files=([x64]=ProgramFiles64Folder [x86]=ProgramFilesFolder)
declare -A template=([x64]='x64;1033' [x86]='Intel;1033')
declare -A subsystem=([idrovan.exe]='Windows GUI' [idrovan-cli.exe]='Windows CUI')
contents='LICENSE.txt README.txt idrovan-cli.exe idrovan.exe'

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

rm -rf "$work"
mkdir -p "$work"
dist=$work/dist
"$root/scripts/package.sh" "${build_option[@]}" --out "$dist"

echo "== the packages and their checksums"
names=()
for arch in x64 x86; do names+=("idrovan-$version-$arch.zip" "idrovan-$version-$arch.msi"); done
for name in "${names[@]}" SHA256SUMS; do
  [[ -s $dist/$name ]] || fail "$name is missing or empty"
done
listed=$(awk '{print $2}' "$dist/SHA256SUMS" | sort | tr '\n' ' ')
[[ $listed == "$(printf '%s\n' "${names[@]}" | sort | tr '\n' ' ')" ]] ||
  fail "SHA256SUMS lists: $listed"
if (cd "$dist" && sha256sum --quiet -c SHA256SUMS); then ok "SHA256SUMS verifies"; else fail "SHA256SUMS does not verify"; fi

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
  check_text "$unpacked/README.txt" "$root/packaging/README.txt"
  check_text "$unpacked/LICENSE.txt" "$root/LICENSE"
done
ok "zip contents checked"

"$root/scripts/package.sh" --no-build --out "$work/again" >/dev/null
for arch in x64 x86; do
  zip=idrovan-$version-$arch.zip
  if cmp -s "$dist/$zip" "$work/again/$zip"; then ok "$zip is the same after a second run"; else fail "$zip differs after a second run"; fi
done

echo "== the MSIs"
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p {print $2}'; }
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
  # It runs the installed idrovan-cli.exe, which makes the marker: 3154 = an exe from the File
  # table (18) + exit code ignored (0x40) + deferred (0x400) + without impersonation (0x800);
  # once the files are in place, and not when uninstalling.
  msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' '$1 == "idrovan_cli.exe" {print $3}' |
    grep -qxF idrovan-cli.exe || fail "$arch MSI: the file key idrovan_cli.exe is not idrovan-cli.exe"
  msiinfo export "$msi" CustomAction | tr -d '\r' | grep -qxF $'MakeMarker\t3154\tidrovan_cli.exe\t\t' ||
    fail "$arch MSI: no custom action MakeMarker running idrovan-cli.exe: $(msiinfo export "$msi" CustomAction | tail -n +4)"
  msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | awk -F'\t' '
    {at[$1] = $3; condition[$1] = $2}
    END {exit !(condition["MakeMarker"] == "NOT REMOVE~=\"ALL\" AND NOMARKER<>\"1\"" &&
                at["InstallFiles"] < at["MakeMarker"] && at["MakeMarker"] < at["InstallFinalize"])}' ||
    fail "$arch MSI: MakeMarker is not between InstallFiles and InstallFinalize, for install only, unless NOMARKER=1"
  # NOMARKER=1 must reach the server side of a managed installation.
  tr ';' '\n' <<<"$(property "$msi" SecureCustomProperties)" | grep -qxF NOMARKER ||
    fail "$arch MSI: NOMARKER is not in SecureCustomProperties: $(property "$msi" SecureCustomProperties)"
done
ok "MSI tables checked"

echo "== signing with a throw-away certificate"
signing=$work/signing
mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Idrovan test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
IDROVAN_SIGN_CERT=$signing/cert.pem IDROVAN_SIGN_KEY=$signing/key.pem \
  "$root/scripts/package.sh" --no-build --out "$signing/dist" >/dev/null
rm -f "$signing/key.pem"
verify() { osslsigncode verify -CAfile "$signing/cert.pem" -in "$1" 2>&1 | grep -q '^Signature verification: ok'; }
for arch in x64 x86; do
  unzip -q "$signing/dist/idrovan-$version-$arch.zip" -d "$signing/zip-$arch"
  for file in "$signing/zip-$arch/idrovan.exe" "$signing/zip-$arch/idrovan-cli.exe" \
      "$signing/dist/idrovan-$version-$arch.msi"; do
    verify "$file" || fail "no valid signature on the signed ${file#"$signing"/}"
  done
done
# The same check refuses what was not signed.
! verify "$work/zip-x64/idrovan.exe" || fail "the unsigned program passes the signature check"
(cd "$signing/dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of the signed packages does not verify"
ok "signatures checked"

echo "== the x64 MSI under Wine"
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
wine wineboot </dev/null >/dev/null 2>&1

installed=$prefix/drive_c/Program\ Files/Idrovan
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

msiexec() { wine msiexec "$1" "$(winepath -w "$2")" /qn </dev/null >/dev/null 2>&1; }
# Under Wine the root folder's creation time is drive_c's modification time, which installing
# may move; the test keeps the fact it chose.
# Prints what the program printed; a failing or hanging program leaves its output short.
cli() {
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  timeout 120 wine "$@" </dev/null 2>/dev/null | tr -d '\r' || true
}
marker() { wine reg query 'HKCR\lrgDocID' /v Rndund 2>/dev/null | tr -d '\r' | awk '$1 == "Rndund" {print $3}'; }
machine_path() { wine reg query "$environment_key" /v PATH 2>/dev/null | tr -d '\r'; }
shortcuts() { find "$prefix/drive_c" -path '*/Start Menu/Programs/*' -name 'Idrovan.lnk'; }
registered() { wine reg query "$uninstall_key\\$1" >/dev/null 2>&1; }
product_code() { property "$1" ProductCode; }

# The driver's suite CliInstalled, against the installed console program.
installed_driver() {
  IDROVAN_CLI_EXE='C:\Program Files\Idrovan\idrovan-cli.exe' IDROVAN_EXPECTED_ID=${2:-} \
    timeout 300 wine "$driver" --gtest_filter="CliInstalled.$1" </dev/null >"$work/driver.log" 2>&1 ||
    { tr -d '\r' <"$work/driver.log" | awk '/: Failure$/ {p = 1} /^\[/ {p = 0} p' | head -20; return 1; }
}
# Starts the installed dialog and prints what the probe reads off it: "id <ID>" or
# "error <first line of the error box>"; then closes it.
dialog() {
  local app report
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  wine 'C:\Program Files\Idrovan\idrovan.exe' </dev/null >/dev/null 2>&1 &
  app=$!
  report=$(timeout 120 wine "$probe" show </dev/null 2>/dev/null | tr -d '\r' | grep -E '^(id|error) ' || true)
  timeout 60 wine "$probe" close </dev/null >/dev/null 2>&1 || kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  echo "$report"
}

msi=$dist/idrovan-$version-x64.msi
[[ -z $(marker) ]] || fail "the new prefix has a marker before the installation"
if msiexec /i "$msi"; then ok "installed silently"; else fail "msiexec /i exited with $?"; fi
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
machine_path | grep -qF 'C:\Program Files\Idrovan' && ok "PATH names the installation folder" ||
  fail "PATH does not name the installation folder"

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

# From here on the key grants reading only, as it does a standard user, until the end: the
# package's own run of idrovan-cli then fails (exit 3) on every install.
installed_driver ReadOnlyKeyNoWriteGivesTheDialogsId "${shown#id }" &&
  ok "with the key read-only, the installed idrovan-cli --no-write prints the dialog's ID" ||
  fail "with the key read-only, idrovan-cli --no-write does not print the dialog's ID"
echo "note: with the key read-only the installed dialog shows: $(dialog)"

if msiexec /x "$msi"; then ok "uninstalled silently"; else fail "msiexec /x exited with $?"; fi
[[ ! -e $installed ]] || fail "files left after uninstall: $(ls "$installed")"
[[ -z $(shortcuts) ]] || fail "shortcut left after uninstall: $(shortcuts)"
! machine_path | grep -qF 'C:\Program Files\Idrovan' || fail "PATH still names the installation folder"
[[ -n $first_marker && $(marker) == "$first_marker" ]] && ok "marker kept after uninstall" ||
  fail "marker changed by uninstall: '$first_marker' -> '$(marker)'"

if msiexec /i "$msi"; then ok "installed again although the package's run of idrovan-cli failed"; else
  fail "msiexec /i after uninstall, with the key read-only, exited with $?"; fi
again=$(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --no-write)
[[ $again == "$id" ]] && ok "installed again: the same ID" || fail "installed again: ID '$again', before '$id'"

# A newer version replaces this one (major upgrade), and then this one is refused.
IDROVAN_VERSION=$newer_version "$root/scripts/package.sh" --no-build --out "$work/newer" >/dev/null
newer=$work/newer/idrovan-$newer_version-x64.msi
msiexec /i "$newer" || fail "installing $newer_version over $version exited with $?"
if registered "$(product_code "$newer")" && ! registered "$(product_code "$msi")"; then
  ok "$newer_version replaced $version"
else
  fail "after installing $newer_version: registered products: $(wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r' | grep -F '{')"
fi
[[ $(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --no-write) == "$id" ]] || fail "the ID changed with the upgrade"
if msiexec /i "$msi"; then fail "$version installed over $newer_version"; else ok "$version refused over $newer_version"; fi
registered "$(product_code "$newer")" || fail "$newer_version is gone after the refused downgrade"
msiexec /x "$newer" || fail "uninstalling $newer_version exited with $?"
[[ ! -e $installed && -z $(shortcuts) ]] || fail "files or shortcut left after uninstalling $newer_version"
[[ $(marker) == "$first_marker" ]] || fail "marker changed"

# For a disk image: NOMARKER=1 installs without making the marker, and is not remembered: a
# repair makes it. A new wineserver forgets the read-only descriptor; the marker goes first.
wineserver -k
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1
wine reg delete 'HKCR\lrgDocID' /f /reg:64 </dev/null >/dev/null 2>&1 || true
[[ -z $(marker) ]] || fail "the marker could not be deleted for the NOMARKER check"
wine msiexec /i "$(winepath -w "$msi")" /qn NOMARKER=1 </dev/null >/dev/null 2>&1 ||
  fail "msiexec /i NOMARKER=1 exited with $?"
[[ -e $installed/idrovan-cli.exe && -z $(marker) ]] && ok "NOMARKER=1 installed without a marker" ||
  fail "NOMARKER=1: installed '$(ls "$installed" 2>/dev/null | tr '\n' ' ')', marker '$(marker)'"
# The repair that msiexec /fa asks for, in the form that Wine's msiexec carries out (its /f
# exits with 1605 or 1 here without repairing anything).
wine msiexec /i "$(winepath -w "$msi")" REINSTALL=ALL REINSTALLMODE=omus /qn </dev/null >/dev/null 2>&1 ||
  fail "the repair (REINSTALL=ALL) exited with $?"
[[ $(marker) =~ ^[0-9a-f]{32}$ ]] && ok "a repair without NOMARKER made the marker: $(marker)" ||
  fail "a repair without NOMARKER made no 32-digit marker: '$(marker)'"
msiexec /x "$msi" || fail "uninstalling after the NOMARKER check exited with $?"

echo
if ((failures)); then
  echo "$failures package check(s) failed"
  exit 1
fi
echo "all package checks passed"
