#!/usr/bin/env bash
# Runs idrovan-conformance under Wine for one architecture, in both modes, each in a throw-away
# prefix of its own, and holds the results to what Wine can show:
#   run_conformance.sh <x64|x86> <build-dir> [<other-arch-build-dir>]
# - the default mode on a machine that has had its first run (idrovan-cli made the marker), and
#   --disposable-machine on a fresh one, with the variable that names the computer set;
# - 0 failed, every skip a named gap of Wine, and no fewer passes than the committed floor
#   (floor-<arch>.txt: "default N" and "disposable N");
# - --disposable-machine refused (exit 2) without the variable and where a marker exists, and
#   after its run the marker it made and its undo journal gone; it installs and removes this
#   architecture's MSI (--msi), which scripts/package.sh --no-build packages from
#   build/windows or build/windows-x86.
# The TAP output is kept in build/conformance/<arch>-<mode>.tap.
set -euo pipefail
arch=$1 build=$2 other_build=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$root/build/conformance
case $arch in
  x64) loader=wine64 other_arch=x86 ;;
  x86) loader=wine32 other_arch=x64 ;;
  *) echo "run_conformance.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
source "$root/scripts/wine-env.sh"

# The release's layout: the bundle beside the programs it checks, the other architecture's
# programs in a folder of their own.
stage() {
  local from=$1 to=$2
  rm -rf "$to"
  mkdir -p "$to"
  cp "$from/app/idrovan.exe" "$from/cli/idrovan-cli.exe" "$from/api/idrovan.dll" "$to/"
  [[ -f $from/tests/conformance/idrovan-conformance.exe ]] &&
    cp "$from/tests/conformance/idrovan-conformance.exe" "$to/"
  return 0
}
stage "$build" "$work/$arch"
bundle=("$work/$arch/idrovan-conformance.exe")
if [[ -n $other_build ]]; then
  stage "$other_build" "$work/$arch-other"
  bundle+=(--other-programs "$work/$arch-other")
fi

# The floor's key: the mode, and for x64 where 32-bit programs do not run, "-without-32bit"
# (the x86 console cannot be held against it there).
floor() {
  local key=$1
  [[ $arch == x64 && $runs_32bit == no ]] && key+=-without-32bit
  sed -n "s/^$key \\([0-9][0-9]*\\)\$/\\1/p" "$here/floor-$arch.txt"
}

# Judges one TAP file: the exit code, 0 failed, only Wine's gaps skipped, the floor.
judge() {
  local tap=$1 status=$2 mode=$3 summary passed failed skipped minimum faults=0
  summary=$(tail -n 1 "$tap" | tr -d '\r')
  if ! [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed,\ ([0-9]+)\ skipped$ ]]; then
    echo "FAIL $arch $mode: the last line is not the summary: $summary"
    return 1
  fi
  passed=${BASH_REMATCH[1]} failed=${BASH_REMATCH[2]} skipped=${BASH_REMATCH[3]}
  minimum=$(floor "$mode")
  echo "$arch $mode: $passed passed, $failed failed, $skipped skipped (floor $minimum)"
  ((status == 0)) || { echo "FAIL $arch $mode: exit code $status"; faults=1; }
  ((failed == 0)) || { grep -A3 '^not ok' "$tap"; faults=1; }
  if grep -E '^ok [0-9]+ - .* # SKIP ' "$tap" | grep -v ' # SKIP wine-gap: '; then
    echo "FAIL $arch $mode: the skips above are not named gaps of Wine"
    faults=1
  fi
  [[ $(grep -c ' # SKIP wine-gap: ' "$tap") == "$skipped" ]] ||
    { echo "FAIL $arch $mode: the summary's skips do not match the TAP lines"; faults=1; }
  [[ -n $minimum ]] && ((passed >= minimum)) ||
    { echo "FAIL $arch $mode: fewer passes than the floor ($minimum)"; faults=1; }
  return $faults
}

computer_name() {
  "$loader" cmd /c 'echo %COMPUTERNAME%' </dev/null 2>/dev/null | tr -d '\r' | tail -n 1
}

faults=0
trap 'wine_env_stop' EXIT
runs_32bit=no

# The default mode, after the first run. A fresh prefix: Wine keeps a key's security only while
# its wineserver runs, so a marker left from an earlier run has lost it.
rm -rf "$work/prefix-$arch-default"
wine_env_start "$work/prefix-$arch-default"
wine_env_runs_32bit && runs_32bit=yes
"$loader" "$work/$arch/idrovan-cli.exe" </dev/null >/dev/null
status=0
"$loader" "${bundle[@]}" </dev/null >"$work/$arch-default.tap" 2>&1 || status=$?
judge "$work/$arch-default.tap" "$status" default || faults=1
# The checks and the security page's table of Windows claims name each other: every check
# decides a claim there, and every check the table names exists.
"$loader" "$work/$arch/idrovan-conformance.exe" --list </dev/null | tr -d '\r' |
  sed 's/ .*//' >"$work/$arch-checks.txt"
