#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a tested build: installs what is
# missing, builds the native and the Windows targets, and runs every suite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

scripts/setup.sh

step() { printf '\n== %s\n' "$*"; }

step "native build, unit tests under ASan and UBSan"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs"

step "native build, unit tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --test-dir build/tsan --output-on-failure -j "$jobs"

step "Windows build, unit and UI tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
# A throw-away prefix for every run, on a display of its own.
rm -rf build/wine-test
trap 'wine_env_stop' EXIT
source scripts/wine-env.sh "$root/build/wine-test"
ctest --test-dir build/windows --output-on-failure
wine_env_stop
trap - EXIT

if [[ -f scripts/hardening.sh ]]; then
  step "hardening: fuzzers, valgrind, ThreadSanitizer stress"
  bash scripts/hardening.sh
fi

step "all suites passed"
