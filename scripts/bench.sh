#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: every query through the
# library next to the floor of its own work, measured side by side in one
# run. Prints the table and writes it as JSON to build-bench/results.json.
# Extra arguments go to the benchmark (e.g. --benchmark_filter=wdb).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-bench"

"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSELVANE_TESTS=OFF -DSELVANE_BENCH=ON >/dev/null
cmake --build "$build" --target selvane_bench -j2
echo "machine: $(nproc) cores, $(uname -m), $(uname -sr)"
"$build/bench/selvane_bench" --json="$build/results.json" \
  --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true "$@"
echo "results: $build/results.json"
