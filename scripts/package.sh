#!/usr/bin/env bash
# Builds idrovan.exe and idrovan-cli.exe for 64-bit and 32-bit Windows and packages them:
#
#   build/dist/idrovan-<version>-x64.zip   both programs, README.txt, LICENSE.txt
#   build/dist/idrovan-<version>-x86.zip
#   build/dist/idrovan-<version>-x64.msi   per-machine install into Program Files\Idrovan
#   build/dist/idrovan-<version>-x86.msi
#   build/dist/SHA256SUMS                  over the four files (sha256sum -c SHA256SUMS)
#
#   scripts/package.sh [--no-build] [--out <dir>]
#
#   --no-build  package what build/windows and build/windows-x86 hold, without building
#   --out       write the packages there instead of build/dist
#
# The version is the one in the program's version resource (app/idrovan.rc); IDROVAN_VERSION
# names another one (the tests make a "newer" package that way to check upgrades). The zips are
# reproducible: sorted entries, fixed permissions and one timestamp for every entry, the
# time of the last commit (or SOURCE_DATE_EPOCH when set); two runs give the same bytes.
#
# Signing (optional): when IDROVAN_SIGN_CERT names a PEM certificate (chain) and
# IDROVAN_SIGN_KEY its PEM private key, both programs are signed before they are zipped, and
# the MSIs after they are built, with osslsigncode (SHA-256). IDROVAN_SIGN_PASS is the key's
# password, if it has one; IDROVAN_SIGN_TIMESTAMP names an RFC 3161 time-stamping server
# (without it the signatures carry no timestamp and the zips stay reproducible).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=true
dist=$root/build/dist
while (($#)); do
  case $1 in
    --no-build) build=false ;;
    --out) dist=$(realpath -m "${2:?--out needs a folder}"); shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "package.sh: unknown argument: $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

fail() {
  echo "package.sh: $*" >&2
  exit 1
}

# Architecture -> configure/build preset, its build folder, and what objdump -f calls it.
archs=(x64 x86)
declare -A preset=([x64]=windows [x86]=windows-x86)
declare -A pe_format=([x64]=pei-x86-64 [x86]=pei-i386)
# Program -> where CMake puts it, relative to a build folder.
programs=(idrovan.exe idrovan-cli.exe)
declare -A program_path=([idrovan.exe]=app/idrovan.exe [idrovan-cli.exe]=cli/idrovan-cli.exe)
declare -A program_target=([idrovan.exe]=idrovan [idrovan-cli.exe]=idrovan-cli)

version=${IDROVAN_VERSION:-$(sed -n 's/^ *VALUE "ProductVersion", "\([0-9.]*\)".*/\1/p' app/idrovan.rc)}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
  fail "the version must be a.b.c.d (ProductVersion in app/idrovan.rc, or IDROVAN_VERSION): '$version'"

if [[ -n ${SOURCE_DATE_EPOCH:-} ]]; then
  stamp=$SOURCE_DATE_EPOCH
elif ! stamp=$(git log -1 --format=%ct 2>/dev/null); then
  fail "not a git checkout: set SOURCE_DATE_EPOCH to the time the zip entries should carry"
fi

signing=false
if [[ -n ${IDROVAN_SIGN_CERT:-} || -n ${IDROVAN_SIGN_KEY:-} ]]; then
  [[ -f ${IDROVAN_SIGN_CERT:-} ]] || fail "IDROVAN_SIGN_CERT does not name a certificate file"
  [[ -f ${IDROVAN_SIGN_KEY:-} ]] || fail "IDROVAN_SIGN_KEY does not name a key file"
  signing=true
fi

# sign <file>: signs in place. Without a time-stamping server the signing time is the zips'
# fixed time, so that a signed program is the same from run to run as well.
sign() {
  local file=$1 options=(-certs "$IDROVAN_SIGN_CERT" -key "$IDROVAN_SIGN_KEY" -h sha256
                         -n "Veltrane Idrovan")
  [[ -n ${IDROVAN_SIGN_PASS:-} ]] && options+=(-pass "$IDROVAN_SIGN_PASS")
  if [[ -n ${IDROVAN_SIGN_TIMESTAMP:-} ]]; then
    options+=(-ts "$IDROVAN_SIGN_TIMESTAMP")
  else
    options+=(-time "$stamp")
  fi
  rm -f "$file.signed"
  osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >/dev/null ||
    fail "osslsigncode could not sign $file"
  mv "$file.signed" "$file"
}

