#!/usr/bin/env bash
# Installs what the project needs (only what is missing), then configures and builds every tree:
#   build/windows  the Windows product and its tests (MinGW-w64; tests run under Wine)
#   build/native   the platform-free layer with AddressSanitizer and UndefinedBehaviorSanitizer
#   build/tsan     the platform-free layer with ThreadSanitizer, for the threaded channel tests
#   build/release  the platform-free layer optimised, for the benchmarks
# Runs as root on a fresh Debian 12 machine; safe to run again.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${PELMORA_JOBS:-$(nproc)}

packages=(
  cmake make g++ git
  googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  util-linux procps
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

configure() {
  local tree=$1; shift
  cmake -S "$top" -B "$top/build/$tree" "$@" >/dev/null
}
configure windows -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo
configure native -DPELMORA_SANITIZERS=address,undefined -DCMAKE_BUILD_TYPE=Debug
configure tsan -DPELMORA_SANITIZERS=thread -DCMAKE_BUILD_TYPE=Debug
configure release -DPELMORA_BUILD_TESTS=OFF -DPELMORA_BUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release

for tree in native windows release; do
  echo "setup: building $tree"
  cmake --build "$top/build/$tree" -j "$jobs"
done
# The ThreadSanitizer tree only serves the tests labelled "threads".
echo "setup: building tsan (threaded tests)"
cmake --build "$top/build/tsan" -j "$jobs" --target pelmora_threaded_tests
