#!/usr/bin/env bash
# The forwarded-import check itself: it refuses a program that imports SystemFunction036 and
# names the forwarder, and passes the shipped binaries given after the probe.
#   check_forwarded_imports_test.sh <objdump> <forwarded_import_probe.exe> <shipped binary>...
set -euo pipefail
objdump=$1 probe=$2
shift 2
check=$(dirname "${BASH_SOURCE[0]}")/check_forwarded_imports.sh
status=0
if out=$(bash "$check" "$objdump" "$probe"); then
  echo "FAIL: the probe that imports SystemFunction036 passed"
  status=1
elif [[ $out != *"advapi32!systemfunction036"*"cryptbase.dll"* ]]; then
  echo "FAIL: the probe was refused without naming its forwarder: $out"
  status=1
fi
for binary in "$@"; do
  bash "$check" "$objdump" "$binary" || { echo "FAIL: $binary"; status=1; }
done
((status)) || echo "ok: the probe refused, $# shipped binaries without forwarded imports"
exit $status
