#!/usr/bin/env bash
# Runs idrovan-cli.exe end to end under Wine, in fresh prefixes with machine facts of the
# script's choosing, and checks it against expected_id.py and against the dialog (idrovan.exe,
# driven by the dialog's own end-to-end driver), in either order.
#   run_cli_e2e.sh <idrovan.exe> <idrovan_e2e_test.exe> <idrovan_in_process_probe.dll>
#                  <idrovan-cli.exe> <idrovan_cli_e2e_test.exe> <work dir>
# Uses the X display it is given when that display answers, else an Xvfb of its own.
set -euo pipefail
exe=$1 driver=$2 in_process_probe=$3 cli=$4 cli_driver=$5 work=$6
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The same facts as the dialog's test: a serial with leading zeros, a root time with milliseconds.
serial=00c0ffee
root_time=2019-03-04T09:05:07.042

source "$here/e2e_prefix.sh"
e2e_begin
mkdir -p "$work"

fresh_prefix() {
  e2e_fresh_prefix "$1"
  export IDROVAN_EXE IDROVAN_IN_PROCESS_PROBE IDROVAN_CLI_EXE
  IDROVAN_EXE=$(winepath -w "$exe")
  IDROVAN_IN_PROCESS_PROBE=$(winepath -w "$in_process_probe")
  IDROVAN_CLI_EXE=$(winepath -w "$cli")
}

expected_from() {
  local marker
  read -r marker <"$1"
  python3 "$here/expected_id.py" --serial "$serial" --root-time "$root_time" --marker "$marker"
}

# Runs idrovan-cli --json with the given options and hands its stdout to Python's json.loads,
# then to the checks (a Python expression over `o`, the parsed object, and `expected`).
check_json() {
  local want_exit=$1 checks=$2
  shift 2
  local out=$work/json-out.txt code=0
  wine "$cli" --json "$@" </dev/null >"$out" || code=$?
  if [[ $code != "$want_exit" ]]; then
    echo "idrovan-cli --json $*: exit $code, expected $want_exit"
    return 1
  fi
  EXPECTED=${IDROVAN_EXPECTED_ID:-} python3 - "$out" "$checks" <<'PY'
import json, os, sys
text = open(sys.argv[1], "rb").read().decode("ascii")
assert text.endswith("\r\n") and text.count("\n") == 1, repr(text)
assert all(ord(c) < 128 for c in text), repr(text)
o = json.loads(text)
expected = os.environ["EXPECTED"]
assert list(o) == ["id", "marker", "root_created", "volume", "version", "error"], o
assert o["version"] == "2.1.31.0", o
assert eval("(" + sys.argv[2] + ")"), (sys.argv[2], o)
print("json ok:", " ".join(sys.argv[2].split()))
PY
}

# The key must still be missing: `reg query` fails for a key that is not there.
expect_no_key() {
  if wine reg query 'HKCR\lrgDocID' </dev/null >/dev/null 2>&1; then
    echo "HKCR\\lrgDocID exists: $1"
    return 1
  fi
}

