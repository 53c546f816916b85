#!/usr/bin/env bash
# The release packages end to end. Runs scripts/package.sh (building both architectures unless
# --no-build), then checks what a user or an administrator gets:
#   - the zips, the MSIs and SHA256SUMS exist and the sums verify;
#   - each zip holds exactly both programs (of its architecture: GUI and console subsystem),
#     README.txt and LICENSE.txt with Windows line ends; a second run gives identical zips;
#   - each MSI carries the version, its architecture's fixed UpgradeCode, a per-machine install
#     into its Program Files folder, no registry entry of any kind, and runs the installed
#     idrovan-cli.exe once, deferred and without impersonation, ignoring its exit code;
#   - one version everywhere: the file VERSION's is in the package names, both programs' version
#     resources, the MSIs' ProductVersion and their File tables (whose programs have no hash
#     rows); package.sh refuses another IDROVAN_VERSION, a fourth part that is not 0, and
#     programs built for another version; a package built from the sources with another VERSION
#     carries that one throughout;
#   - one Idrovan per machine, in the tables: the x64 MSI removes any x86 Idrovan before it
#     installs a file, the x86 MSI has a launch condition that refuses where the x64 one is; the
#     product names say the architecture; Programs and Features gets the icon, the install
#     location and the publisher, and no web address;
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
#     replaces it, and the older one is then refused (1603); Programs and Features shows the
#     product's name, publisher, version and install location;
#   - under Wine where 32-bit programs run (SKIPPED elsewhere): the x86 MSI, then the x64 one
#     over it, leaves one product, one shortcut (to the x64 dialog), one PATH entry and the
#     same ID; the x86 MSI is then refused (1603) and the x64 product stays.
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
newer_version=2.1.32.0
declare -A upgrade_code=([x64]=AE1FBC0D-75FE-4AA8-B0FC-5AFDC95A3F9F [x86]=CB65BCE9-A1BC-4182-8347-F4A9A9CEE83A)
declare -A pe_format=([x64]=pei-x86-64 [x86]=pei-i386)
declare -A program_files=([x64]=ProgramFiles64Folder [x86]=ProgramFilesFolder)
declare -A template=([x64]='x64;1033' [x86]='Intel;1033')
declare -A subsystem=([idrovan.exe]='Windows GUI' [idrovan-cli.exe]='Windows CUI')
contents='LICENSE.txt README.txt idrovan-cli.exe idrovan.exe'

# Builtins (msiexec, reg, cmd, winepath, wineboot) go through a named loader: a bare `wine`
# starts the 32-bit ones where 32-bit Wine is installed, and those see the 32-bit registry
# view. The 64-bit loader is not on PATH; the 32-bit one only where 32-bit programs run.
wine64_loader=$(dpkg -L wine64 2>/dev/null | grep -E '/wine64$' | head -n 1)
wine32_loader=/usr/lib/wine/wine
wine64_cmd() { "$wine64_loader" "$@"; }
wine32_cmd() { "$wine32_loader" "$@"; }

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
    END {exit !(condition["MakeMarker"] == "NOT REMOVE~=\"ALL\"" &&
                at["InstallFiles"] < at["MakeMarker"] && at["MakeMarker"] < at["InstallFinalize"])}' ||
    fail "$arch MSI: MakeMarker is not between InstallFiles and InstallFinalize, for install only"
done
ok "MSI tables checked"

echo "== one version everywhere"
# rows <msi> <table>: the table's rows, tab-separated, without its three header lines.
rows() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
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
  if [[ $arch == x64 ]]; then
    # Removes it (not only detects it), and before any file or shortcut of its own goes in.
    ((!(attributes & 2))) || fail "x64 MSI: only detects the x86 Idrovan instead of removing it"
    before "$execute" RemoveExistingProducts InstallInitialize ||
      fail "x64 MSI: RemoveExistingProducts does not run before InstallInitialize"
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
  setter=$(rows "$msi" CustomAction | awk -F'\t' '$3 == "ARPINSTALLLOCATION" && $4 == "[INSTALLDIR]" && $2 % 64 == 51 {print $1}')
  [[ -n $setter ]] && before "$execute" CostFinalize "$setter" && before "$execute" "$setter" RegisterProduct ||
    fail "$arch MSI: ARPINSTALLLOCATION is not set to INSTALLDIR between CostFinalize and RegisterProduct"
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
echo 2.1.31.1 >"$source_copy/VERSION"
refused "a fourth part that is not 0" "the fourth part must be 0" \
  "$source_copy/scripts/package.sh" --no-build --out "$work/refused"
