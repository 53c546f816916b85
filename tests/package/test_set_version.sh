#!/usr/bin/env bash
# scripts/set-version.sh, on copies of VERSION and include/idrovan.h in a folder of its own:
#   - a version it takes is written to both, and the header changes in its three macro lines
#     and nowhere else; --check then agrees and prints it;
#   - a version it refuses (not four numbers, a leading zero, a part over 16 bits) and a header
#     without one of the macro lines change nothing and say why;
#   - VERSION changed alone fails --check, naming the command that mends it;
#   - the sources themselves agree.
#
#   test_set_version.sh <work dir>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(realpath -m "${1:?usage: test_set_version.sh <work dir>}")

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

# A tree with the script, VERSION and the header, as the sources hold them.
fresh_tree() {
  rm -rf "$work"
  mkdir -p "$work/scripts" "$work/include"
  cp "$root/scripts/set-version.sh" "$work/scripts/"
  cp "$root/VERSION" "$work/VERSION"
  cp "$root/include/idrovan.h" "$work/include/idrovan.h"
  cp "$work/include/idrovan.h" "$work/header.before"
}
macros() { grep -E '^#define IDROVAN_VERSION_(MAJOR|MINOR|PATCH) ' "$work/include/idrovan.h" | awk '{print $3}' | paste -sd.; }

fresh_tree
if out=$("$work/scripts/set-version.sh" 7.12.345.0 2>&1); then
  [[ $(cat "$work/VERSION") == 7.12.345.0 && $(macros) == 7.12.345 ]] &&
    ok "7.12.345.0 written to VERSION and the header's macros" ||
    fail "after setting 7.12.345.0: VERSION '$(cat "$work/VERSION")', macros '$(macros)'"
  changed=$(diff "$work/header.before" "$work/include/idrovan.h" | grep -c '^>' || true)
  ((changed <= 3)) && ! diff "$work/header.before" "$work/include/idrovan.h" | grep '^>' | grep -qv '#define IDROVAN_VERSION_' &&
    ok "the header changed in its version lines only" ||
    fail "the header changed beyond its version lines: $(diff "$work/header.before" "$work/include/idrovan.h" | head -10)"
  [[ $("$work/scripts/set-version.sh" --check 2>&1) == 7.12.345.0 ]] && ok "--check agrees" ||
    fail "--check after setting: $("$work/scripts/set-version.sh" --check 2>&1)"
else
  fail "set-version.sh 7.12.345.0 failed: $out"
fi

# <version> <what the refusal says>
refusals=(
  "2.3|four numbers"
  "2.3.0.0.0|four numbers"
  "2.3.x.0|four numbers"
  "02.3.0.0|leading zeros"
  "2.70000.0.0|16 bits"
  "-1.3.0.0|four numbers"
)
for case in "${refusals[@]}"; do
  version=${case%%|*} says=${case#*|}
  fresh_tree
  if out=$("$work/scripts/set-version.sh" "$version" 2>&1); then
    fail "set-version.sh took '$version'"
  elif [[ $out != *"$says"* ]]; then
    fail "set-version.sh refused '$version' without saying '$says': $out"
  elif ! cmp -s "$root/VERSION" "$work/VERSION" || ! cmp -s "$work/header.before" "$work/include/idrovan.h"; then
    fail "the refused '$version' changed VERSION or the header"
  else
    ok "'$version' refused ($says), nothing changed"
  fi
done

fresh_tree
sed -i '/^#define IDROVAN_VERSION_MINOR /d' "$work/include/idrovan.h"
cp "$work/include/idrovan.h" "$work/header.before"
if out=$("$work/scripts/set-version.sh" 7.12.345.0 2>&1); then
  fail "set-version.sh took a header without IDROVAN_VERSION_MINOR"
elif [[ $out == *IDROVAN_VERSION_MINOR* ]] && cmp -s "$root/VERSION" "$work/VERSION" &&
     cmp -s "$work/header.before" "$work/include/idrovan.h"; then
  ok "a header without IDROVAN_VERSION_MINOR refused, nothing changed"
else
  fail "a header without IDROVAN_VERSION_MINOR: '$out'; VERSION or header changed"
fi

fresh_tree
echo 7.12.345.0 >"$work/VERSION"
if out=$("$work/scripts/set-version.sh" --check 2>&1); then
  fail "--check passed with VERSION changed alone: $out"
elif [[ $out == *"scripts/set-version.sh 7.12.345.0"* ]]; then
  ok "VERSION changed alone fails --check, naming the command"
else
  fail "--check with VERSION changed alone said: $out"
fi

out=$("$root/scripts/set-version.sh" --check 2>&1) && ok "the sources agree: $out" || fail "$out"

rm -rf "$work"
if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
