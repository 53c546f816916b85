#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a tested build: installs what is
# missing, builds the native and the Windows targets, and runs every suite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

scripts/setup.sh

step() { printf '\n== %s\n' "$*"; }

# Every Wine prefix a test makes is a copy of the template, about 1.3 GB, and the suites make
# dozens: kept all together they fill a disk of 50 GB. Once a suite has passed nothing reads its
# prefixes again, so they go before the next suite starts; a suite that fails stops this script
# first, and its prefixes stay for a look. A prefix is a folder holding system.reg and drive_c.
drop_prefixes() {
  local prefix
  while read -r prefix; do
    [[ -d $prefix/drive_c ]] && rm -rf "$prefix"
  done < <(find "$@" -name system.reg -printf '%h\n' 2>/dev/null | sort -u)
  return 0
}

step "every Wine builtin in the scripts and tests names its loader"
bash tests/wine_loader_check.sh

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
source scripts/wine-env.sh
wine_env_start "$root/build/wine-test"
ctest --test-dir build/windows --output-on-failure
drop_prefixes build/windows

step "32-bit Windows build, every target; where 32-bit programs run, its tests under 32-bit Wine"
cmake --preset windows-x86 >/dev/null
x86=build/windows-x86
# Every 32-bit target is built on every machine, so that what an i686 build rejects shows
# everywhere; only running the tests depends on whether the kernel runs 32-bit programs.
cmake --build --preset windows-x86 -j "$jobs"
programs=("$x86/app/idrovan.exe gui")
[[ -f cli/CMakeLists.txt ]] && programs+=("$x86/cli/idrovan-cli.exe console")
if wine_env_runs_32bit; then wine32=yes; else wine32=no; fi
for program in "${programs[@]}"; do
  read -r exe subsystem <<<"$program"
  echo "checking $exe ($subsystem, x86)"
  tests/e2e/check_executable.sh i686-w64-mingw32-objdump "$exe" "$subsystem" x86
done
echo "checking idrovan.dll (x86): its exports against the committed list, its imports"
bash tests/abi/check_dll.sh i686-w64-mingw32-objdump "$x86/api/idrovan.dll" tests/abi/idrovan-x86.exports x86 "$root"
echo "checking that a second build gives the same 32-bit programs"
rebuilt=("$x86/app/idrovan.exe" "$x86/rebuild-check")
[[ -f cli/CMakeLists.txt ]] && rebuilt+=("$x86/cli/idrovan-cli.exe" "$x86/api/idrovan.dll")
IDROVAN_TOOLCHAIN_FILE=$root/cmake/mingw-w64-i686.cmake tests/e2e/check_reproducible.sh "$root" "${rebuilt[@]}"
if [[ $wine32 == yes ]]; then
  ctest --test-dir "$x86" --output-on-failure -L 'unit|e2e' \
    -E '^e2e_(executable_imports|reproducible_build)$'
else
  if [[ -x /usr/lib/wine/wine ]]; then
    why="32-bit Wine is installed but did not run a 32-bit program"
  else
    why="32-bit Wine (wine32) is not installed; scripts/setup.sh installs it only where the kernel runs 32-bit programs"
  fi
  echo "SKIPPED: the 32-bit unit and end-to-end tests, and the check that the 32-bit and 64-bit"
  echo "programs show one ID in one prefix: $why."
fi
wine_env_stop
trap - EXIT
drop_prefixes "$x86" build/wine-test

step "conformance bundle under Wine: default mode and --disposable-machine, each in a throw-away prefix"
# x64 always, holding the x86 console against the same ID where 32-bit programs run (a named
# gap of Wine elsewhere); the x86 bundle where they run.
bash tests/conformance/run_conformance.sh x64 build/windows "$x86"
drop_prefixes build/conformance
if [[ $wine32 == yes ]]; then
  bash tests/conformance/run_conformance.sh x86 "$x86" build/windows
  drop_prefixes build/conformance
else
  echo "SKIPPED: the x86 conformance bundle under Wine: 32-bit programs do not run here."
fi

if [[ -f scripts/hardening.sh ]]; then
  step "hardening: fuzzers, valgrind, ThreadSanitizer stress"
  bash scripts/hardening.sh
fi

step "all suites passed"
