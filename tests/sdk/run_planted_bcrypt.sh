#!/usr/bin/env bash
# bcrypt.dll is not one of Windows' KnownDLLs: a program that imported it would take a bcrypt.dll
# from its own folder first. Under Wine, in a fresh prefix: a planted bcrypt.dll
# (planted_bcrypt.c, whose calls fail and which leaves bcrypt-was-loaded.txt beside itself when
# loaded) is put beside idrovan-cli.exe, idrovan.dll and a host of the DLL, and Wine is told to
# prefer a native bcrypt.dll to its own (bcrypt=n,b), as Windows takes the first one it finds.
# idrovan-cli --app-specific and the DLL's idrovan_get_application_id must still give the right
# application ID, and the planted DLL must never have been loaded. First a control: the host,
# told to load the planted DLL by its path, does leave the trace.
#   run_planted_bcrypt.sh <idrovan.dll> <idrovan-cli.exe> <dll_unload_cycles.exe>
#                         <planted bcrypt.dll> <work dir>
set -euo pipefail
dll=$(realpath "$1") cli=$(realpath "$2") host=$(realpath "$3") planted=$(realpath "$4") work=$5
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

serial=00c0ffee
root_time=2019-03-04T09:05:07.042
source "$root/tests/e2e/e2e_prefix.sh"
e2e_begin
rm -rf "$work"
folder=$work/downloads
mkdir -p "$folder"
cp "$dll" "$cli" "$host" "$planted" "$folder/"
trace=$folder/bcrypt-was-loaded.txt
e2e_fresh_prefix "$work/prefix"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
run() { wine "$@" </dev/null | tr -d '\r'; }

# The marker, written by the console from a folder of its own, and the IDs that follow from it.
mkdir -p "$work/clean"
cp "$cli" "$work/clean/"
id=$(run "$work/clean/idrovan-cli.exe")
marker=$(wine64 reg query 'HKCR\lrgDocID' /v Rndund /reg:64 </dev/null | tr -d '\r' |
         awk '$1 == "Rndund" {print $3}')
expected=$(python3 "$root/tests/e2e/expected_id.py" --serial "$serial" --root-time "$root_time" \
           --marker "$marker")
[[ $id == "$expected" ]] || fail "idrovan-cli printed $id, the facts give $expected"
application="Vendor A licence"
app_id=$(python3 -c 'import hashlib, hmac, sys
print(hmac.new(sys.argv[1].encode(), sys.argv[2].encode(), hashlib.sha256).hexdigest()[:32])' \
  "$expected" "$application")

export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}bcrypt=n,b"
echo "== control: the planted DLL, loaded by its path, leaves its trace"
run "$folder/dll_unload_cycles.exe" "$(wine64 winepath -w "$folder/bcrypt.dll")" 1 "$application" \
  >/dev/null || true
[[ -f $trace ]] && echo "ok: $(basename "$trace") made" ||
  fail "the planted DLL left no trace when loaded by its path: the test could not see it"
rm -f "$trace"

echo "== idrovan-cli --app-specific, beside the planted DLL"
got=$(run "$folder/idrovan-cli.exe" --app-specific "$application") || true
[[ $got == "$app_id" ]] && echo "ok: $got" || fail "idrovan-cli --app-specific printed '$got', not $app_id"
[[ ! -f $trace ]] || fail "idrovan-cli loaded the planted bcrypt.dll"
rm -f "$trace"

echo "== idrovan_get_application_id, the DLL and its host beside the planted DLL"
got=$(run "$folder/dll_unload_cycles.exe" "$(wine64 winepath -w "$folder/idrovan.dll")" 1 \
      "$application") || true
[[ $got == "first $expected $app_id"$'\n'ok ]] && echo "ok: $expected $app_id" ||
  fail "the DLL's host printed '$got', not the IDs $expected $app_id"
[[ ! -f $trace ]] || fail "idrovan.dll loaded the planted bcrypt.dll"

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "the planted bcrypt.dll was never loaded; the application ID is right in both"
