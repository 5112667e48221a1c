#!/usr/bin/env bash
# Installs what the project needs (only what is missing), then configures and builds every tree:
#   build/windows  the Windows product and its tests (MinGW-w64; tests run under Wine)
#   build/native   the platform-free layer with AddressSanitizer and UndefinedBehaviorSanitizer
#   build/tsan     the platform-free layer with ThreadSanitizer, for the threaded channel tests
#   build/release  the platform-free layer optimised, for the benchmarks, and the client
# With --run it builds only what the run command needs: the host (build/windows, target
# pelmora) and the command-line client (build/release, target pelmora-cli).
# Meant for a fresh Debian 12 machine; installing packages needs root (or sudo). Safe to run
# again.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${PELMORA_JOBS:-$(nproc)}

mode=all
case "${1:-}" in
  "") ;;
  --run) mode=run ;;
  *) echo "usage: scripts/setup.sh [--run]" >&2; exit 2 ;;
esac

packages=(
  cmake make g++ git
  googletest libbenchmark-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  util-linux procps
  chromium
  openssl osslsigncode
  libncurses-dev tmux
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "setup: installing ${missing[*]} needs root; run this as root or install sudo" >&2
      exit 1
    fi
    as_root=(sudo)
  fi
  echo "setup: installing ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

configure() {
  local tree=$1; shift
  cmake -S "$top" -B "$top/build/$tree" "$@" >/dev/null
}
configure_windows() {
  configure windows -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo
}
configure_release() {
  configure release -DPELMORA_BUILD_TESTS=OFF -DPELMORA_BUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release
}

if [ "$mode" = run ]; then
  configure_windows
  configure_release
  echo "setup: building the host (build/windows/runner/pelmora.exe)"
  cmake --build "$top/build/windows" -j "$jobs" --target pelmora
  echo "setup: building the client (build/release/cli/pelmora-cli)"
  cmake --build "$top/build/release" -j "$jobs" --target pelmora-cli
  exit 0
fi

configure_windows
configure native -DPELMORA_SANITIZERS=address,undefined -DCMAKE_BUILD_TYPE=Debug
configure tsan -DPELMORA_SANITIZERS=thread -DCMAKE_BUILD_TYPE=Debug
configure_release

for tree in native windows release; do
  echo "setup: building $tree"
  cmake --build "$top/build/$tree" -j "$jobs"
done
# The ThreadSanitizer tree only serves the tests labelled "threads".
echo "setup: building tsan (threaded tests)"
cmake --build "$top/build/tsan" -j "$jobs" --target pelmora_threaded_tests
