#!/usr/bin/env bash
# Builds the duplicate-finder benchmark in the Windows tree and runs it under Wine, in the tree's
# isolated Wine environment, on a generated tree of 21,600 files in 100 folders, made once and
# reused: files below 512 bytes, files of unique sizes, equal sizes with different beginnings,
# equal beginnings with different ends, and real copies from 512 bytes to 1 MiB.
# Usage: bench-duplicates.sh [REPETITIONS]
# PELMORA_DUPLICATE_BENCH_TREE chooses another place for the generated tree.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$top/build/windows"
repetitions=${1:-5}

if [ ! -e "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j 2 --target duplicate_bench >/dev/null

tree=${PELMORA_DUPLICATE_BENCH_TREE:-$build/bench/duplicate-tree}
# The stamp lies beside the tree, not in it, so it is not walked.
if [ ! -e "$tree.v1.complete" ]; then
  command -v python3 >/dev/null || { echo "bench-duplicates: python3 is needed to make the tree" >&2; exit 1; }
  echo "bench-duplicates: making $tree"
  rm -rf "$tree"
  python3 - "$tree" <<'PYTHON'
import os
import random
import sys

root = sys.argv[1]
rng = random.Random(20261211)
folders = [os.path.join(root, f"d{top:02d}", f"e{sub:02d}") for top in range(10) for sub in range(10)]
for folder in folders:
    os.makedirs(folder)
used_sizes = set()
count = 0


def fresh_size(low, high):
    while True:
        size = rng.randint(low, high)
        if size not in used_sizes:
            used_sizes.add(size)
            return size


def new_path():
    global count
    count += 1
    return os.path.join(rng.choice(folders), f"file {count:05d}.bin")


def write(head, size, tail=b""):
    # `head` at the start, `tail` at the very end, zeros (sparse) between: hashing reads every
    # byte all the same, and the tree stays small on disk.
    path = new_path()
    with open(path, "wb") as file:
        file.write(head)
        if size > len(head):
            file.truncate(size - len(tail))
            file.seek(size - len(tail))
            file.write(tail)


for _ in range(1000):  # below the smallest candidate
    write(rng.randbytes(rng.randint(0, 511)), 0)
for _ in range(9000):  # unique sizes: never read
    write(b"", fresh_size(512, 400_000))
for _ in range(3000):  # pairs of equal size whose first 4096 bytes differ
    size = fresh_size(4097, 200_000)
    for _ in range(2):
        write(rng.randbytes(4096), size)
for _ in range(1000):  # pairs with equal first 4096 bytes and different ends
    size = fresh_size(4097, 200_000)
    head = rng.randbytes(4096)
    for _ in range(2):
        write(head, size, rng.randbytes(16))
for _ in range(1000):  # three copies of a small file
    content = rng.randbytes(fresh_size(512, 4096))
    for _ in range(3):
        write(content, len(content))
for _ in range(300):  # two copies of a large file, real content
    content = rng.randbytes(fresh_size(4097, 1 << 20))
    for _ in range(2):
        write(content, len(content))
print(f"{count} files")
PYTHON
  touch "$tree.v1.complete"
fi

# shellcheck source=/dev/null
source "$top/scripts/wine-environment.sh"
pelmora_wine_environment "$build/wine"
pelmora_wine_prefix_ready
wine "$build/bench/duplicate_bench.exe" "$tree" "$repetitions"
