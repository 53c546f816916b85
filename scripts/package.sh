#!/usr/bin/env bash
# Builds idrovan.exe and idrovan-cli.exe for 64-bit and 32-bit Windows and packages them:
#
#   build/dist/idrovan-<version>-x64.zip       both programs, README.txt, LICENSE.txt,
#   build/dist/idrovan-<version>-x86.zip       THIRD-PARTY-NOTICES.txt
#   build/dist/idrovan-<version>-x64.msi       per-machine install into Program Files\Idrovan
#   build/dist/idrovan-<version>-x86.msi
#   build/dist/idrovan-sdk-<version>-x64.zip   idrovan.dll with its header, import libraries,
#   build/dist/idrovan-sdk-<version>-x86.zip   CMake package and pkg-config file (packaging/sdk.sh)
#   build/dist/idrovan-<version>-x64.cdx.json  software bill of materials (CycloneDX JSON)
#   build/dist/idrovan-<version>-x86.cdx.json
#   build/dist/SHA256SUMS                      over the other files (sha256sum -c SHA256SUMS)
#   build/dist/manifests/                      winget and Scoop manifests (below)
#
#   scripts/package.sh [--no-build] [--out <dir>] [--arch x64|x86]
#
#   --no-build  package what build/windows and build/windows-x86 hold, without building
#   --out       write the packages there instead of build/dist
#   --arch      build and package only this architecture
#
# The version is the file VERSION's, which the build puts into the programs as well; the
# programs are checked to carry it. IDROVAN_VERSION, when set, must name the same version: a
# package of another version than its programs is refused, not made. A version whose fourth part
# is not 0 is refused too (Windows Installer ignores that part: such a package would install
# beside the one it should replace). The zips and the bills of materials are reproducible:
# sorted entries, fixed permissions and one timestamp for every entry, the time of the last
# commit (or SOURCE_DATE_EPOCH when set); two runs give the same bytes. The MSIs are not:
# each carries a random package code and the time it was built.
#
# What the programs contain of others' code (the toolchain's static runtime) is read from the
# linker maps the build writes beside them: THIRD-PARTY-NOTICES.txt and the bill of materials
# (packaging/third_party.py).
#
# Signing (optional): when IDROVAN_SIGN_CERT names a PEM certificate (chain) and
# IDROVAN_SIGN_KEY its private key, both programs are signed before they are zipped, and the
# MSIs after they are built, with osslsigncode (SHA-256). The key is a PEM file, or a pkcs11:
# URI of a key on a hardware token (or any PKCS#11 token): then IDROVAN_SIGN_PKCS11_MODULE
# names the token's PKCS#11 module, and IDROVAN_SIGN_PKCS11_ENGINE may name OpenSSL's PKCS#11
# engine (Debian's libengine-pkcs11-openssl; osslsigncode finds it without). IDROVAN_SIGN_PASS
# is the key file's password or the token's PIN, if needed; osslsigncode reads it from a file
# that only the user running this script can read (-readpass), never from its command line.
# IDROVAN_SIGN_TIMESTAMP names an RFC 3161 time-stamping server (or several, separated by
# spaces, tried in turn). Signing without one is refused, because such signatures stop
# verifying when the certificate expires, unless IDROVAN_SIGN_TEST_BUILD=1 says the build is
# for testing; its zips stay reproducible. Any IDROVAN_SIGN_ setting without both
# IDROVAN_SIGN_CERT and IDROVAN_SIGN_KEY, or one this script does not know, is refused as
# well: a build meant to be signed must not come out unsigned.
#
# Manifests: when IDROVAN_RELEASE_URL names the https address under which the release's files
# will lie, the winget and Scoop manifests of both architectures' packages are written into
# manifests/ beside them (packaging/make_manifests.py, which also needs IDROVAN_HOMEPAGE and
# IDROVAN_CHANNEL_URL and reads IDROVAN_PUBLISHER_URL, IDROVAN_LICENSE_URL and
# IDROVAN_RELEASE_NOTES_URL; winget's ReleaseDate is the day of the zips' time stamp); a missing
# setting or an address that is not https fails the run. Without the setting, or with --arch, the packages are made without manifests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=true
dist=$root/build/dist
archs=(x64 x86)
while (($#)); do
  case $1 in
    --no-build) build=false ;;
    --out) dist=$(realpath -m "${2:?--out needs a folder}"); shift ;;
    --arch)
      [[ ${2:-} == x64 || ${2:-} == x86 ]] || { echo "package.sh: --arch takes x64 or x86" >&2; exit 2; }
      archs=("$2"); shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "package.sh: unknown argument: $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

