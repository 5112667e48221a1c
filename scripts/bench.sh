#!/usr/bin/env bash
# Builds the optimised tree build/release and runs every benchmark in it
# (build/release/bench/*_bench). Extra arguments go to each benchmark, for example
#   scripts/bench.sh --benchmark_filter=ScanBatch --benchmark_repetitions=5
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${PELMORA_JOBS:-$(nproc)}
tree="$top/build/release"

cmake -S "$top" -B "$tree" -DPELMORA_BUILD_TESTS=OFF -DPELMORA_BUILD_BENCHMARKS=ON \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tree" -j "$jobs"

status=0
found=0
for benchmark in "$tree"/bench/*_bench; do
  [ -x "$benchmark" ] && [ -f "$benchmark" ] || continue
  found=1
  echo "== $(basename "$benchmark")"
  "$benchmark" "$@" || status=$?
done
if [ "$found" -eq 0 ]; then
  echo "bench: no benchmark executables in $tree/bench" >&2
  exit 1
fi
exit "$status"
