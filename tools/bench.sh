#!/usr/bin/env bash
# Builds the benchmarks (Release, -DQUORIN_BUILD_BENCH=ON) and runs bin/quorin_bench, which
# prints one table. Arguments go to the benchmark program (e.g. --benchmark_filter=Memory).
# Installs missing Debian 12 packages first (as root). Build folder:
# ${QUORIN_BUILD_ROOT:-build}/bench.
set -euo pipefail
cd "$(dirname "$(realpath "$0")")/.."
dir=$(realpath -m "${QUORIN_BUILD_ROOT:-build}")/bench

tools/deps.sh base bench
cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQUORIN_BUILD_BENCH=ON \
  -DQUORIN_BUILD_TESTS=OFF -DQUORIN_BUILD_EXAMPLES=OFF
ninja -C "$dir" -j "${QUORIN_JOBS:-2}" quorin_bench
# This machine's timings wander between runs; medians of five repetitions, run interleaved so
# that both sides of a ratio see the same conditions, make the ratios steadier.
if [[ $# -eq 0 ]]; then
  set -- --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2
fi
"$dir/bin/quorin_bench" "$@"
