#!/usr/bin/env bash
# The project's test command: setup (packages, configure, build), then every test of the
# native tree (under AddressSanitizer and UndefinedBehaviorSanitizer), the threaded tests of the
# ThreadSanitizer tree, and every test of the Windows tree (under Wine). Fails when anything
# fails.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${PELMORA_JOBS:-$(nproc)}

"$top/scripts/setup.sh"

echo "== native tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$top/build/native" --output-on-failure -j "$jobs"

echo "== threaded tests (ThreadSanitizer)"
# Only the tests labelled "threads": the ones whose point is what several threads do at once.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir "$top/build/tsan" --output-on-failure -j "$jobs" -L threads

echo "== Windows tests (under Wine)"
# One wineserver stays up for the whole run so each test starts warm; it is stopped on every
# exit path, and it runs in the tree's private prefix only.
(
  # shellcheck source=/dev/null
  source "$top/scripts/wine-environment.sh"
  pelmora_wine_environment "$top/build/windows/wine"
  pelmora_wine_prefix_ready
  wineserver -p
  trap 'wineserver -k 2>/dev/null || true' EXIT
  ctest --test-dir "$top/build/windows" --output-on-failure -j "$jobs"
)
