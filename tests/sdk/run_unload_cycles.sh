#!/usr/bin/env bash
# idrovan.dll in a host that loads and frees it again and again, under Wine, in a fresh prefix
# with no marker: dll_unload_cycles.c's rounds (one LoadLibrary -> call -> FreeLibrary cycle of
# every call per round; free TLS slots, handles and private bytes after round 100 and at the
# end), then the ID it got against the one tests/e2e/expected_id.py derives from the marker its
# first call wrote, and the application ID against idrovan-cli --app-specific.
#   run_unload_cycles.sh <idrovan.dll> <dll_unload_cycles.exe> <idrovan-cli.exe> <work dir> <rounds>
set -euo pipefail
dll=$(realpath "$1") host=$(realpath "$2") cli=$(realpath "$3") work=$4 rounds=$5
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

serial=00c0ffee
root_time=2019-03-04T09:05:07.042
source "$root/tests/e2e/e2e_prefix.sh"
e2e_begin
rm -rf "$work"
mkdir -p "$work/bin"
# The DLL beside its host, as a vendor ships it, loaded by its full path.
cp "$dll" "$host" "$work/bin/"
e2e_fresh_prefix "$work/prefix"

application="Vendor A licence"
started=$SECONDS
status=0
wine "$work/bin/dll_unload_cycles.exe" "$(wine64 winepath -w "$work/bin/idrovan.dll")" "$rounds" \
  "$application" ${IDROVAN_REPORT_EVERY:-1000} </dev/null | tr -d '\r' >"$work/cycles.txt" || status=$?
cat "$work/cycles.txt"
echo "($((SECONDS - started)) s for $rounds rounds)"
((status == 0)) || { echo "FAIL: the host exited with $status"; exit 1; }

read -r _ id app_id < <(grep '^first ' "$work/cycles.txt")
marker=$(wine64 reg query 'HKCR\lrgDocID' /v Rndund /reg:64 </dev/null | tr -d '\r' |
         awk '$1 == "Rndund" {print $3}')
expected=$(python3 "$root/tests/e2e/expected_id.py" --serial "$serial" --root-time "$root_time" \
           --marker "$marker")
[[ $id == "$expected" ]] || { echo "FAIL: the cycles gave the ID $id, the facts give $expected"; exit 1; }
# The application ID: HMAC-SHA256 keyed with the computer ID's digits, its first 16 bytes.
formula=$(python3 -c 'import hashlib, hmac, sys
print(hmac.new(sys.argv[1].encode(), sys.argv[2].encode(), hashlib.sha256).hexdigest()[:32])' \
  "$expected" "$application")
cli_app=$(wine "$cli" --app-specific "$application" </dev/null | tr -d '\r')
[[ $app_id == "$formula" && $cli_app == "$formula" ]] || {
  echo "FAIL: application ID $app_id from the cycles, $cli_app from idrovan-cli, $formula by the formula"
  exit 1
}
echo "ok: $rounds rounds, every answer the first one's: $id, $app_id"
