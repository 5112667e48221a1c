#!/usr/bin/env bash
# Builds the host and the command-line client (as scripts/setup.sh --run does) and installs both
# under one prefix:
#   PREFIX/bin/pelmora-cli           the client
#   PREFIX/lib/pelmora/pelmora.exe   the host, with its data folder beside it
# The client finds the host there by its own location, so PREFIX/bin may go on PATH and the
# prefix may be moved as a whole. Safe to run again: an install over an earlier one replaces
# what changed.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage="usage: scripts/install.sh PREFIX   (for example: scripts/install.sh \"\$HOME/.local\")"
case "${1:-}" in
  -h | --help)
    echo "$usage"
    exit 0
    ;;
esac
if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "$usage" >&2
  exit 2
fi

# An absolute prefix, so the places printed below hold from any folder.
mkdir -p -- "$1"
prefix=$(cd -- "$1" && pwd)

"$top/scripts/setup.sh" --run

# Each tree installs only its own component: the Windows tree's test executables never go.
echo "install: installing into $prefix"
cmake --install "$top/build/windows" --component host --prefix "$prefix" >/dev/null
cmake --install "$top/build/release" --component client --prefix "$prefix" >/dev/null

echo "install: the client  $prefix/bin/pelmora-cli"
echo "install: the host    $prefix/lib/pelmora/pelmora.exe (its data folder beside it)"
echo "install: try it with \"$prefix/bin/pelmora-cli\" drives"