python3 - "$work/$arch-checks.txt" "$root/docs/security.md" <<'PY' || faults=1
import re, sys
checks = set(open(sys.argv[1]).read().split())
page = open(sys.argv[2], encoding="utf-8").read()
section = page.split("## Windows claims and the checks that decide them", 1)[-1].split("\n## ", 1)[0]
named = set()
for row in section.splitlines():
    if row.startswith("| ") and not row.startswith("|---"):
        named |= set(re.findall(r"`([a-z0-9_]+)`", row.rstrip(" |").rsplit(" | ", 1)[-1]))
named.discard("Check")
faults = [f"the check {name} decides no claim of the security page" for name in sorted(checks - named)]
faults += [f"the security page names {name}, which is no check" for name in sorted(named - checks)]
print("\n".join(faults) or f"{len(checks)} checks, each named by the security page")
sys.exit(1 if faults else 0)
PY
# The bundle must see a fault: the same programs, but a console without TERMINAL_SERVER_AWARE.
rm -rf "$work/$arch-broken"
cp -r "$work/$arch" "$work/$arch-broken"
python3 - "$work/$arch-broken/idrovan-cli.exe" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
at = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 70
struct.pack_into("<H", data, at, struct.unpack_from("<H", data, at)[0] & ~0x8000)
open(path, "wb").write(data)
PY
status=0
"$loader" "$work/$arch-broken/idrovan-conformance.exe" </dev/null >"$work/$arch-broken.tap" 2>&1 ||
  status=$?
if ((status != 1)) || ! grep -q '^not ok [0-9]* - static_terminal_server_aware' "$work/$arch-broken.tap" ||
  ! tail -n 1 "$work/$arch-broken.tap" | grep -q ' 1 failed, '; then
  echo "FAIL $arch: a console without TERMINAL_SERVER_AWARE was not reported (exit $status)"
  faults=1
fi
# A machine with a marker is no disposable one, whatever the variable says.
status=0
IDROVAN_CONFORMANCE_DISPOSABLE=$(computer_name) \
  "$loader" "${bundle[@]}" --disposable-machine </dev/null >"$work/$arch-refused.tap" 2>&1 ||
  status=$?
if ((status != 2)) || ! grep -q '^Bail out! refused: the marker key exists' "$work/$arch-refused.tap"; then
  echo "FAIL $arch: --disposable-machine with a marker present exited $status, not refused (2)"
  faults=1
fi
wine_env_stop

# --disposable-machine in a fresh prefix: first without the variable (refused), then with it.
rm -rf "$work/prefix-$arch-disposable"
wine_env_start "$work/prefix-$arch-disposable"
status=0
"$loader" "${bundle[@]}" --disposable-machine </dev/null >"$work/$arch-refused.tap" 2>&1 || status=$?
if ((status != 2)) || ! grep -q '^Bail out! refused: IDROVAN_CONFORMANCE_DISPOSABLE' "$work/$arch-refused.tap"; then
  echo "FAIL $arch: --disposable-machine without the variable exited $status, not refused (2)"
  faults=1
fi
rm -rf "$work/msi-$arch"
bash "$root/scripts/package.sh" --no-build --arch "$arch" --out "$work/msi-$arch" \
  >"$work/msi-$arch.log" 2>&1 || {
  cat "$work/msi-$arch.log"
  echo "FAIL $arch disposable: the MSI could not be packaged from the build"
  faults=1
}
msi=("$work/msi-$arch"/idrovan-*-"$arch".msi)
status=0
IDROVAN_CONFORMANCE_DISPOSABLE=$(computer_name) \
  "$loader" "${bundle[@]}" --disposable-machine --msi "${msi[0]}" </dev/null \
  >"$work/$arch-disposable.tap" 2>&1 || status=$?
judge "$work/$arch-disposable.tap" "$status" disposable || faults=1
if "$loader" reg query 'HKLM\Software\Classes\lrgDocID' /reg:64 </dev/null >/dev/null 2>&1; then
  echo "FAIL $arch disposable: the marker made by the first run was not undone"
  faults=1
fi
if ! tr -d '\r' <"$work/$arch-disposable.tap" | grep -qE '^ok [0-9]+ - msi_install_uninstall$'; then
  echo "FAIL $arch disposable: the MSI was not installed and removed"
  faults=1
fi
if [[ -e $work/$arch/idrovan-conformance.undo ]]; then
  echo "FAIL $arch disposable: the undo journal was left behind"
  faults=1
fi
wine_env_stop
trap - EXIT
if ((faults)); then
  echo "conformance ($arch): FAILED; the TAP files are in $work"
  exit 1
fi
echo "conformance ($arch): passed"
