#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz/, writes
# their seed corpora with the fixture builders and runs each target for
# SECONDS (default 60). Inputs that crash, hang, leak or run out of memory
# are kept under fuzz/crashes/<target>/; the growing corpus is kept under
# fuzz/corpus/<target>/. Exits non-zero when any target found something.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   targets: definitions wdb dbc archive
#   scripts/fuzz.sh --check                 0 when clang can build a fuzz target
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-fuzz"
JOBS=2
ALL_TARGETS=(definitions wdb dbc archive)
# Seconds after which one input counts as a hang. The archive guard lets
# through archive tables of up to 2^20 entries, which the archive library
# takes up to a second to set up and free natively and several seconds under
# the sanitizer on a busy machine (2.5 s for one 970-byte archive alone).
TIMEOUT=15
# Largest input per target: small inputs keep each execution quick.
declare -A MAX_LEN=([definitions]=65536 [wdb]=16384 [dbc]=16384 [archive]=65536)

log() { printf 'fuzz: %s\n' "$*"; }

# True when clang++ builds and links a trivial fuzz target (with the zlib
# header, which the archive target's watch on the archive library needs).
toolchain_present() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local dir status=0
  dir=$(mktemp -d)
  printf '%s\n' '#include <zlib.h>' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' \
    >"$dir/probe.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" \
    >/dev/null 2>&1 || status=1
  rm -rf "$dir"
  return "$status"
}

build() {
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELVANE_FUZZ=ON -DSELVANE_WERROR=ON \
    -DSELVANE_TESTS=OFF -DSELVANE_BENCH=OFF -DSELVANE_TOOLS=OFF \
    -DSELVANE_EXAMPLES=OFF -DSELVANE_INSTALL=OFF >/dev/null
  cmake --build "$BUILD" -j "$JOBS"
  rm -rf "$BUILD/seeds"
  "$BUILD/fuzz/fuzz_seeds" "$BUILD/seeds"
}

# The value after "key:" in a libFuzzer stats line.
stat_of() { sed -nE "s/.* $1: ([0-9]+).*/\1/p" <<<"$2"; }

# run_target NAME SECONDS: runs one target; returns 1 when it found anything.
run_target() {
  local name=$1 seconds=$2
  local corpus="$ROOT/fuzz/corpus/$name" crashes="$ROOT/fuzz/crashes/$name"
  local logfile="$BUILD/logs/$name.log"
  mkdir -p "$corpus" "$crashes" "$BUILD/logs"
  local before
  before=$(find "$crashes" -type f | sort)

  local status=0 pid
  # An allocation above 256 MiB fails with null, as one no address space
  # can hold does outside the sanitizer. The archive library asks for up to
  # 4 GiB (a size from a damaged table header), touches little of it and
  # leaves the table out when its read fails: natively that costs a fraction
  # of a second, under the sanitizer poisoning and quarantining the block
  # costs seconds (33 s for one 3 KiB input at a 2 GiB bound). Refused, the
  # library leaves the table out just the same. No input of the largest
  # size below needs more: the archive guard bounds what an archive's
  # tables may cost at 2^20 entries (80 MiB). Memory actually used above
  # 2 GiB always counts as a finding.
  ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_may_return_null=1:max_allocation_size_mb=256} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    "$BUILD/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout="$TIMEOUT" \
    -rss_limit_mb=2048 -max_len="${MAX_LEN[$name]}" \
    -print_final_stats=1 -artifact_prefix="$crashes/" \
    "$corpus" "$BUILD/seeds/$name" \
    >"$logfile" 2>&1 &
  pid=$!
  wait "$pid" || status=$?
  # A target that dies cannot remove its own scratch folder.
  rm -rf "/dev/shm/selvane-fuzz-$name-$pid" \
    "${TMPDIR:-/tmp}/selvane-fuzz-$name-$pid"

  local last execs
  last=$(grep -E '^#[0-9]+.* cov: ' "$logfile" | tail -n 1) || true
  execs=$(sed -nE 's/^stat::number_of_executed_units: ([0-9]+)/\1/p' \
    "$logfile" | tail -n 1)
  [[ -n "$execs" ]] || execs=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$last")
  local found
  found=$(comm -13 <(printf '%s\n' "$before") \
    <(find "$crashes" -type f | sort) | sed '/^$/d')
  printf '%-12s execs %-9s cov %-6s ft %-6s ' "$name" "${execs:-?}" \
    "$(stat_of cov "$last")" "$(stat_of ft "$last")"
  if [[ $status -eq 0 && -z "$found" ]]; then
    echo "found nothing"
    return 0
  fi
  echo "FOUND (exit $status), log: ${logfile#"$ROOT"/}"
  grep -m 3 -E '^(==[0-9]+==ERROR|SUMMARY|query oracle|fuzz_)' "$logfile" |
    sed 's/^/    /' || true
  if [[ -n "$found" ]]; then
    printf '    kept %s\n' ${found//"$ROOT"\//}
  fi
  return 1
}

main() {
  if [[ ${1:-} == --check ]]; then
    toolchain_present
    return
  fi
  local seconds=${1:-60}
  [[ $# -gt 0 ]] && shift
  local targets=("$@")
  [[ ${#targets[@]} -gt 0 ]] || targets=("${ALL_TARGETS[@]}")
  if ! [[ $seconds =~ ^[0-9]+$ ]] || [[ $seconds -eq 0 ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
    return 2
  fi
  if ! toolchain_present; then
    log "clang++ with the libFuzzer runtime is missing; as root, run:"
    echo "  scripts/bootstrap.sh --fuzz"
    return 1
  fi
  log "building in ${BUILD#"$ROOT"/}"
  build
  local failed=0 name
  log "running ${targets[*]} for $seconds s each"
  for name in "${targets[@]}"; do
    if [[ -z ${MAX_LEN[$name]:-} ]]; then
      echo "unknown target: $name" >&2
      return 2
    fi
    run_target "$name" "$seconds" || failed=1
  done
  return "$failed"
}

main "$@"
