#!/usr/bin/env bash
# Builds the file-search benchmark in the Windows tree and runs it under Wine, in the tree's
# isolated Wine environment, on the generated tree of the drive-scan benchmark (200,000 files in
# 200 folders, made once by scripts/bench-scan.sh and reused; made here when it is missing).
# Usage: bench-search.sh [REPETITIONS] [QUERY]
# The default query, "Summer 08", matches 2,600 of the 200,000 names (1.3 %).
# PELMORA_SCAN_BENCH_TREE chooses another place for the generated tree.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$top/build/windows"
repetitions=${1:-5}
query=${2:-Summer 08}

tree=${PELMORA_SCAN_BENCH_TREE:-$build/bench/scan-tree}
if [ ! -e "$tree.v2.complete" ]; then
  # The scan benchmark makes the tree; one repetition of it is the price of not keeping two
  # copies of the generator.
  "$top/scripts/bench-scan.sh" 1
fi
cmake --build "$build" -j 2 --target search_bench >/dev/null

# shellcheck source=/dev/null
source "$top/scripts/wine-environment.sh"
pelmora_wine_environment "$build/wine"
pelmora_wine_prefix_ready
wine "$build/bench/search_bench.exe" "$tree" "$repetitions" "$query"