# The newer version, built from its own VERSION: the x64 package for the upgrade under Wine.
echo "$newer_version" >"$source_copy/VERSION"
"$source_copy/scripts/package.sh" --arch x64 --out "$work/newer" >"$work/newer.log" 2>&1 ||
  { tail -20 "$work/newer.log"; fail "package.sh could not make a $newer_version package"; }
newer=$work/newer/idrovan-$newer_version-x64.msi
unzip -q "$work/newer/idrovan-$newer_version-x64.zip" -d "$work/zip-newer"
failures_before=$failures
check_versions "$newer_version x64" "$newer_version" "$newer" "$work/zip-newer"
((failures > failures_before)) || ok "a package built with VERSION $newer_version carries it throughout"
echo 2.1.33.0 >"$source_copy/VERSION"
refused "programs built for another version (--no-build)" "is version $newer_version" \
  "$source_copy/scripts/package.sh" --no-build --arch x64 --out "$work/refused"

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
wine64_cmd wineboot </dev/null >/dev/null 2>&1

installed=$prefix/drive_c/Program\ Files/Idrovan
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# msiexec <option> <package>: its status is the low byte of msiexec's exit code (Wine hands
# Unix no more), so 1603 arrives as 67.
msiexec() { wine64_cmd msiexec "$1" "$(wine64_cmd winepath -w "$2")" /qn </dev/null >/dev/null 2>&1; }
refused_status=$((1603 & 255))
# Under Wine the root folder's creation time is drive_c's modification time, which installing
# may move; the test keeps the fact it chose.
# Prints what the program printed; a failing or hanging program leaves its output short.
run_with() {
  local loader=$1
  shift
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  timeout 120 "$loader" "$@" </dev/null 2>/dev/null | tr -d '\r' || true
}
cli() { run_with "$wine64_loader" "$@"; }
marker() { wine64_cmd reg query 'HKCR\lrgDocID' /v Rndund 2>/dev/null | tr -d '\r' | awk '$1 == "Rndund" {print $3}'; }
machine_path() { wine64_cmd reg query "$environment_key" /v PATH 2>/dev/null | tr -d '\r'; }
shortcuts() { find "$prefix/drive_c" -path '*/Start Menu/Programs/*' -name 'Idrovan.lnk'; }
# Registered in either registry view: Wine files a 32-bit package's entry in the 32-bit one.
registered() {
  wine64_cmd reg query "$uninstall_key\\$1" /reg:64 >/dev/null 2>&1 ||
    wine64_cmd reg query "$uninstall_key\\$1" /reg:32 >/dev/null 2>&1
}
# arp <product code> <value>: what Programs and Features shows, from the product's entry.
arp() {
  wine64_cmd reg query "$uninstall_key\\$1" /v "$2" /reg:64 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
product_code() { property "$1" ProductCode; }

# The driver's suite CliInstalled, against the installed console program.
installed_driver() {
  IDROVAN_CLI_EXE='C:\Program Files\Idrovan\idrovan-cli.exe' IDROVAN_EXPECTED_ID=${2:-} \
    timeout 300 "$wine64_loader" "$driver" --gtest_filter="CliInstalled.$1" </dev/null >"$work/driver.log" 2>&1 ||
    { tr -d '\r' <"$work/driver.log" | awk '/: Failure$/ {p = 1} /^\[/ {p = 0} p' | head -20; return 1; }
}
# Starts the installed dialog and prints what the probe reads off it: "id <ID>" or
# "error <first line of the error box>"; then closes it.
dialog() {
  local app report
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  "$wine64_loader" 'C:\Program Files\Idrovan\idrovan.exe' </dev/null >/dev/null 2>&1 &
  app=$!
  report=$(timeout 120 "$wine64_loader" "$probe" show </dev/null 2>/dev/null | tr -d '\r' | grep -E '^(id|error) ' || true)
  timeout 60 "$wine64_loader" "$probe" close </dev/null >/dev/null 2>&1 || kill "$app" 2>/dev/null || true
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
# (The newer package was built above, from the sources with VERSION $newer_version.)
msiexec /i "$newer" || fail "installing $newer_version over $version exited with $?"
if registered "$(product_code "$newer")" && ! registered "$(product_code "$msi")"; then
  ok "$newer_version replaced $version"
else
  fail "after installing $newer_version: registered products: $(wine64_cmd reg query "$uninstall_key" 2>/dev/null | tr -d '\r' | grep -F '{')"
fi
[[ $(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --no-write) == "$id" ]] || fail "the ID changed with the upgrade"
upgraded_version=$(cli "C:\\Program Files\\Idrovan\\idrovan-cli.exe" --version)
[[ $upgraded_version == "$newer_version" ]] && ok "the upgraded idrovan-cli says $newer_version" ||
  fail "the upgraded idrovan-cli says '$upgraded_version', the package $newer_version"
status=0
msiexec /i "$msi" || status=$?
if ((status == refused_status)); then ok "$version refused over $newer_version (1603)"; else
  fail "$version over $newer_version: msiexec status $status, not $refused_status (1603)"; fi
registered "$(product_code "$newer")" || fail "$newer_version is gone after the refused downgrade"
msiexec /x "$newer" || fail "uninstalling $newer_version exited with $?"
[[ ! -e $installed && -z $(shortcuts) ]] || fail "files or shortcut left after uninstalling $newer_version"
[[ $(marker) == "$first_marker" ]] || fail "marker changed"

echo "== the x86 MSI, then the x64 one over it, under Wine"
# The x86 package's own run of idrovan-cli and the x86 programs are 32-bit programs.
if ! wine_env_runs_32bit; then
  echo "SKIPPED: the x86 MSI followed by the x64 one (one product, shortcut, PATH entry and ID)," \
    "and the x86 MSI refused where the x64 one is installed: Wine runs no 32-bit programs here"
else
  x86_msi=$dist/idrovan-$version-x86.msi
  x86_installed=$prefix/drive_c/Program\ Files\ \(x86\)/Idrovan
  msiexec32() { wine32_cmd msiexec "$1" "$(wine64_cmd winepath -w "$2")" /qn </dev/null >/dev/null 2>&1; }
  cli32() { run_with "$wine32_loader" "$@"; }
  # The machine PATH's entries that name an Idrovan folder, without a trailing backslash.
  idrovan_paths() {
    machine_path | sed -n 's/^ *PATH *REG_[A-Z_]* *//p' | tr ';' '\n' | grep -i 'Idrovan' | sed 's/\\$//'
  }
  x86_code=$(product_code "$x86_msi")
  x64_code=$(product_code "$msi")

  if msiexec32 /i "$x86_msi"; then ok "x86 installed silently"; else fail "x86 msiexec /i exited with $?"; fi
  registered "$x86_code" || fail "the x86 product is not registered after its installation"
  x86_id=$(cli32 'C:\Program Files (x86)\Idrovan\idrovan-cli.exe' --no-write)
  [[ $x86_id == "$id" ]] || fail "the installed x86 idrovan-cli printed '$x86_id', the x64 one '$id'"

  if msiexec /i "$msi"; then ok "x64 installed over x86"; else fail "x64 msiexec /i over x86 exited with $?"; fi
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
  x64_id=$(cli 'C:\Program Files\Idrovan\idrovan-cli.exe' --no-write)
  [[ $x64_id == "$id" ]] && ok "the same ID after x64 replaced x86" || fail "ID '$x64_id' after x64 replaced x86, before '$id'"

  status=0
  msiexec32 /i "$x86_msi" || status=$?
  ((status == refused_status)) && ok "x86 refused where x64 is installed (1603)" ||
    fail "x86 over x64: msiexec status $status, not $refused_status (1603)"
  registered "$x64_code" && ! registered "$x86_code" && [[ -f $installed/idrovan.exe && ! -e $x86_installed ]] ||
    fail "the refused x86 install changed what is installed"
  msiexec /x "$msi" || fail "uninstalling x64 exited with $?"
fi

echo
if ((failures)); then
  echo "$failures package check(s) failed"
  exit 1
fi
echo "all package checks passed"