fail() {
  echo "package.sh: $*" >&2
  exit 1
}
source packaging/sdk.sh

# Architecture -> configure/build preset, its build folder, and what objdump -f calls it.
declare -A preset=([x64]=windows [x86]=windows-x86)
declare -A pe_format=([x64]=pei-x86-64 [x86]=pei-i386)
# Program -> where CMake puts it, relative to a build folder.
programs=(idrovan.exe idrovan-cli.exe)
declare -A program_path=([idrovan.exe]=app/idrovan.exe [idrovan-cli.exe]=cli/idrovan-cli.exe)
declare -A program_target=([idrovan.exe]=idrovan [idrovan-cli.exe]=idrovan-cli)
# Program -> its File key in packaging/idrovan.wxs.
declare -A msi_file_key=([idrovan.exe]=idrovan.exe [idrovan-cli.exe]=idrovan_cli.exe)

# The release's version: the file VERSION, checked for what a package's version must be.
release_version() {
  local version
  version=$(tr -d ' \t\r\n' <VERSION) || fail "VERSION is missing"
  [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] ||
    fail "VERSION must hold a.b.c.d: '$version'"
  # What Windows Installer's ProductVersion can hold: 255.255.65535.
  ((10#${BASH_REMATCH[1]} <= 255 && 10#${BASH_REMATCH[2]} <= 255 && 10#${BASH_REMATCH[3]} <= 65535)) ||
    fail "version $version: an installer's version goes up to 255.255.65535"
  ((10#${BASH_REMATCH[4]} == 0)) ||
    fail "version $version: the fourth part must be 0; Windows Installer compares only the first three, so this package would install beside ${version%.*}.0 instead of replacing it (raise one of the first three parts)"
  [[ -z ${IDROVAN_VERSION:-} || $IDROVAN_VERSION == "$version" ]] ||
    fail "IDROVAN_VERSION is $IDROVAN_VERSION but the sources are $version: the version comes from the file VERSION (change it there, and build)"
  echo "$version"
}
version=$(release_version)

if [[ -n ${SOURCE_DATE_EPOCH:-} ]]; then
  stamp=$SOURCE_DATE_EPOCH
elif ! stamp=$(git log -1 --format=%ct 2>/dev/null); then
  fail "not a git checkout: set SOURCE_DATE_EPOCH to the time the zip entries should carry"
fi

signing=false
# Every IDROVAN_SIGN_ setting that is given, checked before anything is built.
sign_settings=(CERT KEY PASS PKCS11_MODULE PKCS11_ENGINE TIMESTAMP TEST_BUILD)
given=()
for name in $(compgen -v IDROVAN_SIGN_ || true); do
  [[ -n ${!name} ]] || continue
  [[ " ${sign_settings[*]} " == *" ${name#IDROVAN_SIGN_} "* ]] ||
    fail "$name is not a signing setting (known: ${sign_settings[*]/#/IDROVAN_SIGN_}); nothing was built"
  given+=("$name")
done
if ((${#given[@]})); then
  [[ -n ${IDROVAN_SIGN_CERT:-} && -n ${IDROVAN_SIGN_KEY:-} ]] ||
    fail "${given[*]} given, but signing needs both IDROVAN_SIGN_CERT (the certificate) and IDROVAN_SIGN_KEY (its key); nothing was built, signed or unsigned"
  [[ -f $IDROVAN_SIGN_CERT ]] || fail "IDROVAN_SIGN_CERT does not name a certificate file"
  if [[ $IDROVAN_SIGN_KEY == pkcs11:* ]]; then
    [[ -f ${IDROVAN_SIGN_PKCS11_MODULE:-} ]] ||
      fail "IDROVAN_SIGN_KEY is a pkcs11: URI: IDROVAN_SIGN_PKCS11_MODULE must name the token's PKCS#11 module"
    [[ -z ${IDROVAN_SIGN_PKCS11_ENGINE:-} || -f $IDROVAN_SIGN_PKCS11_ENGINE ]] ||
      fail "IDROVAN_SIGN_PKCS11_ENGINE does not name OpenSSL's PKCS#11 engine"
  else
    [[ -f $IDROVAN_SIGN_KEY ]] || fail "IDROVAN_SIGN_KEY names neither a key file nor a pkcs11: URI"
  fi
  [[ -z ${IDROVAN_SIGN_TEST_BUILD:-} || $IDROVAN_SIGN_TEST_BUILD == 1 ]] ||
    fail "IDROVAN_SIGN_TEST_BUILD is 1 for a test build, or not set: '$IDROVAN_SIGN_TEST_BUILD'"
  [[ -n ${IDROVAN_SIGN_TIMESTAMP:-} || ${IDROVAN_SIGN_TEST_BUILD:-} == 1 ]] ||
    fail "signing without a timestamp (IDROVAN_SIGN_TIMESTAMP names the time-stamping server): such signatures stop verifying when the certificate expires. Set IDROVAN_SIGN_TEST_BUILD=1 to sign a test build without one"
  [[ -n ${IDROVAN_SIGN_TIMESTAMP:-} ]] ||
    echo "package.sh: a test build, signed without a timestamp: the signatures stop verifying when the certificate expires" >&2
  signing=true
  # The password or PIN goes to osslsigncode in a file that only this user can read, in a
  # folder of its own, removed at the end; no process of this script gets it in its
  # environment or on its command line.
  pass_file=
  if [[ -n ${IDROVAN_SIGN_PASS:-} ]]; then
    secrets=$(umask 077 && mktemp -d) || fail "cannot make a private folder for the signing password"
    trap 'rm -rf "$secrets"' EXIT
    pass_file=$secrets/pass
    (umask 077 && printf '%s' "$IDROVAN_SIGN_PASS" >"$pass_file") || fail "cannot write $pass_file"
  fi
  unset IDROVAN_SIGN_PASS
fi

# sign <file>: signs in place. Without a time-stamping server the signing time is the zips'
# fixed time, so that a signed program is the same from run to run as well.
sign() {
  local file=$1 url options=(-certs "$IDROVAN_SIGN_CERT" -key "$IDROVAN_SIGN_KEY" -h sha256
                                -n "Veltrane Idrovan")
  # A key on a token is reached through the token's PKCS#11 module.
  if [[ $IDROVAN_SIGN_KEY == pkcs11:* ]]; then
    options+=(-pkcs11module "$IDROVAN_SIGN_PKCS11_MODULE")
    [[ -n ${IDROVAN_SIGN_PKCS11_ENGINE:-} ]] && options+=(-pkcs11engine "$IDROVAN_SIGN_PKCS11_ENGINE")
  fi
  [[ -n $pass_file ]] && options+=(-readpass "$pass_file")
  if [[ -n ${IDROVAN_SIGN_TIMESTAMP:-} ]]; then
    for url in $IDROVAN_SIGN_TIMESTAMP; do options+=(-ts "$url"); done
  else
    options+=(-time "$stamp")
  fi
  rm -f "$file.signed"
  osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >/dev/null ||
    fail "osslsigncode could not sign $file"
  mv "$file.signed" "$file"
}

# describe_third_party <arch> <stage>: THIRD-PARTY-NOTICES.txt into the stage, and the
# architecture's bill of materials beside the packages, from the linker maps that the build
# wrote beside the programs and the programs as they are shipped (signed, when signing).
describe_third_party() {
  local arch=$1 stage=$2 program map pairs=()
  for program in "${programs[@]}"; do
    map=$root/build/${preset[$arch]}/${program_path[$program]}.map
    [[ -f $map ]] || fail "$map is missing: build the $arch programs again (the link writes it)"
    pairs+=("$stage/$program=$map")
  done
  pairs+=("$stage_root/sdk-$arch/idrovan.dll=$root/build/${preset[$arch]}/api/idrovan.dll.map")
  python3 packaging/third_party.py --arch "$arch" --version "$version" --stamp "$stamp" \
    --notices "$stage_root/notices-$arch.txt" --sbom "$dist/idrovan-$version-$arch.cdx.json" "${pairs[@]}" ||
    fail "could not describe what the $arch programs contain"
  sed 's/\r*$/\r/' "$stage_root/notices-$arch.txt" >"$stage/THIRD-PARTY-NOTICES.txt"
}

# set_file_versions <msi>: the programs' file versions into the File table, which wixl 0.101
# leaves empty, so that Windows Installer compares them as versioned files; and out of
# MsiFileHash, which is for unversioned files only.
set_file_versions() {
  local msi=$1 program key queries=()
  for program in "${programs[@]}"; do
    key=${msi_file_key[$program]}
    queries+=(-q "UPDATE \`File\` SET \`Version\` = '$version', \`Language\` = '1033' WHERE \`File\` = '$key'"
              -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$key'")
  done
  msibuild "$msi" "${queries[@]}" || fail "msibuild could not set the file versions in $msi"
}

# set_short_names <msi>: every File table entry as "short|long", which wixl 0.101 cannot write
# (it has no ShortName): Windows Installer uses the short name where a volume or the
# SHORTFILENAMES property asks for 8.3 names. A long name that is a valid 8.3 name is its own
# short name, in capitals; any other gets the first six characters that 8.3 allows and ~1
# (~2, ... where two would meet; all the package's files are in one folder).
set_short_names() {
  local msi=$1 key name queries=()
  while IFS=$'\t' read -r key name; do
    queries+=(-q "UPDATE \`File\` SET \`FileName\` = '$name' WHERE \`File\` = '$key'")
  done < <(msiinfo export "$msi" File | tr -d '\r' | tail -n +4 | cut -f1,3 | python3 -c '
import re, sys
taken = set()
for line in sys.stdin:
    key, name = line.rstrip("\n").split("\t")
    long_name = name.split("|")[-1]
    stem, dot, extension = long_name.rpartition(".")
    if not dot:
        stem, extension = long_name, ""
    allowed = lambda text: re.sub(r"[^A-Z0-9!#$%&\x27()@^_`{}~-]", "", text.upper())
    if re.fullmatch(r"[^.]{1,8}(\.[^.]{1,3})?", long_name) and allowed(long_name.replace(".", "")) == long_name.replace(".", "").upper():
        short = long_name.upper()
    else:
        number = 1
        while True:
            tail = "~%d" % number
            short = allowed(stem)[:8 - len(tail)] + tail + ("." + allowed(extension)[:3] if extension else "")
            if short not in taken:
                break
            number += 1
    taken.add(short)
    print("%s\t%s|%s" % (key, short, long_name))
')
  ((${#queries[@]})) || fail "$msi has no File table to give short names"
  msibuild "$msi" "${queries[@]}" || fail "msibuild could not set the short names in $msi"
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
    targets+=($(sdk_build_targets))
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
rm -rf "$dist/manifests"
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
    # A build older than VERSION (--no-build) would put programs of another version into the package.
    built_version=$(python3 packaging/file_version.py "$built") || fail "$built has no version resource"
    [[ $built_version == "$version" ]] ||
      fail "$built is version $built_version, the package $version: build it again (without --no-build)"
    cp "$built" "$stage/$program"
    if $signing; then sign "$stage/$program"; fi
  done
  sdk_stage_dll "$arch" "$folder" "$stage_root/sdk-$arch"
  # Plain text for Windows: CRLF line ends, so that every Notepad shows the lines.
  python3 packaging/make_guide.py --version "$version" | sed 's/\r*$/\r/' >"$stage/README.txt"
  sed 's/\r*$/\r/' LICENSE >"$stage/LICENSE.txt"
  describe_third_party "$arch" "$stage"
  packages+=("idrovan-$version-$arch.cdx.json")

  zip=idrovan-$version-$arch.zip
  python3 packaging/make_zip.py "$dist/$zip" "$stamp" "$stage"/*
  packages+=("$zip")
  sdk_make "$arch" "$folder" "$stage_root/sdk-$arch" "$stage_root/notices-$arch.txt"
  packages+=("idrovan-sdk-$version-$arch.zip")

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
  # installer's feature check); the installation folder is put in front of the machine's PATH
  # and taken out again on uninstall, with Windows Installer's own Environment table; and
  # NOMARKER joins the secure public properties (wixl ignores Property/@Secure).
  # In front ("Value;[~]"), not at the end ("[~];Value"): Wine's msi takes an entry out together
  # with the separator after it, so an appended entry leaves the PATH ending in ';', and the next
  # append makes an empty entry (";;"), at which Wine's cmd stops searching. Taken from the front,
  # the entry and its separator go, and the PATH is byte for byte what it was before.
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
    -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('SystemPath', '=-*PATH', '[INSTALLDIR];[~]', 'Console')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)" ||
    fail "msibuild could not finish $msi"
  set_file_versions "$dist/$msi"
  set_short_names "$dist/$msi"
  if $signing; then sign "$dist/$msi"; fi
  packages+=("$msi")
done

(cd "$dist" && sha256sum "${packages[@]}" >SHA256SUMS)
echo "== packages in $dist"
(cd "$dist" && ls -l "${packages[@]}" SHA256SUMS)

# The manifests name the download addresses, which only the release knows, and the hashes of
# the files just made.
if [[ -z ${IDROVAN_RELEASE_URL:-} ]]; then
  echo "package.sh: no winget or Scoop manifests: IDROVAN_RELEASE_URL (the https address the release's files will lie under) is not set" >&2
elif ((${#archs[@]} != 2)); then
  echo "package.sh: no winget or Scoop manifests: they name both architectures, and this run packaged only ${archs[*]}" >&2
else
  python3 packaging/make_manifests.py --dist "$dist" --version "$version" --out "$dist/manifests" \
    --release-date "$(date -u -d "@$stamp" +%F)" ||
    fail "the manifests could not be written (see above); the packages are in $dist"
  (cd "$dist" && find manifests -type f | sort)
fi
