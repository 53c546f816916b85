#!/usr/bin/env bash
# idrovan.dll's SDK as a vendor uses it, under Wine. Makes the SDK zip the way the packaging does
# (packaging/make_sdk.py) from this build's DLL, unzips it, and from the unzipped folder only:
#   - builds tests/sdk/consumer with CMake's find_package(Idrovan) and the MinGW toolchain: a
#     program linked against the import library, a many-threads program, and one that loads the
#     DLL by name (LoadLibrary, GetProcAddress);
#   - builds the SDK's own example (example/, docs/library.md's C example) from its folder with
#     the toolchain file alone, find_package kept to the toolchain's root, and runs it below;
#   - builds msvc_consumer.c with clang for the MSVC ABI and links it with lld-link against the
#     SDK's idrovan.lib and a kernel32 import library, with its own entry point and no C runtime;
# then, in a fresh prefix with no marker: the bad-argument table (which must not make a marker),
# the read-only answers before any marker, many threads in two processes asking for the
# read-write ID at once (one marker written, by one call, and one ID everywhere, the one
# tests/e2e/expected_id.py derives from the marker), and every consumer's answers against what
# idrovan-cli prints in the same prefix: the ID, application IDs and verify's answers.
#   run_sdk_consumers.sh <x64|x86> <idrovan.dll> <libidrovan.dll.a> <idrovan-cli.exe>
#                        <toolchain file> <work dir>
set -euo pipefail
arch=$1 dll=$(realpath "$2") implib=$(realpath "$3") cli=$(realpath "$4") toolchain=$5 work=$6
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
version=$(tr -d ' \t\r\n' <"$root/VERSION")
declare -A msvc_triple=([x64]=x86_64-pc-windows-msvc [x86]=i686-pc-windows-msvc)
declare -A machine=([x64]=i386:x86-64 [x86]=i386)
declare -A lld_machine=([x64]=x64 [x86]=x86)

serial=00c0ffee
root_time=2019-03-04T09:05:07.042
source "$root/tests/e2e/e2e_prefix.sh"
e2e_begin
rm -rf "$work"
mkdir -p "$work"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }
# Output without carriage returns.
run() { wine "$@" </dev/null | tr -d '\r'; }

echo "== the SDK, made and unzipped"
(cd "$root" && python3 packaging/third_party.py --arch "$arch" --version "$version" --stamp 0 \
  --notices "$work/notices.txt" --sbom "$work/sbom.json" "$dll=$dll.map" >/dev/null)
python3 "$root/packaging/make_sdk.py" --arch "$arch" --version "$version" --stamp 0 \
  --out "$work/idrovan-sdk.zip" --dll "$dll" --debug "$dll.debug" --implib "$implib" \
  --def "$root/api/idrovan.def" --header "$root/include/idrovan.h" --guide "$root/docs/library.md" \
  --license "$root/LICENSE" --notices "$work/notices.txt"
unzip -q "$work/idrovan-sdk.zip" -d "$work/unzipped"
sdk=$work/unzipped/idrovan-sdk-$version-$arch

echo "== consumers built against the unzipped SDK"
consumer=$work/consumer
cmake -S "$here/consumer" -B "$consumer" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$sdk" >"$work/consumer-configure.log"
cmake --build "$consumer" -j 2 >"$work/consumer-build.log"
cp "$sdk/bin/idrovan.dll" "$consumer/"
# The MSVC ABI: no Microsoft headers or libraries, only the SDK and kernel32.
msvc=$work/msvc
mkdir -p "$msvc"
if [[ $arch == x86 ]]; then
  printf 'LIBRARY kernel32.dll\nEXPORTS\n  ExitProcess@4\n  GetStdHandle@4\n  WriteFile@20\n' >"$msvc/kernel32.def"
  kill_at=(-k)
else
  printf 'LIBRARY kernel32.dll\nEXPORTS\n  ExitProcess\n  GetStdHandle\n  WriteFile\n' >"$msvc/kernel32.def"
  kill_at=()
fi
llvm-dlltool -m "${machine[$arch]}" "${kill_at[@]}" -d "$msvc/kernel32.def" -l "$msvc/kernel32.lib"
clang --target="${msvc_triple[$arch]}" -c -O2 -ffreestanding -fno-builtin -Wall -Werror \
  -I "$sdk/include" "$here/msvc_consumer.c" -o "$msvc/msvc_consumer.obj"
lld-link /nologo /entry:msvc_consumer_entry /subsystem:console /nodefaultlib \
  /machine:"${lld_machine[$arch]}" /out:"$msvc/msvc_consumer.exe" "$msvc/msvc_consumer.obj" \
  "$msvc/kernel32.lib" "$sdk/lib/idrovan.lib"
