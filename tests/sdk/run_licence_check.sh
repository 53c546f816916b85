#!/usr/bin/env bash
# Licences made on Linux, checked under Wine. Each case is signed twice, by tools/idrovan-licence
# (Python's cryptography) and by an independent path (the openssl command line, with the low-S
# step done here), and each file is checked three times: by idrovan.dll's idrovan_verify_licence
# and by the check compiled in from the SDK's source (licence_check.exe, which also demands that
# both fill the info alike), and by the signer's own verify. Every one must give the case's
# result code; idrovan-cli --verify-licence is run on a few as well.
#   run_licence_check.sh <idrovan.dll> <licence_check.exe> <idrovan-cli.exe> <work dir>
set -euo pipefail
dll=$(realpath "$1") checker=$(realpath "$2") cli=$(realpath "$3") work=$4
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
signer=(/usr/bin/python3 "$root/tools/idrovan-licence")

serial=00c0ffee
root_time=2019-03-04T09:05:07.042
source "$root/tests/e2e/e2e_prefix.sh"
e2e_begin
rm -rf "$work"
mkdir -p "$work/bin" "$work/lic"
cp "$dll" "$checker" "$cli" "$work/bin/"
e2e_fresh_prefix "$work/prefix"
run() { wine "$@" </dev/null | tr -d '\r'; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

application="Vendor A"
run "$work/bin/idrovan-cli.exe" >/dev/null # writes the marker
app_id=$(run "$work/bin/idrovan-cli.exe" --app-specific "$application")
[[ $app_id =~ ^[0-9a-f]{32}$ ]] || { echo "no application ID: '$app_id'"; exit 1; }
now=2026-06-01T00:00:00Z

# The two keys: the signer's and openssl's, under ids of their own.
"${signer[@]}" keygen --key-id py-1 --out "$work/py.pem" >"$work/py.pub"
openssl ecparam -name prime256v1 -genkey -noout -out "$work/ossl.pem" 2>/dev/null
ossl_point=$(openssl ec -in "$work/ossl.pem" -pubout -outform DER 2>/dev/null | tail -c 64 |
             od -An -tx1 -v | tr -d ' \n')
keys="$(cat "$work/py.pub"),ossl-1:$ossl_point"

# A licence body, as the format lays it out: key id, licence id, application, its ID, features,
# issued, not-before, not-after.
body() {
  printf 'idrovan-licence: 1\nkey-id: %s\nlicence-id: %s\napplication: %s\napplication-id: %s\n' \
    "$1" "$2" "$3" "$4"
  [[ -z $5 ]] || printf 'features: %s\n' "$5"
  printf 'issued: %s\nnot-before: %s\nnot-after: %s\n' "$6" "$7" "$8"
}

# The openssl path: sign the body, take r and s from the DER signature, make s low.
openssl_sign() {
  local file=$1
  openssl dgst -sha256 -sign "$work/ossl.pem" -out "$file.der" "$file.body"
  local numbers
  numbers=$(openssl asn1parse -inform DER -in "$file.der" | sed -n 's/.*INTEGER *://p' | tr '\n' ' ')
  local hex
  hex=$(python3 -c 'import sys
n = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
r, s = (int(x, 16) for x in sys.argv[1:3])
s = n - s if s > n // 2 else s
print("%064x%064x" % (r, s))' $numbers)
  { cat "$file.body"; printf 'signature: ecdsa-p256-sha256 %s\n' "$hex"; } >"$file"
}

# make <name> <licence-id> <application> <application-id> <features> <issued> <not-before>
#      <not-after>: lic/<name>.py.lic from the signer and lic/<name>.ossl.lic from openssl.
make() {
  local name=$1
  local features=() extra=()
  [[ -z $5 ]] || { read -ra features <<<"$5"; extra=(--features "${features[@]}"); }
  "${signer[@]}" sign --key "$work/py.pem" --key-id py-1 --licence-id "$2" --application "$3" \
    --application-id "$4" "${extra[@]}" --issued "$6" --not-before "$7" --not-after "$8" \
    --out "$work/lic/$name.py.lic"
  body ossl-1 "$2" "$3" "$4" "$5" "$6" "$7" "$8" >"$work/lic/$name.ossl.lic.body"
  openssl_sign "$work/lic/$name.ossl.lic"
}

# A changed copy of both files of a case: <from> <to> <python expression over the bytes b>.
derive() {
  for signer_name in py ossl; do
    python3 -c 'import sys
b = open(sys.argv[1], "rb").read()
n = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
open(sys.argv[2], "wb").write(eval(sys.argv[3]))' "$work/lic/$1.$signer_name.lic" \
      "$work/lic/$2.$signer_name.lic" "$3"
  done
}

make valid L-1 "$application" "$app_id" "pro export" 2026-05-01T00:00:00Z 2026-05-01T00:00:00Z 2027-05-01T00:00:00Z
make perpetual L-2 "$application" "$app_id" "" 2026-05-01T00:00:00Z 2026-05-01T00:00:00Z permanent
make expired L-3 "$application" "$app_id" "" 2025-01-01T00:00:00Z 2025-01-01T00:00:00Z 2026-06-01T00:00:00Z
make future L-4 "$application" "$app_id" "" 2026-05-01T00:00:00Z 2026-07-01T00:00:00Z 2027-01-01T00:00:00Z
make issued-ahead L-5 "$application" "$app_id" "" 2026-06-02T00:00:01Z 2026-05-01T00:00:00Z 2027-01-01T00:00:00Z
make issued-a-day-ahead L-6 "$application" "$app_id" "" 2026-06-02T00:00:00Z 2026-05-01T00:00:00Z 2027-01-01T00:00:00Z
make other-computer L-7 "$application" 0123456789abcdef0123456789abcdef "" 2026-05-01T00:00:00Z 2026-05-01T00:00:00Z permanent
make other-application L-8 "Vendor B" "$app_id" "" 2026-05-01T00:00:00Z 2026-05-01T00:00:00Z permanent
derive valid notepad 'b"\xef\xbb\xbf" + b.replace(b"\n", b"\r\n")'
derive valid trailing 'b + b"x-late: 1\n"'
derive valid changed 'b.replace(b"L-1", b"L-9")'
derive valid long-signature 'b[:-1] + b"00\n"'
derive valid high-s 'b[:-65] + b"%064x\n" % (n - int(b[-65:-1], 16))'
derive valid unknown-field 'b.replace(b"issued:", b"colour: red\nissued:")'

# name, feature (- none), keys (- all), expected result
cases="
valid - - 0
valid pro - 0
valid gold - 11
perpetual - - 0
expired - - 10
future - - 9
issued-ahead - - 9
issued-a-day-ahead - - 0
other-computer - - 1
other-application - - 1
notepad - - 0
trailing - - 7
changed - - 8
long-signature - - 7
high-s - - 8
unknown-field - - 7
valid - untrusted 8
"
checked=0
while read -r name feature key_choice expected; do
  [[ -n $name ]] || continue
  use_keys=$keys
  [[ $key_choice != untrusted ]] ||
    use_keys="py-1:$ossl_point,ossl-1:$(cut -d: -f2 "$work/py.pub")"
  for signer_name in py ossl; do
    file=$work/lic/$name.$signer_name.lic
    got=$(run "$work/bin/licence_check.exe" "$(wine64 winepath -w "$file")" "$application" \
          "$use_keys" "$now" "$feature") && agree=yes || agree=no
    first=$(head -n1 <<<"$got")
    [[ $first == "dll $expected compiled $expected" && $agree == yes ]] ||
      fail "$name ($signer_name): '$first' (agree: $agree), expected $expected"
    py_args=(--application "$application" --application-id "$app_id" --now "$now")
    [[ $feature == - ]] || py_args+=(--feature "$feature")
    keys_args=()
    IFS=, read -ra key_list <<<"$use_keys"
    for k in "${key_list[@]}"; do keys_args+=(--public-key "$k"); done
    "${signer[@]}" verify "$file" "${keys_args[@]}" "${py_args[@]}" >/dev/null && py=0 || py=$?
    [[ $py == "$expected" ]] || fail "$name ($signer_name): the signer's verify gave $py, expected $expected"
    checked=$((checked + 1))
  done
done <<<"$cases"

# The console, on two of them.
for pair in "valid 0" "expired 10"; do
  read -r name expected <<<"$pair"
  code=0
  run "$work/bin/idrovan-cli.exe" --verify-licence "$(wine64 winepath -w "$work/lic/$name.ossl.lic")" \
    --app "$application" --public-key "$keys" --now "$now" --json >"$work/cli.json" || code=$?
  [[ $code == "$expected" ]] || fail "idrovan-cli --verify-licence $name: exit $code, expected $expected"
done

((failures == 0)) || { echo "$failures check(s) failed of $checked files"; exit 1; }
echo "ok: $checked licence files, each checked by the DLL, the compiled-in check and the signer"
