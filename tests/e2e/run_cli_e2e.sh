#!/usr/bin/env bash
# Runs idrovan-cli.exe end to end under Wine, in fresh prefixes with machine facts of the
# script's choosing, and checks it against expected_id.py and against the dialog (idrovan.exe,
# driven by the dialog's own end-to-end driver), in either order.
#   run_cli_e2e.sh <idrovan.exe> <idrovan_e2e_test.exe> <idrovan_in_process_probe.dll>
#                  <idrovan-cli.exe> <idrovan_cli_e2e_test.exe> <work dir> <idrovan.dll>
# Uses the X display it is given when that display answers, else an Xvfb of its own.
set -euo pipefail
exe=$1 driver=$2 in_process_probe=$3 cli=$4 cli_driver=$5 work=$6 dll=$7
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The same facts as the dialog's test: a serial with leading zeros, a root time with milliseconds.
serial=00c0ffee
root_time=2019-03-04T09:05:07.042

source "$here/e2e_prefix.sh"
e2e_begin
mkdir -p "$work"

fresh_prefix() {
  e2e_fresh_prefix "$1"
  export IDROVAN_EXE IDROVAN_IN_PROCESS_PROBE IDROVAN_CLI_EXE IDROVAN_DLL
  IDROVAN_EXE=$(wine64 winepath -w "$exe")
  IDROVAN_DLL=$(wine64 winepath -w "$dll")
  IDROVAN_IN_PROCESS_PROBE=$(wine64 winepath -w "$in_process_probe")
  IDROVAN_CLI_EXE=$(wine64 winepath -w "$cli")
}

expected_from() {
  local marker
  read -r marker <"$1"
  python3 "$here/expected_id.py" --serial "$serial" --root-time "$root_time" --marker "$marker"
}

# Every JSON object the console printed here, for the check against the published schemas.
json_kept=$work/json-out-e2e.jsonl
keep_json() { tr -d '\r' <"$1" >>"$json_kept"; }

# A fact's fingerprint as identification/fact_fingerprint.h defines it, computed here on its own.
fingerprint() {
  python3 -c 'import hashlib, hmac, sys
d = hmac.new(b"idrovan fact fingerprint 1", sys.argv[1].encode() + b"\0" + sys.argv[2].encode(),
             hashlib.sha256).digest()
print("%03x" % (int.from_bytes(d[:2], "big") >> 6))' "$1" "$2"
}
root_text="Monday March 04 2019 (03_04_2019) 09:05:07:42"
root_fp=$(fingerprint root_created "$root_text")
volume_fp=$(fingerprint volume C0FFEENTFS)

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
  keep_json "$out"
  EXPECTED=${IDROVAN_EXPECTED_ID:-} VERSION_FILE=$here/../../VERSION python3 - "$out" "$checks" <<'PY'
import json, os, sys
text = open(sys.argv[1], "rb").read().decode("ascii")
assert text.endswith("\r\n") and text.count("\n") == 1, repr(text)
assert all(ord(c) < 128 for c in text), repr(text)
o = json.loads(text)
expected = os.environ["EXPECTED"]
assert list(o) == ["id", "marker", "marker_key", "root_created_fingerprint", "volume_fingerprint",
                   "format", "version", "error"], o
assert o["version"] == open(os.environ["VERSION_FILE"]).read().strip() and o["format"] == 2, o
assert "2019" not in text and "C0FFEE" not in text, text
assert eval("(" + sys.argv[2] + ")"), (sys.argv[2], o)
print("json ok:", " ".join(sys.argv[2].split()))
PY
}

# The key must still be missing: `reg query` fails for a key that is not there.
expect_no_key() {
  if wine64 reg query 'HKCR\lrgDocID' </dev/null >/dev/null 2>&1; then
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
  keep_json "$json"
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
assert list(o) == ["id", "app", "marker", "marker_key", "format", "version", "error"], o
assert o["id"] == app_id('Vendor "A"') and o["app"] == 'Vendor "A"', o
assert plain not in text, text
print("application IDs ok:", vendor_a, guid, o["id"])
PY
}

