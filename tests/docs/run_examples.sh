#!/usr/bin/env bash
# The documentation's examples, run as a reader runs them, under Wine, in a fresh prefix with
# machine facts of the test's choosing: first on a machine without a marker, then with one.
#   - verify-batch (docs/scripting.md), a batch file, under Wine's cmd: without a marker it
#     says that it could not tell (exit 4), never "another computer", and leaves COMPUTER_ID
#     empty even where it was set before; with one it finds the ID, tells this computer from
#     another, and a mistyped ID (exit 2) from both;
#   - report-powershell (docs/scripting.md): Wine has no PowerShell, so only the idrovan-cli
#     command it runs: it makes no marker where there is none, and gives the report with the ID;
#   - application-id-c (docs/library.md), compiled with this build's C compiler against
#     include/idrovan.h and linked with idrovan.dll: without a marker no ID and no marker made;
#     with one the application ID that idrovan-cli --app-specific prints.
# None of them may create a marker: script examples run as standard users.
# The examples are the fenced blocks marked <!-- docs-check: example NAME --> (check_docs.py
# --examples); a marked example this script does not know, or a known one that is gone, fails.
#
#   run_examples.sh <idrovan-cli.exe> <idrovan.dll> <libidrovan.dll.a> <C compiler> <work dir>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
cli=$(realpath "$1") dll=$(realpath "$2") implib=$(realpath "$3") cc=$4 work=$(realpath -m "$5")

serial=00c0ffee
root_time=2019-03-04T09:05:07.042
source "$root/tests/e2e/e2e_prefix.sh"
e2e_begin
rm -rf "$work"
mkdir -p "$work/bin"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

echo "== the marked examples"
known=(verify-batch report-powershell application-id-c)
declare -A found=()
while read -r name language where; do
  found[$name]="$language $where"
  [[ " ${known[*]} " == *" $name "* ]] || fail "$where: the example $name is one this test does not run"
done < <(python3 "$here/check_docs.py" --root "$root" --examples "$work/examples")
for name in "${known[@]}"; do
  [[ -n ${found[$name]:-} ]] && ok "$name (${found[$name]})" ||
    fail "no example $name in the docs (a fenced block after <!-- docs-check: example $name -->)"
done
((failures == 0)) || { echo "$failures fault(s)"; exit 1; }

# The reader's folder: the console program, the batch file, the C example and the DLL.
cp "$cli" "$work/bin/idrovan-cli.exe"
cp "$work/examples/verify-batch.bat" "$work/bin/"
printf '@call verify-batch.bat\r\n@echo COMPUTER_ID=[%%COMPUTER_ID%%]\r\n' >"$work/bin/run-batch.bat"
if "$cc" -std=c99 -Wall -Wextra -Werror -I "$root/include" "$work/examples/application-id-c.c" \
    "$implib" -o "$work/bin/application-id-c.exe" 2>"$work/compile.log"; then
  ok "the C example compiles with -Wall -Wextra -Werror"
else
  fail "the C example does not compile: $(head -20 "$work/compile.log")"
fi
cp "$dll" "$work/bin/"
# The application the C example asks for, from its source; none: the computer's ID.
application=$(sed -n 's/.*idrovan_get_application_id("\([^"]*\)".*/\1/p' "$work/examples/application-id-c.c" | sed -n 1p)

