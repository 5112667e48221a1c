#!/usr/bin/env bash
# Builds the drive-scan benchmark in the Windows tree and runs it under Wine, in the tree's
# isolated Wine environment, on two generated folder trees made once and reused:
#   - 10 x 20 folders of 1000 files each (200,000 files and 210 folders);
#   - 10 x 100 folders of 1000 files each (1,000,000 files and 1,010 folders).
# For each it prints the timings of the scan (listing threads reading ahead), of the scan one
# folder at a time, of a bare single-threaded walk and of the same walk with
# NtQueryDirectoryFile, their medians and ratios, and the peak working set of a process doing one
# scan of each kind. The machine's load comes first and last: other work on the machine skews
# the times. Usage: bench-scan.sh [REPETITIONS]
# PELMORA_SCAN_BENCH_TREE chooses another place for the 200,000-file tree (the large one goes
# beside it); PELMORA_SCAN_BENCH_MILLION=0 skips the large tree.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$top/build/windows"
repetitions=${1:-5}

if [ ! -e "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j 2 --target scan_bench >/dev/null

# make_tree FOLDER SUBFOLDERS_PER_TOP: 10 top folders, each with that many sub-folders of 1000
# files of varied names and sizes.
make_tree() {
  local tree=$1 subfolders=$2
  # The stamp lies beside the tree, not in it, so it is not scanned.
  if [ -e "$tree.v2.complete" ]; then
    return
  fi
  command -v python3 >/dev/null || { echo "bench-scan: python3 is needed to make the tree" >&2; exit 1; }
  echo "bench-scan: making $tree"
  rm -rf "$tree"
  python3 - "$tree" "$subfolders" <<'PYTHON'
import os
import sys

root = sys.argv[1]
subfolders = int(sys.argv[2])
extensions = ["txt", "dat", "JPG", "log", "dll", "tar.gz", ""]
# Names of everyday lengths, most longer than a short-string buffer.
stems = ["a", "img", "report", "setup-log", "Quarterly Report", "node_modules-cache-entry",
         "Photo from the summer holiday", "très-long-nom-de-fichier-accentué"]
count = 0
for top in range(10):
    for sub in range(subfolders):
        folder = os.path.join(root, f"folder{top:02d}", f"subfolder {sub:02d}")
        os.makedirs(folder)
        for index in range(1000):
            extension = extensions[count % len(extensions)]
            stem = stems[count % len(stems)]
            name = f"{stem} {index:04d}" + (f".{extension}" if extension else "")
            with open(os.path.join(folder, name), "wb") as file:
                # Sparse files: varied sizes without writing the bytes.
                file.truncate((count * 7919) % 1_000_000)
            count += 1
PYTHON
  touch "$tree.v2.complete"
}

tree=${PELMORA_SCAN_BENCH_TREE:-$build/bench/scan-tree}
trees=("$tree")
make_tree "$tree" 20
if [ "${PELMORA_SCAN_BENCH_MILLION:-1}" != 0 ]; then
  trees+=("$tree-million")
  make_tree "$tree-million" 100
fi

# shellcheck source=/dev/null
source "$top/scripts/wine-environment.sh"
pelmora_wine_environment "$build/wine"
pelmora_wine_prefix_ready
echo "load before: $(uptime)"
for measured in "${trees[@]}"; do
  wine "$build/bench/scan_bench.exe" "$measured" "$repetitions"
  for kind in read-ahead one-folder-at-a-time; do
    wine "$build/bench/scan_bench.exe" "$measured" --peak-memory "$kind"
  done
done
echo "load after: $(uptime)"