if $build; then
  scripts/setup.sh
  available=$(cmake --list-presets 2>/dev/null)
  for arch in "${archs[@]}"; do
    grep -q "\"${preset[$arch]}\"" <<<"$available" ||
      fail "CMakePresets.json has no preset ${preset[$arch]} for the $arch programs"
  done
  for arch in "${archs[@]}"; do
    echo "== building the $arch programs (preset ${preset[$arch]})"
    cmake --preset "${preset[$arch]}" >/dev/null
    targets=()
    for program in "${programs[@]}"; do targets+=("${program_target[$program]}"); done
    cmake --build --preset "${preset[$arch]}" -j "$(nproc)" --target "${targets[@]}" ||
      fail "building ${targets[*]} with preset ${preset[$arch]} failed"
  done
fi

command -v wixl >/dev/null || fail "wixl is missing (Debian package wixl; scripts/setup.sh installs it)"
command -v msibuild >/dev/null || fail "msibuild is missing (Debian package msitools)"

stage_root=$root/build/package-stage
rm -rf "$stage_root"
mkdir -p "$dist"
# A run that fails half-way must not leave checksums that seem to vouch for what it left.
rm -f "$dist/SHA256SUMS"
packages=()
for arch in "${archs[@]}"; do
  folder=$root/build/${preset[$arch]}
  stage=$stage_root/$arch
  # wixl looks sources up relative to the current folder only.
  stage_relative=${stage#"$root"/}
  mkdir -p "$stage"
  for program in "${programs[@]}"; do
    built=$folder/${program_path[$program]}
    [[ -f $built ]] || fail "$built is missing: build it with preset ${preset[$arch]} (target ${program_target[$program]})"
    format=$(objdump -f "$built" | sed -n 's/.*file format \(.*\)$/\1/p')
    [[ $format == "${pe_format[$arch]}" ]] ||
      fail "$built is $format, not ${pe_format[$arch]} as a $arch program must be"
    cp "$built" "$stage/$program"
    if $signing; then sign "$stage/$program"; fi
  done
  # Plain text for Windows: CRLF line ends, so that every Notepad shows the lines.
  sed 's/\r*$/\r/' packaging/README.txt >"$stage/README.txt"
  sed 's/\r*$/\r/' LICENSE >"$stage/LICENSE.txt"

  zip=idrovan-$version-$arch.zip
  python3 packaging/make_zip.py "$dist/$zip" "$stamp" "$stage"/*
  packages+=("$zip")

  msi=idrovan-$version-$arch.msi
  wxs_defines=(-D "Arch=$arch" -D "Version=$version" -D "Stage=$stage_relative" -D IconFile=app/idrovan.ico)
  upgrade_code=$(wixl -E "${wxs_defines[@]}" -D ProductCode=none packaging/idrovan.wxs |
                 sed -n 's/.*UpgradeCode="\([0-9A-Fa-f-]*\)".*/\1/p')
  [[ -n $upgrade_code ]] || fail "packaging/idrovan.wxs names no UpgradeCode for $arch"
  # One ProductCode per version and architecture: a rebuild of the same version keeps it,
  # and a newer version has another one, which is what a major upgrade needs.
  product_code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
                 "$upgrade_code" "$version")
  rm -f "$dist/$msi"
  wixl -a "$arch" "${wxs_defines[@]}" -D "ProductCode=$product_code" -o "$dist/$msi" packaging/idrovan.wxs ||
    fail "wixl could not build $msi"
  # Three things wixl 0.101 cannot say in its source. The Start-menu shortcut points at the
  # program itself (wixl makes every shortcut advertised, which would tie its start to the
  # installer's feature check); the installation folder is appended to the machine's PATH
  # and taken out again on uninstall, with Windows Installer's own Environment table; and
  # NOMARKER joins the secure public properties (wixl ignores Property/@Secure).
  secure=$(msiinfo export "$dist/$msi" Property | tr -d '\r' |
           awk -F'\t' '$1 == "SecureCustomProperties" {print $2}')
  if [[ -n $secure ]]; then
    secure_query="UPDATE \`Property\` SET \`Value\` = '$secure;NOMARKER' WHERE \`Property\` = 'SecureCustomProperties'"
  else
    secure_query="INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SecureCustomProperties', 'NOMARKER')"
  fi
  msibuild "$dist/$msi" \
    -q "$secure_query" \
    -q "UPDATE \`Shortcut\` SET \`Target\` = '[#idrovan.exe]' WHERE \`Shortcut\` = 'StartMenuIdrovan'" \
    -q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Environment\`)" \
    -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('SystemPath', '=-*PATH', '[~];[INSTALLDIR]', 'Console')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)" ||
    fail "msibuild could not finish $msi"
  if $signing; then sign "$dist/$msi"; fi
  packages+=("$msi")
done

(cd "$dist" && sha256sum "${packages[@]}" >SHA256SUMS)
echo "== packages in $dist"
(cd "$dist" && ls -l "${packages[@]}" SHA256SUMS)
