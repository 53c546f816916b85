#!/usr/bin/env bash
# Hardening checks of the portable core; any finding fails the script.
#
#   scripts/hardening.sh [fuzz|valgrind|tsan]...   (no argument: all three)
#
#   fuzz      builds the fuzz preset (clang, libFuzzer, ASan and UBSan) and runs every fuzzer for
#             FUZZ_SECONDS seconds (default 30), FUZZ_PARALLEL at a time (default 2), starting
#             from the seeds in fuzz/corpus/<name>/. Inputs that fail land in
#             build/hard-fuzz/findings/; what the fuzzers learn stays in build/hard-fuzz/corpus/.
#   valgrind  builds the valgrind preset (plain Debug) and runs each native unit test program
#             once under memcheck: no errors and no definite leaks.
#   tsan      builds the executor and timer stress test with the tsan preset and runs it
#             STRESS_REPEAT times over (default 10) under ThreadSanitizer.
#
# A longer fuzzing session: FUZZ_SECONDS=600 scripts/hardening.sh fuzz
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-30}
FUZZ_PARALLEL=${FUZZ_PARALLEL:-2}
STRESS_REPEAT=${STRESS_REPEAT:-10}
jobs=$(nproc)

fuzz_dir=build/hard-fuzz
valgrind_dir=build/hard-valgrind
tsan_dir=build/hard-tsan

# Longest input each fuzzer is given: the digest reaches past 8192 bytes, where the bit count's
# second byte changes; a saved report past its 64 KiB limit; the C API's application names reach
# 64 KiB, far past the longest name it takes; a licence just past its 8192-byte limit; the
# console program builds its reports of any size itself, so its inputs need only room for a
# machine, a command line and some raw bytes; the others need only room for long operation
# sequences.
declare -A max_len=([string]=4096 [list]=4096 [md5]=9000 [marker]=2048 [saved_report]=66000 [api]=66000
                   [licence]=9000 [console]=8192)

note() { printf '\n-- %s\n' "$*"; }

run_fuzzer() {
  local name=$1
  local log=$fuzz_dir/logs/$name.log
  mkdir -p "$fuzz_dir/corpus/$name" "$fuzz_dir/findings" "$fuzz_dir/logs"
  if "$fuzz_dir/fuzz/${name}_fuzzer" "$fuzz_dir/corpus/$name" "fuzz/corpus/$name" \
      -max_total_time="$FUZZ_SECONDS" -max_len="${max_len[$name]}" -timeout=60 \
      -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$fuzz_dir/findings/$name-" >"$log" 2>&1; then
    printf '%-8s passed: %s executions in %s s\n' "$name" \
      "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")" "$FUZZ_SECONDS"
  else
    printf '%-8s FAILED; last lines of %s:\n' "$name" "$log"
    grep -m1 -A12 -E 'ERROR|mismatch|failed' "$log" || tail -n 30 "$log"
    return 1
  fi
}

fuzz() {
  note "fuzzers, ${FUZZ_SECONDS} s each"
  cmake --preset fuzz -B "$fuzz_dir" >/dev/null
  cmake --build "$fuzz_dir" -j "$jobs"
  local names=(string list md5 marker saved_report api licence console) failed=0 pids=() name
  for name in "${names[@]}"; do
    run_fuzzer "$name" &
    pids+=($!)
    if ((${#pids[@]} >= FUZZ_PARALLEL)); then
      wait "${pids[0]}" || failed=1
      pids=("${pids[@]:1}")
    fi
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
  done
  return $failed
}

valgrind_suite() {
  note "native unit suite under valgrind memcheck"
  cmake --preset valgrind -B "$valgrind_dir" >/dev/null
  cmake --build "$valgrind_dir" -j "$jobs"
  mkdir -p "$valgrind_dir/logs"
  local programs
  programs=$(find "$valgrind_dir/tests" -maxdepth 1 -type f -name '*_test' -perm -u+x | sort)
  [[ -n "$programs" ]] || { echo "no unit test programs found"; return 1; }
  # Each program once: errors and definite leaks make valgrind exit with 99. Allocation
  # functions that a test program defines itself (to make allocations fail) are left to it;
  # what they pass on to the C++ runtime is still tracked. Each runs in the tests' own directory,
  # as under CTest: some leave files in their working directory.
  if ! printf '%s\n' $programs | xargs -P "$jobs" -I{} bash -c '
      log='"$PWD/$valgrind_dir"'/logs/$(basename {}).log
      if (cd "$(dirname {})" && valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
          --errors-for-leak-kinds=definite --show-leak-kinds=definite \
          --soname-synonyms=somalloc=nouserintercepts \
          "./$(basename {})" --gtest_brief=1) >"$log" 2>&1; then
        echo "$(basename {}) passed"
      else
        echo "$(basename {}) FAILED under valgrind; see $log"; tail -n 40 "$log"; exit 1
      fi'; then
    return 1
  fi
}

tsan_stress() {
  note "executor and timer stress under ThreadSanitizer, ${STRESS_REPEAT} times over"
  local sources name targets=()
  sources=$(ls tests/unit/comm_*stress*_test.cpp 2>/dev/null || true)
  [[ -n "$sources" ]] || { echo "no stress test found in tests/unit"; return 1; }
  for name in $sources; do
    targets+=("$(basename "$name" .cpp)")
  done
  cmake --preset tsan -B "$tsan_dir" >/dev/null
  cmake --build "$tsan_dir" -j "$jobs" --target "${targets[@]}"
  for name in "${targets[@]}"; do
    # A generous bound: a hang is a finding too, not a stuck CI run.
    TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" timeout 900 \
      "$tsan_dir/tests/$name" --gtest_repeat="$STRESS_REPEAT" --gtest_brief=1
  done
}

checks=("$@")
((${#checks[@]})) || checks=(fuzz valgrind tsan)
for check in "${checks[@]}"; do
  case $check in
    fuzz) fuzz ;;
    valgrind) valgrind_suite ;;
    tsan) tsan_stress ;;
    *) echo "unknown check: $check (fuzz, valgrind or tsan)"; exit 2 ;;
  esac
done
note "hardening checks passed: ${checks[*]}"
