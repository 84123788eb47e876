#!/usr/bin/env bash
# Builds the library and runs the whole test suite twice: an optimised build
# with debug info and an AddressSanitizer + UndefinedBehaviorSanitizer build,
# both with warnings as errors; then the concurrency tests alone under
# ThreadSanitizer, the Windows build under Wine and every fuzz target for
# 20 s. Exits non-zero when anything fails, a fuzz finding included.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

JOBS=2
# A test that hangs fails instead of holding up the run.
TEST_TIMEOUT=300
SANITIZE="-fsanitize=address,undefined -fno-sanitize-recover=all"
TSAN="-fsanitize=thread"
# Each concurrency test runs this many times under ThreadSanitizer: a race
# shows only when the threads happen to meet.
TSAN_REPEAT=5

SUMMARY=()
FAILED=0
PASSED_TESTS=0
FAILED_TESTS=0

log() { printf '\n=== %s\n' "$*"; }

# run_stage NAME COMMAND...: runs one stage, records its outcome and time.
run_stage() {
  local name=$1
  shift
  local start=$SECONDS
  log "$name"
  if "$@"; then
    SUMMARY+=("ok      $name ($((SECONDS - start)) s)")
  else
    SUMMARY+=("FAILED  $name ($((SECONDS - start)) s)")
    FAILED=1
  fi
}

# Adds the counts of a ctest log to the totals; fails when no test ran.
count_tests() {
  local line total failed
  line=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1) || true
  if [[ -z "$line" ]]; then
    echo "no test results found in $1"
    return 1
  fi
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
  total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
  FAILED_TESTS=$((FAILED_TESTS + failed))
  PASSED_TESTS=$((PASSED_TESTS + total - failed))
  [[ "$total" -gt 0 ]]
}

# build_and_test DIR CMAKE_ARGS...: configure, build, run ctest in DIR.
build_and_test() {
  local dir="$ROOT/$1"
  shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DSELVANE_WERROR=ON "$@" || return 1
  cmake --build "$dir" -j "$JOBS" || return 1
  local status=0
  (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout "$TEST_TIMEOUT") \
    2>&1 | tee "$dir/ctest.log" || status=1
  count_tests "$dir/ctest.log" || status=1
  return "$status"
}

stage_release() {
  build_and_test build-release -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

stage_sanitizers() {
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    build_and_test build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      "-DCMAKE_CXX_FLAGS=$SANITIZE -fno-omit-frame-pointer" \
      "-DCMAKE_EXE_LINKER_FLAGS=$SANITIZE" \
      "-DCMAKE_SHARED_LINKER_FLAGS=$SANITIZE"
}

# The concurrency tests alone, built with ThreadSanitizer. It checks every
# access the library's own code makes; StormLib, TinyXML and libstdc++ are
# not instrumented, so races inside them stay unseen (the archive library's
# one-time set-up is serialised by the DBC reader for that reason).
stage_threads() {
  local dir="$ROOT/build-tsan"
  cmake -S "$ROOT" -B "$dir" -G Ninja -DSELVANE_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS=$TSAN" \
    "-DCMAKE_EXE_LINKER_FLAGS=$TSAN" \
    "-DCMAKE_SHARED_LINKER_FLAGS=$TSAN" || return 1
  cmake --build "$dir" -j "$JOBS" --target concurrency_tests || return 1
  local status=0
  # Only the tests of the one binary built; the others' are listed unbuilt.
  (cd "$dir" && TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1} \
    ctest --output-on-failure --timeout "$TEST_TIMEOUT" \
      --repeat until-fail:"$TSAN_REPEAT" -R '^ConcurrencyTest\.') \
    2>&1 | tee "$dir/ctest.log" || status=1
  count_tests "$dir/ctest.log" || status=1
  return "$status"
}