# Runs idrovan-cli with the arguments (stdin from $cli_input, else nothing); leaves its exit code,
# stdout and stderr (without carriage returns) in cli_code, cli_out and cli_err.
run_cli() {
  cli_code=0
  wine "$cli" "$@" <"${cli_input:-/dev/null}" >"$work/cli-out.txt" 2>"$work/cli-err.txt" ||
    cli_code=$?
  cli_out=$(tr -d '\r' <"$work/cli-out.txt")
  cli_err=$(tr -d '\r' <"$work/cli-err.txt")
}

# expect_compare <what> <exit code> <line>...: the last run_cli exited so and printed each line
# whole, and neither of its outputs holds a fact text or the marker.
expect_compare() {
  local what=$1 want=$2 line
  shift 2
  if [[ $cli_code != "$want" ]]; then
    printf 'compare, %s: exit %s, expected %s\n%s\n%s\n' "$what" "$cli_code" "$want" "$cli_out" "$cli_err"
    return 1
  fi
  for line in "$@"; do
    if ! grep -qxF -- "$line" <<<"$cli_out"; then
      printf 'compare, %s: no line "%s" in\n%s\n' "$what" "$line" "$cli_out"
      return 1
    fi
  done
  # IDs aside, which may hold any digits.
  local text
  text=$(printf '%s\n%s' "$cli_out" "$cli_err" | sed -E 's/[0-9a-fA-F]{32}/<ID>/g')
  [[ $cli_out$cli_err != *"$marker"* ]] || text=$marker
  for line in 2019 C0FFEE c0ffee 0BADCAFE 0badcafe "$marker"; do
    if [[ $text == *"$line"* ]]; then
      printf 'compare, %s: the output holds %s\n%s\n%s\n' "$what" "$line" "$cli_out" "$cli_err"
      return 1
    fi
  done
  echo "compare, $what: ok"
}

