#!/usr/bin/env bash
# DLLs that system DLLs load for themselves after the program has started (shell32 loads
# uxtheme.dll and others when --first-run asks it for the elevated run) are looked for in the
# process's default search order, which without SetDefaultDllDirectories starts with the
# program's own folder. Under Wine, in a fresh prefix without a marker:
# 1. the names: every DLL that --first-run, run from a console that is not elevated, loads beyond
#    what the program loads at its start (Wine's loaddll channel), and uxtheme.dll;
# 2. a control: planted_trace.dll, loaded by its path, leaves its trace (<name>-was-loaded.txt);
# 3. a copy of it under each of those names is put beside idrovan-cli.exe, Wine is told to
#    prefer a native DLL of those names to its own (as Windows takes the first one it finds), and
#    --first-run is run again from a console that is not elevated: it must make the marker and
#    print the ID, and no planted DLL may have been loaded (no trace, and no DLL loaded from the
#    program's folder in the loaddll channel).
#   run_planted_dlls.sh <idrovan-cli.exe> <run_not_elevated.exe> <planted_trace.dll> <work dir>
set -euo pipefail
cli=$(realpath "$1") launcher=$(realpath "$2") planted=$(realpath "$3") work=$4
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

serial=00c0ffee
root_time=2019-03-04T09:05:07.042
source "$root/tests/e2e/e2e_prefix.sh"
e2e_begin
rm -rf "$work"
mkdir -p "$work/clean" "$work/downloads" "$work/elsewhere"
cp "$cli" "$launcher" "$work/clean/"
cp "$cli" "$launcher" "$work/downloads/"
cd "$work/elsewhere"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# The loaddll channel's "pid:tid:trace:loaddll:... Loaded L"C:\\...\\name.dll" at ...", with
# +pid: the full paths, lowercase, that the processes of idrovan-cli.exe loaded (not those of
# Wine's own launcher).
loaded_paths() {
  tr -d '\r' | awk '
    /Loaded L"/ {
      split($0, ids, ":"); path = $0
      sub(/.*Loaded L"/, "", path); sub(/" at .*/, "", path); gsub(/\\\\/, "\\", path)
      path = tolower(path); pid[NR] = ids[1]; paths[NR] = path
      if (path ~ /idrovan-cli\.exe$/) ours[ids[1]] = 1
    }
    END { for (n in paths) if (pid[n] in ours) print paths[n] }'
}
names() { sed 's/.*\\//' | grep '\.dll$' | sort -u; }

echo "== the DLLs that --first-run loads after the program's start"
e2e_fresh_prefix "$work/prefix-names"
WINEDEBUG=+pid,+loaddll wine "$work/clean/idrovan-cli.exe" --version </dev/null 2>"$work/start.log" >/dev/null
WINEDEBUG=+pid,+loaddll wine "$work/clean/run_not_elevated.exe" "$(wine64 winepath -w "$work/clean/idrovan-cli.exe")" \
  --first-run </dev/null 2>"$work/first-run.log" >"$work/first-run.out" ||
  fail "--first-run in a clean folder exited $?: $(tr -d '\r' <"$work/first-run.out")"
comm -13 <(loaded_paths <"$work/start.log" | names) <(loaded_paths <"$work/first-run.log" | names) \
  >"$work/late.txt"
grep -qx shell32.dll "$work/late.txt" ||
  fail "--first-run did not load shell32.dll: the run did not ask for elevation"
grep -qx uxtheme.dll "$work/late.txt" || echo uxtheme.dll >>"$work/late.txt"
echo "planted: $(tr '\n' ' ' <"$work/late.txt")"

echo "== control: a planted DLL, loaded by its path, leaves its trace"
cp "$planted" "$work/downloads/control.dll"
# rundll32 of the DLL's own architecture.
if [[ $(file -b "$planted") == *x86-64* ]]; then loader=wine64; else loader=wine32; fi
"$loader" rundll32 "$(wine64 winepath -w "$work/downloads/control.dll")",Nothing </dev/null \
  >/dev/null 2>&1 || true
[[ -f $work/downloads/control.dll-was-loaded.txt ]] && echo "ok: the trace is there" ||
  fail "the planted DLL left no trace when loaded by its path: the test could not see it"
rm -f "$work/downloads/control.dll" "$work/downloads/control.dll-was-loaded.txt"

echo "== --first-run beside the planted DLLs"
overrides=""
while read -r name; do
  cp "$planted" "$work/downloads/$name"
  overrides+="${overrides:+,}${name%.dll}"
done <"$work/late.txt"
e2e_fresh_prefix "$work/prefix-planted"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}$overrides=n,b"
folder=$(wine64 winepath -w "$work/downloads" | tr -d '\r' | tr 'A-Z' 'a-z')
WINEDEBUG=+pid,+loaddll wine "$work/downloads/run_not_elevated.exe" \
  "$(wine64 winepath -w "$work/downloads/idrovan-cli.exe")" --first-run \
  </dev/null 2>"$work/planted.log" >"$work/planted.out" && code=0 || code=$?
id=$(tr -d '\r' <"$work/planted.out")
[[ $code == 0 && $id =~ ^[0-9a-f]{32}$ ]] && echo "ok: --first-run printed $id" ||
  fail "--first-run beside the planted DLLs exited $code and printed '$id'"
marker=$(wine64 reg query 'HKCR\lrgDocID' /v Rndund /reg:64 </dev/null | tr -d '\r' |
         awk '$1 == "Rndund" {print $3}')
expected=$(python3 "$root/tests/e2e/expected_id.py" --serial "$serial" --root-time "$root_time" \
           --marker "$marker")
[[ $id == "$expected" ]] || fail "--first-run printed '$id', the facts give $expected"
traces=$(cd "$work/downloads" && ls -- *-was-loaded.txt 2>/dev/null || true)
[[ -z $traces ]] || fail "planted DLLs were loaded: $traces"
from_folder=$(loaded_paths <"$work/planted.log" | grep -F "$folder\\" | grep -v '\.exe$' || true)
[[ -z $from_folder ]] || fail "loaded from the program's folder: $from_folder"

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "none of the $(wc -l <"$work/late.txt") planted DLLs was loaded; --first-run made the marker"