# The Python module's pytest suite on the release and the sanitizer builds
# (each its own module and command line); a module that was not built fails
# the stage.
run_pytest() {
  local dir="$ROOT/$1" status=0
  cmake --build "$dir" -j "$JOBS" --target pytest 2>&1 |
    tee "$dir/pytest.log" || status=1
  local passed failed
  passed=$(grep -oE '[0-9]+ passed' "$dir/pytest.log" | tail -n 1 | cut -d' ' -f1)
  failed=$(grep -oE '[0-9]+ (failed|error)' "$dir/pytest.log" |
    awk '{n += $1} END {print n + 0}')
  PASSED_TESTS=$((PASSED_TESTS + ${passed:-0}))
  FAILED_TESTS=$((FAILED_TESTS + failed))
  [[ $status -eq 0 && ${passed:-0} -gt 0 ]]
}

stage_python() {
  local status=0
  run_pytest build-release || status=1
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    run_pytest build-asan || status=1
  return "$status"
}

# The Windows DLL, its tests and the command line, cross-built with
# mingw-w64 and run under Wine (scripts/test-windows.sh; it installs what it
# needs). Its summary says when the archive reader was left out.
stage_windows() {
  local log="$ROOT/build-windows/stage.log" status=0
  mkdir -p "$ROOT/build-windows"
  JOBS=$JOBS TEST_TIMEOUT=$TEST_TIMEOUT "$ROOT/scripts/test-windows.sh" \
    2>&1 | tee "$log" || status=1
  count_tests "$ROOT/build-windows/ctest.log" || status=1
  if grep -q 'archive reader was not built' "$log"; then
    WINDOWS_NO_ARCHIVE=1
  fi
  return "$status"
}

# Every fuzz target for 20 s under AddressSanitizer and
# UndefinedBehaviorSanitizer. The bootstrap stage installs clang with the
# libFuzzer runtime, so the stage fails when it is still missing, when a
# target does not build or run, and when a target finds anything (kept
# under fuzz/crashes/).
stage_fuzz() {
  if ! "$ROOT/scripts/fuzz.sh" --check; then
    echo "fuzz: no clang++ with the libFuzzer runtime (scripts/bootstrap.sh --fuzz)"
    return 1
  fi
  local log="$ROOT/build-fuzz/stage.log" status=0
  mkdir -p "$ROOT/build-fuzz"
  "$ROOT/scripts/fuzz.sh" 20 2>&1 | tee "$log" || status=$?
  local ran
  ran=$(grep -cE 'execs [0-9]+' "$log" || true)
  if [[ "$ran" -ne 4 ]]; then
    echo "fuzz: only $ran of 4 targets ran"
    return 1
  fi
  if [[ $status -ne 0 ]]; then
    echo "fuzz: findings kept under fuzz/crashes/"
    return 1
  fi
  return 0
}

print_summary() {
  log "summary"
  printf '%s\n' "${SUMMARY[@]}"
  printf 'elapsed: %d s\n' "$((SECONDS - RUN_START))"
  if [[ ${WINDOWS_NO_ARCHIVE:-0} -ne 0 ]]; then
    echo "Windows: the archive reader was not built (no STORMLIB_WINDOWS_PREFIX)"
  fi
  printf 'tests: %d passed, %d failed\n' "$PASSED_TESTS" "$FAILED_TESTS"
}

main() {
  RUN_START=$SECONDS
  run_stage "bootstrap" "$ROOT/scripts/bootstrap.sh" --fuzz
  if [[ $FAILED -ne 0 ]]; then
    print_summary
    return 1
  fi
  run_stage "release build (RelWithDebInfo)" stage_release
  run_stage "sanitizer build (ASan+UBSan)" stage_sanitizers
  run_stage "thread sanitizer (concurrency tests)" stage_threads
  run_stage "Python module (pytest)" stage_python
  run_stage "Windows build, tests under Wine (mingw-w64)" stage_windows
  run_stage "fuzz targets (libFuzzer, 20 s each)" stage_fuzz
  print_summary
  [[ $FAILED -eq 0 ]]
}

main "$@"