# Per-application IDs against what a vendor's server computes: Python's hmac over the ID the
# plain run printed. Two applications differ, --verify takes the application's ID, and the JSON
# names the application but never shows the computer's own ID.
check_app_ids() {
  local plain vendor_a guid json=$work/app-json.txt
  plain=$(wine "$cli" </dev/null | tr -d '\r')
  vendor_a=$(wine "$cli" --app-specific "Vendor A" </dev/null | tr -d '\r')
  guid=$(wine "$cli" --no-write --app-specific "{6F9619FF-8B86-D011-B42D-00C04FC964FF}" </dev/null |
         tr -d '\r')
  wine "$cli" --json --app-specific 'Vendor "A"' </dev/null >"$json"
  if ! wine "$cli" --app-specific "Vendor A" --verify "${vendor_a^^}" </dev/null >/dev/null; then
    echo "--app-specific 'Vendor A' --verify does not accept the application's own ID"
    return 1
  fi
  python3 - "$plain" "$vendor_a" "$guid" "$json" <<'PY'
import hashlib, hmac, json, sys
plain, vendor_a, guid, path = sys.argv[1:5]
def app_id(app):
    return hmac.new(plain.encode("ascii"), app.encode("ascii"), hashlib.sha256).hexdigest()[:32]
assert len(plain) == 32, repr(plain)
assert vendor_a == app_id("Vendor A"), (vendor_a, app_id("Vendor A"))
assert guid == app_id("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), guid
assert vendor_a != guid and plain not in (vendor_a, guid)
text = open(path, "rb").read().decode("ascii")
o = json.loads(text)
assert list(o) == ["id", "app", "marker", "version", "error"], o
assert o["id"] == app_id('Vendor "A"') and o["app"] == 'Vendor "A"', o
assert plain not in text, text
print("application IDs ok:", vendor_a, guid, o["id"])
PY
}

root_text="Monday March 04 2019 (03_04_2019) 09:05:07:42"
status=0
export IDROVAN_E2E_RECORD IDROVAN_EXPECTED_ID

echo "== console first: serial $serial, root directory created $root_time UTC"
fresh_prefix "$work/prefix-cli-first"
record="$work/cli-first-run.txt"
rm -f "$record"
IDROVAN_E2E_RECORD=$(winepath -w "$record")
IDROVAN_EXPECTED_ID=
wine "$cli_driver" --gtest_filter='CliNoMarker.*' || status=1
check_json 4 "o['id'] is None and o['marker'] == 'missing' and o['error']['step'] == 'marker_key'
  and o['error']['code'] == 2 and o['root_created'] == '$root_text' and o['volume'] == 'C0FFEENTFS'" \
  --no-write || status=1
expect_no_key "after the read-only runs" || status=1
# A first run while another holds the marker lock waits 10 s and writes nothing; the first run
# after it was released writes the one marker that every later run reads.
wine "$cli_driver" --gtest_filter='CliLockHeld.*' || status=1
wine "$cli_driver" --gtest_filter='CliFirstRun.*' || status=1
if [[ -s $record ]]; then
  IDROVAN_EXPECTED_ID=$(expected_from "$record")
  echo "expected ID $IDROVAN_EXPECTED_ID"
  wine "$cli_driver" --gtest_filter='CliWithId.*' || status=1
  check_json 0 "o['id'] == expected and o['marker'] == 'present' and o['error'] is None
    and o['root_created'] == '$root_text' and o['volume'] == 'C0FFEENTFS'" || status=1
  check_app_ids || status=1
  # The dialog, started after the console, shows the same ID (the record holds the console's).
  wine "$driver" --gtest_filter='WithId.ShowsTheIdDerivedFromTheMachineFacts' || status=1
  wine "$cli_driver" --gtest_filter='CliNoRights.*' || status=1
  check_json 3 "o['id'] is None and o['marker'] == 'missing' and o['error']['step'] == 'marker_key'
    and o['error']['code'] == 5 and isinstance(o['error']['message'], str)" || status=1
  check_json 0 "o['id'] == expected and o['marker'] == 'present'" --no-write || status=1
else
  echo "the console's first run recorded no marker"
  status=1
fi
wineserver -k

echo "== dialog first"
fresh_prefix "$work/prefix-dialog-first"
record="$work/dialog-first-run.txt"
rm -f "$record"
IDROVAN_E2E_RECORD=$(winepath -w "$record")
wine "$driver" --gtest_filter='FirstRun.*' || status=1
if [[ -s $record ]]; then
  IDROVAN_EXPECTED_ID=$(expected_from "$record")
  echo "expected ID $IDROVAN_EXPECTED_ID"
  wine "$cli_driver" --gtest_filter='CliAfterDialog.*' || status=1
  # --new-marker: the record then holds the new marker and the ID printed for it.
  wine "$cli_driver" --gtest_filter='CliNewMarker.*' || status=1
  { read -r marker; read -r renewed_id; } <"$record"
  derived=$(expected_from "$record")
  if [[ $renewed_id == "$derived" ]]; then
    echo "--new-marker: the new ID $renewed_id is the one derived from the new marker"
  else
    echo "--new-marker printed $renewed_id; the new marker gives $derived"
    status=1
  fi
else
  echo "the dialog's first run recorded no marker"
  status=1
fi
wineserver -k

exit $status