# A saved report, then one fact changed at a time in the prefix: the console names the right one.
check_compare() {
  local prefix=$1 report=$work/report.json old=$work/report-2.1.31.0.json id
  wine "$cli" </dev/null >/dev/null
  wine "$cli" --json </dev/null >"$report"
  keep_json "$report"
  marker=$(wine64 reg query 'HKCR\lrgDocID' /v Rndund /reg:64 </dev/null | tr -d '\r' |
           awk '$1 == "Rndund" {print $3}')
  id=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["id"])' "$report")
  [[ ${#marker} == 32 && ${#id} == 32 ]] || { echo "no marker or ID to compare with"; return 1; }

  run_cli --compare "$report"
  expect_compare "nothing changed" 0 "Volume:       same" "Root created: same" \
    "Marker:       same" "ID:           same: $id" || return 1
  cli_input=$report run_cli --json --compare -
  expect_compare "from standard input" 0 || return 1
  printf '%s\n' "$cli_out" >>"$json_kept"
  # 2.1.31.0's report of the same facts, with the texts; also as PowerShell saves it (UTF-16).
  python3 - "$id" "$root_text" "$old" <<'PY'
import json, sys
report = {"id": sys.argv[1], "marker": "present", "root_created": sys.argv[2],
          "volume": "C0FFEENTFS", "version": "2.1.31.0", "error": None}
text = json.dumps(report, separators=(",", ":")) + "\r\n"
open(sys.argv[3], "wb").write(text.encode("ascii"))
open(sys.argv[3] + ".utf16", "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
  run_cli --compare "$old" --json
  expect_compare "a 2.1.31.0 report" 0 || return 1
  printf '%s\n' "$cli_out" >>"$json_kept"
  python3 -c 'import json, sys; o = json.loads(sys.argv[1]); assert o["report_format"] == 1 and o["same_id"], o' "$cli_out"
  run_cli --compare "$old.utf16"
  expect_compare "a 2.1.31.0 report in UTF-16" 0 "ID:           same: $id" || return 1
  # A device or a pipe by name is refused at once, never read (a read would wait for ever).
  local device
  for device in COM1 NUL CON nul.json 'C:\COM2' '\\.\pipe\idrovan-e2e' '//./nul'; do
    run_cli --compare "$device"
    expect_compare "the device $device" 2 || return 1
    [[ $cli_err == *"give a file's name, or - to read the report from standard input" ]] ||
      { printf 'compare, %s: %s\n' "$device" "$cli_err"; return 1; }
  done
  wine "$cli" --json --app-specific "Vendor A" </dev/null >"$work/app.json"
  run_cli --compare "$work/app.json"
  expect_compare "an application's report" 2 || return 1
  [[ $cli_err == *"(--app-specific), which cannot be compared"* ]] || { echo "$cli_err"; return 1; }

  wine64 reg add 'HKCR\lrgDocID' /v Rndund /t REG_SZ /d 00112233445566778899aabbccddeeff /f /reg:64 \
    </dev/null >/dev/null
  run_cli --compare "$report"
  expect_compare "another marker" 1 "Volume:       same" "Root created: same" \
    "Marker:       changed: the marker was deleted, renewed or the registry restored" || return 1
  wine64 reg delete 'HKCR\lrgDocID' /v Rndund /f /reg:64 </dev/null >/dev/null
  run_cli --compare "$report" --json
  expect_compare "no marker" 4 || return 1
  printf '%s\n' "$cli_out" >>"$json_kept"
  python3 -c 'import json, sys; o = json.loads(sys.argv[1]); assert o["marker"] == "changed" and o["same_id"] is None and o["error"]["step"] == "marker_key", o' "$cli_out"
  [[ -z $cli_err ]] || { printf 'compare, no marker: --json wrote to stderr\n%s\n' "$cli_err"; return 1; }
  run_cli --compare "$report"
  expect_compare "no marker, in words" 4 "ID:           none now" || return 1
  [[ $cli_err == *"and comparing does not write one; an administrator must run idrovan-cli once to make it: idrovan-cli --first-run from any console asks for elevation" ]] ||
    { printf 'compare, no marker: %s\n' "$cli_err"; return 1; }
  wine64 reg add 'HKCR\lrgDocID' /v Rndund /t REG_SZ /d "$marker" /f /reg:64 </dev/null >/dev/null

  touch -d "2020-01-02 03:04:05.678 UTC" "$prefix/drive_c"
  run_cli --compare "$report"
  expect_compare "another root time" 1 "Volume:       same" \
    "Root created: changed: Windows was installed again" || return 1
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"

  # The serial is read when the server starts; writing it moves the root's time, so that is set
  # again afterwards.
  wineserver -k
  printf '0badcafe\n' >"$prefix/drive_c/.windows-serial"
  wineserver -p
  wine64 wineboot </dev/null >/dev/null 2>&1
  touch -d "${root_time/T/ } UTC" "$prefix/drive_c"
  run_cli --compare "$report" --json
  expect_compare "another volume serial" 1 || return 1
  printf '%s\n' "$cli_out" >>"$json_kept"
  python3 -c 'import json, sys; o = json.loads(sys.argv[1]); assert (o["volume"], o["root_created"], o["marker"], o["same_id"]) == ("changed", "same", "unknown", False), o' "$cli_out"
  run_cli --compare "$report"
  expect_compare "another volume serial, in words" 1 \
    "Volume:       changed: the system drive was formatted, replaced or cloned" || return 1

  touch -d "2020-01-02 03:04:05.678 UTC" "$prefix/drive_c"
  run_cli --compare "$report"
  expect_compare "another machine" 1 "Volume:       changed" "Root created: changed" \
    "The report is from another machine, or from this one before Windows was installed again." ||
    return 1
}

status=0
rm -f "$json_kept"
export IDROVAN_E2E_RECORD IDROVAN_EXPECTED_ID

echo "== console first: serial $serial, root directory created $root_time UTC"
fresh_prefix "$work/prefix-cli-first"
record="$work/cli-first-run.txt"
rm -f "$record"
IDROVAN_E2E_RECORD=$(wine64 winepath -w "$record")
IDROVAN_EXPECTED_ID=
wine "$cli_driver" --gtest_filter='CliNoMarker.*' || status=1
check_json 4 "o['id'] is None and o['marker'] == 'missing' and o['error']['step'] == 'marker_key'
  and o['error']['code'] == 2 and o['root_created_fingerprint'] == '$root_fp'
  and o['volume_fingerprint'] == '$volume_fp'" \
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
    and o['root_created_fingerprint'] == '$root_fp' and o['volume_fingerprint'] == '$volume_fp'" ||
    status=1
  check_app_ids || status=1
  wine "$cli_driver" --gtest_filter='CliPerUserKey.*' || status=1
  # The dialog, started after the console, shows the same ID (the record holds the console's).
  wine "$driver" --gtest_filter='WithId.ShowsTheIdDerivedFromTheMachineFacts' || status=1
  wine "$cli_driver" --gtest_filter='CliLooseKey.*' || status=1
  check_json 0 "o['id'] == expected and o['marker_key'] == 'trusted'" || status=1
  wine "$cli_driver" --gtest_filter='CliNoRights.*' || status=1
  check_json 0 "o['id'] == expected and o['marker'] == 'present' and o['error'] is None" ||
    status=1
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
IDROVAN_E2E_RECORD=$(wine64 winepath -w "$record")
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

echo "== --first-run from a console that is not elevated: the elevated run makes the marker"
fresh_prefix "$work/prefix-first-run"
record="$work/first-run-command.txt"
rm -f "$record"
IDROVAN_E2E_RECORD=$(wine64 winepath -w "$record")
wine "$cli_driver" --gtest_filter='CliFirstRunCommand.*' || status=1
if [[ -s $record ]]; then
  { read -r marker; read -r first_id; } <"$record"
  derived=$(expected_from "$record")
  if [[ $first_id == "$derived" ]]; then
    echo "--first-run: the ID $first_id is the one derived from the marker it made"
  else
    echo "--first-run printed $first_id; its marker gives $derived"
    status=1
  fi
else
  echo "--first-run recorded no marker"
  status=1
fi
wineserver -k

# Wine starts programs elevated: --first-run then writes in its own process, like a plain run.
echo "== --first-run in an elevated console"
fresh_prefix "$work/prefix-first-run-elevated"
run_cli --first-run
first_id=$cli_out
if [[ $cli_code != 0 || $cli_err != "idrovan-cli: the installation marker was written" ||
      ! $first_id =~ ^[0-9a-f]{32}$ ]]; then
  printf -- '--first-run, elevated: exit %s\n%s\n%s\n' "$cli_code" "$cli_out" "$cli_err"
  status=1
fi
run_cli --no-write
if [[ $cli_code != 0 || $cli_out != "$first_id" ]]; then
  printf -- '--no-write after --first-run: exit %s, %s (expected %s)\n' "$cli_code" "$cli_out" "$first_id"
  status=1
else
  echo "--first-run, elevated: --no-write then gives the same ID $first_id"
fi
wineserver -k

echo "== --compare: a saved report, then one fact changed at a time"
fresh_prefix "$work/prefix-compare"
check_compare "$work/prefix-compare" || status=1
wineserver -k

echo "== every JSON object printed here against the published schemas"
schema_python=/usr/bin/python3
[[ -x $schema_python ]] || schema_python=python3
"$schema_python" "$here/../check_json_schemas.py" "$here/../../docs/schemas" 10 "$json_kept" ||
  status=1

exit $status