cp "$sdk/bin/idrovan.dll" "$msvc/"
imports=$(objdump -p "$msvc/msvc_consumer.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -f | tr '\n' ' ')
[[ ${imports,,} == "idrovan.dll kernel32.dll " ]] || fail "the MSVC-ABI consumer imports: $imports"
ok "built: sdk_consumer, sdk_race, sdk_loader (MinGW, find_package), msvc_consumer (clang, lld-link)"
# The SDK's own example, as a vendor builds it from the unzipped folder: with the toolchain file
# alone it finds the SDK it lies in; find_package is kept to the toolchain's root, as many cross
# toolchain files keep it, where CMAKE_PREFIX_PATH would not be searched.
example=$work/example
if cmake -S "$sdk/example" -B "$example" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
      >"$work/example-configure.log" 2>&1 &&
    cmake --build "$example" >"$work/example-build.log" 2>&1 &&
    [[ -f $example/idrovan_example.exe && -f $example/idrovan.dll ]]; then
  ok "built: the SDK's example, from its own folder, with the DLL beside it"
else
  fail "the SDK's example did not build: $(tail -5 "$work/example-configure.log" "$work/example-build.log" 2>/dev/null)"
fi
[[ $(tr -d '\r' <"$sdk/example/example.c") == "$(sed -n '/docs-check: example application-id-c/,/^```$/p' "$root/docs/library.md" | sed '1,2d;$d')" ]] ||
  fail "the SDK's example.c is not the C example of docs/library.md"

e2e_fresh_prefix "$work/prefix"
no_key() { ! wine64 reg query 'HKCR\lrgDocID' </dev/null >/dev/null 2>&1; }
no_key || fail "the fresh prefix has a marker key already"

echo "== bad arguments, before any marker"
said=$(run "$consumer/sdk_consumer.exe" bad-arguments) || true
[[ $said == ok ]] && ok "every bad argument refused, no byte written past a short buffer" ||
  fail "bad arguments: $said"
no_key && ok "the refused calls made no marker" || fail "a refused call made the marker key"

echo "== read-only, before any marker"
code=0; run "$cli" --no-write >/dev/null 2>&1 || code=$?
[[ $code == 4 ]] || fail "idrovan-cli --no-write exits $code without a marker, not 4"
said=$(run "$consumer/sdk_consumer.exe" id ro) || true
[[ $said == "4 - step=4 status=2 marker=0" ]] && ok "read-only without a marker: $said" ||
  fail "read-only without a marker: $said"
said=$(run "$consumer/sdk_loader.exe" "$version") || true
[[ $said == "4 -" ]] || fail "the loader, read-only without a marker: $said"
said=$(run "$msvc/msvc_consumer.exe") || true
[[ $said == "-" ]] || fail "the MSVC-ABI consumer, read-only without a marker: $said"
no_key || fail "a read-only call made the marker key"

echo "== many threads in two processes ask for the read-write ID at once"
threads=16
wine "$consumer/sdk_race.exe" $threads 2 </dev/null >"$work/race-1.txt" &
first=$!
wine "$consumer/sdk_race.exe" $threads 2 </dev/null >"$work/race-2.txt" &
second=$!
wait $first || fail "the first racing process failed"
wait $second || fail "the second racing process failed"
answers=$(cat "$work/race-1.txt" "$work/race-2.txt" | tr -d '\r')
marker=$(wine64 reg query 'HKCR\lrgDocID' /v Rndund /reg:64 </dev/null | tr -d '\r' |
         awk '$1 == "Rndund" {print $3}')
expected=$(python3 "$root/tests/e2e/expected_id.py" --serial "$serial" --root-time "$root_time" \
           --marker "$marker")
python3 - "$answers" "$expected" $((2 * threads)) <<'PY' || fail "the race: $(sort "$work"/race-*.txt | uniq -c)"
import sys
lines, expected, count = sys.argv[1].splitlines(), sys.argv[2], int(sys.argv[3])
assert len(lines) == count, lines
results = {tuple(line.split()[:2]) for line in lines}
assert results == {("0", expected)}, results
created = [line for line in lines if line.endswith("marker=2")]
assert len(created) == 1, created
print("ok: %d calls in two processes, one marker written by one of them, one ID %s" % (count, expected))
PY
id=$(run "$cli")
[[ $id == "$expected" ]] && ok "idrovan-cli prints the same ID" || fail "idrovan-cli prints $id, the race gave $expected"

echo "== every consumer against idrovan-cli"
check() {
  local what=$1 want=$2 got=$3
  [[ $got == "$want" ]] && ok "$what: $got" || fail "$what: '$got', expected '$want'"
}
first_two() { awk '{print $1, $2}'; }
check "linked, read-write" "0 $id" "$(run "$consumer/sdk_consumer.exe" id | first_two)"
check "linked, read-only" "0 $id" "$(run "$consumer/sdk_consumer.exe" id ro | first_two)"
check "loaded by name" "0 $id" "$(run "$consumer/sdk_loader.exe" "$version" || true)"
check "MSVC ABI (clang, lld-link)" "$id" "$(run "$msvc/msvc_consumer.exe" || true)"
check "version" "0 $version" "$(run "$consumer/sdk_consumer.exe" version)"
# The example prints the ID of "Example Licensing" (read-only) and exits with the result.
check "the SDK's example" "$(run "$cli" --no-write --app-specific "Example Licensing")" \
  "$(run "$example/idrovan_example.exe" || true)"
for app in "Vendor A" 'Vendor "B" {6F9619FF-8B86-D011-B42D-00C04FC964FF}'; do
  app_id=$(run "$cli" --app-specific "$app")
  [[ ${#app_id} == 32 && $app_id != "$id" ]] || fail "idrovan-cli --app-specific '$app' printed $app_id"
  check "application '$app'" "0 $app_id" "$(run "$consumer/sdk_consumer.exe" app "$app" | first_two)"
  check "application '$app', read-only" "0 $app_id" \
    "$(run "$consumer/sdk_consumer.exe" app "$app" ro | first_two)"
  check "verify the application's ID" 0 "$(run "$consumer/sdk_consumer.exe" verify-app "$app" "${app_id^^}" || true)"
  check "verify the computer's ID as the application's" 1 \
    "$(run "$consumer/sdk_consumer.exe" verify-app "$app" "$id" || true)"
done
echo "== application names: idrovan-cli, the DLL and the documented formula agree"
# Wine turns a program's Unix arguments into its UTF-16 command line by the locale's character
# set: UTF-8 here, as a Windows user's typed name reaches the program as UTF-16. (Under LC_ALL=C
# Wine turns the bytes of "Café" into "CafC)", another name: seen with this Wine.)
export LC_ALL=C.UTF-8
# Each name as hex bytes, whether it is a name (y) or refused (n), and whether a command line can
# carry it (a UTF-16 command line holds no byte that is not UTF-8, and no zero).
long_ok=$(printf '%.0sc3a9' {1..512})       # 512 x "é": 1024 bytes, the longest
long_bad=${long_ok}61                         # one byte more
names_table="56656e646f722041 y cli ASCII
436166c3a9 y cli Latin
e695b0e68daee4b8ade5bf83 y cli CJK
f09f949120204b6579 y cli emoji
$long_ok y cli longest
$long_bad n cli too-long
56656e646f720941 n cli tab
c285 n cli C1-control
7f41 n cli DEL
43616613 n cli C0-control
436166e9 n dll Latin-1
c0af n dll overlong
eda080 n dll surrogate
f4908080 n dll above-U+10FFFF
436166c3 n dll cut-short"
while read -r hex accepted carrier what; do
  expected=$(python3 -c '
import hashlib, hmac, sys
print(hmac.new(sys.argv[1].lower().encode("ascii"), bytes.fromhex(sys.argv[2]),
               hashlib.sha256).hexdigest()[:32])' "$id" "$hex")
  [[ $accepted == y ]] && want="0 $expected" || want="2 -"
  check "the DLL, $what" "$want" "$(run "$consumer/sdk_consumer.exe" app-hex "$hex" | first_two)"
  [[ $carrier == cli ]] || continue
  name=$(python3 -c 'import sys; sys.stdout.buffer.write(bytes.fromhex(sys.argv[1]))' "$hex")
  code=0; printed=$(run "$cli" --app-specific "$name" 2>"$work/name-error.txt") || code=$?
  [[ $accepted == y ]] && want="0 $expected" || want="2 "
  check "idrovan-cli, $what" "$want" "$code $printed"
  # Refused for the name itself, not for an argument Wine split or changed.
  [[ $accepted == y ]] || grep -q "argument 2 is not an application name" "$work/name-error.txt" ||
    fail "idrovan-cli, $what: $(tr -d '\r' <"$work/name-error.txt" | head -1)"
done <<<"$names_table"
unset LC_ALL

check "verify this computer's ID" 0 "$(run "$consumer/sdk_consumer.exe" verify "$id" || true)"
check "verify it in upper case" 0 "$(run "$consumer/sdk_consumer.exe" verify "${id^^}" || true)"
other=00112233445566778899aabbccddeeff
check "verify another ID" 1 "$(run "$consumer/sdk_consumer.exe" verify "$other" || true)"
code=0; run "$cli" --verify "$other" >/dev/null || code=$?
[[ $code == 1 ]] || fail "idrovan-cli --verify another ID exits $code"
# The published test licence is another computer's: no match, from the DLL and from the check
# compiled in through Idrovan::licence alike (sdk_licence exits 0 only when both agree).
test_key=$(cat "$root/tests/licence/test-key.pub")
check "licence, the DLL and compiled in" "dll 1 compiled 1" \
  "$(run "$consumer/sdk_licence.exe" "$(wine64 winepath -w "$root/tests/licence/permanent.lic")" \
     "Vendor A" "$test_key" - - | head -n1)"
wineserver -k

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all SDK consumer checks passed"
