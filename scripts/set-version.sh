#!/usr/bin/env bash
# Sets the product's version, a.b.c.d, where the sources keep it:
#
#   scripts/set-version.sh 2.3.0.0        write it
#   scripts/set-version.sh --check        say whether the sources agree, change nothing
#
# The file VERSION is the version: CMake puts it into the programs, the DLL and their manifests,
# and scripts/package.sh into the packages. The public header include/idrovan.h carries its first
# three numbers as IDROVAN_VERSION_MAJOR, _MINOR and _PATCH as well, written out, because a
# vendor's compiler reads that header from the SDK and sees no generated file. This script writes
# both, so that a release changes the version in one step; the build stops when the two differ.
# A release raises one of the first three numbers and keeps the fourth at 0 (package.sh refuses
# anything else: Windows Installer compares only the first three).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
header=$root/include/idrovan.h

fail() {
  echo "set-version.sh: $*" >&2
  exit 1
}

# The header's three numbers as "a.b.c", or nothing when one of the lines is missing.
header_version() {
  awk '$1 == "#define" && $2 == "IDROVAN_VERSION_MAJOR" {a = $3}
       $1 == "#define" && $2 == "IDROVAN_VERSION_MINOR" {b = $3}
       $1 == "#define" && $2 == "IDROVAN_VERSION_PATCH" {c = $3}
       END {if (a != "" && b != "" && c != "") print a "." b "." c}' "$header"
}

case ${1:-} in
  --check)
    version=$(tr -d ' \t\r\n' <"$root/VERSION")
    [[ $(header_version) == "${version%.*}" ]] ||
      fail "VERSION is $version, include/idrovan.h says $(header_version): run scripts/set-version.sh $version"
    echo "$version"
    exit 0
    ;;
  -h | --help | '')
    sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
    [[ -n ${1:-} ]]
    exit
    ;;
esac

version=$1
[[ $version =~ ^(0|[1-9][0-9]*)\.(0|[1-9][0-9]*)\.(0|[1-9][0-9]*)\.(0|[1-9][0-9]*)$ ]] ||
  fail "a version is a.b.c.d, four numbers without leading zeros: '$version'"
parts=("${BASH_REMATCH[@]:1}")
for part in "${parts[@]}"; do
  ((part <= 65535)) || fail "each part must fit 16 bits (a version resource holds no more): '$version'"
done
for name in MAJOR MINOR PATCH; do
  grep -q "^#define IDROVAN_VERSION_$name [0-9]*\$" "$header" ||
    fail "include/idrovan.h has no line '#define IDROVAN_VERSION_$name <number>'; nothing was changed"
done

# Both files are written through temporary copies, the header first: a failure leaves VERSION
# as it was, and the build then names the difference.
sed -e "s/^#define IDROVAN_VERSION_MAJOR [0-9]*\$/#define IDROVAN_VERSION_MAJOR ${parts[0]}/" \
    -e "s/^#define IDROVAN_VERSION_MINOR [0-9]*\$/#define IDROVAN_VERSION_MINOR ${parts[1]}/" \
    -e "s/^#define IDROVAN_VERSION_PATCH [0-9]*\$/#define IDROVAN_VERSION_PATCH ${parts[2]}/" \
    "$header" >"$header.new"
mv "$header.new" "$header"
printf '%s\n' "$version" >"$root/VERSION.new"
mv "$root/VERSION.new" "$root/VERSION"
echo "version $version: VERSION and include/idrovan.h"