# Runs a program of the reader's folder in it; prints its output without CRs, then its status.
in_bin() {
  local status=0 output
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  output=$(cd "$work/bin" && timeout 120 "$@" </dev/null 2>&1) || status=$?
  printf '%s\nstatus %d\n' "${output//$'\r'/}" "$status"
}
batch() { EXPECTED_ID=$1 COMPUTER_ID=${2:-} in_bin wine64 cmd /c run-batch.bat; }
marker() { wine64 reg query 'HKCR\lrgDocID' /v Rndund /reg:64 </dev/null 2>/dev/null | tr -d '\r' | awk '$1 == "Rndund" {print $3}'; }
# expect <what> <output> <+text that must be there | -text that must not> ...
expect() {
  local what=$1 output=$2 rule bad=()
  shift 2
  for rule in "$@"; do
    case $rule in
      +*) [[ $output == *"${rule:1}"* ]] || bad+=("lacks '${rule:1}'") ;;
      -*) [[ $output != *"${rule:1}"* ]] || bad+=("has '${rule:1}'") ;;
    esac
  done
  if ((${#bad[@]})); then fail "$what: ${bad[*]}; it said: $(tr '\n' '|' <<<"$output")"; else ok "$what"; fi
}
# The idrovan-cli command lines of the PowerShell example: the program's name and its options.
powershell_commands() { grep -oE 'idrovan-cli( +--?[a-z-]+)*' "$work/examples/report-powershell.powershell"; }

prefix=$work/prefix
e2e_fresh_prefix "$prefix"
other_id=0123456789abcdef0123456789abcdef

echo "== without a marker"
[[ -z $(marker) ]] || fail "the fresh prefix has a marker"
expect "verify-batch: no ID, and not another computer" "$(batch $other_id stale-value)" \
  "+could not tell: idrovan-cli --verify exited 4" "+COMPUTER_ID=[]" "-is not the computer" \
  "-this is the computer"
while read -r command; do
  read -ra words <<<"$command"
  said=$(in_bin wine64 idrovan-cli.exe "${words[@]:1}")
  expect "report-powershell's '$command': no ID, a report that says why" "$said" '+"id":null' \
    '+"error":{' "+status 4"
done < <(powershell_commands)
said=$(in_bin wine64 application-id-c.exe)
if [[ $said == *"status 0" ]] || grep -qE '[0-9a-f]{32}' <<<"$said"; then
  fail "application-id-c without a marker: $(tr '\n' '|' <<<"$said")"
else
  ok "application-id-c without a marker: no ID ($(tr '\n' '|' <<<"$said"))"
fi
[[ -z $(marker) ]] && ok "no example made a marker" || fail "an example made the marker $(marker)"

echo "== with a marker"
touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
id=$(in_bin wine64 idrovan-cli.exe | sed -n 1p)
[[ $id =~ ^[0-9a-f]{32}$ && -n $(marker) ]] || fail "the plain idrovan-cli made no marker: '$id'"
expected=$(python3 "$root/tests/e2e/expected_id.py" --serial "$serial" --root-time "$root_time" --marker "$(marker)")
[[ $id == "$expected" ]] || fail "the ID is '$id', the derivation's '$expected'"
expect "verify-batch: this computer" "$(batch "$id")" "+this is the computer $id" \
  "+COMPUTER_ID=[$id]" "-not the computer" "-could not tell"
expect "verify-batch: another computer" "$(batch $other_id)" "+this is not the computer $other_id" \
  "+COMPUTER_ID=[$id]" "-could not tell"
expect "verify-batch: a mistyped ID is neither" "$(batch "${id:0:31}")" \
  "+could not tell: idrovan-cli --verify exited 2" "-is not the computer" "-this is the computer"
while read -r command; do
  read -ra words <<<"$command"
  said=$(in_bin wine64 idrovan-cli.exe "${words[@]:1}")
  expect "report-powershell's '$command': the report with the ID" "$said" "+\"id\":\"$id\"" \
    '+"error":null' "+status 0"
done < <(powershell_commands)
if [[ -n $application ]]; then
  wanted=$(in_bin wine64 idrovan-cli.exe --no-write --app-specific "$application" | sed -n 1p)
else
  wanted=$id
fi
expect "application-id-c: the ID of '${application:-the computer}'" "$(in_bin wine64 application-id-c.exe)" \
  "+$wanted" "+status 0"

echo
if ((failures)); then
  echo "$failures example check(s) failed"
  exit 1
fi
echo "every marked example ran as the docs say"
