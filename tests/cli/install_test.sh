#!/usr/bin/env bash
# An install as a person makes it: both trees' install rules into a temporary prefix (whose name
# has a space), then the installed client, with no PELMORA_HOST, finds and starts the installed
# host under Wine (Wine settings below the build tree) to list the drives and scan a fixture
# mapped with "map". A copy of the client in an empty folder says every place it looked, and
# PELMORA_HOST names the host it should use instead. Nothing is built here: the trees are built
# before the tests run (scripts/test.sh).
# Usage: install_test.sh CMAKE SOURCE_DIR CLIENT_TREE WINDOWS_TREE WINE_ROOT
set -euo pipefail
cmake=$1
source_dir=$2
client_tree=$3
windows_tree=$4
wine_root=$5
export PELMORA_WINE_ROOT=$wine_root
unset PELMORA_HOST
letter=I
link="$wine_root/prefix/dosdevices/i:"

work=$(mktemp -d)
cleanup() {
  # The letter points into the fixture, which goes now.
  rm -f -- "$link"
  WINEPREFIX="$wine_root/prefix" wineserver -k 2>/dev/null || true
  rm -rf -- "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Runs a command with its output in $work/out and $work/err; sets $status.
run() {
  status=0
  "$@" >"$work/out" 2>"$work/err" || status=$?
}
show() { echo "--- standard output:"; cat "$work/out"; echo "--- standard error:"; cat "$work/err"; } >&2
expect_status() {
  [ "$status" -eq "$1" ] || { show; fail "$2: exit code $status, expected $1"; }
}
expect_line() {
  grep -qxF -- "$2" "$work/$1" || { show; fail "no line \"$2\" in the client's $1put"; }
}

# The script refuses to run without a prefix, before it builds anything.
run "$source_dir/scripts/install.sh"
expect_status 2 "install.sh without a prefix"
grep -q '^usage: scripts/install.sh PREFIX' "$work/err" || { show; fail "install.sh gave no usage line"; }

[ -f "$windows_tree/runner/pelmora.exe" ] ||
  fail "the host $windows_tree/runner/pelmora.exe does not exist: build the Windows tree first (scripts/setup.sh builds every tree), or configure this tree with -DPELMORA_WINDOWS_TREE=PATH"

prefix="$work/pre fix"
"$cmake" --install "$windows_tree" --component host --prefix "$prefix" >/dev/null
"$cmake" --install "$client_tree" --component client --prefix "$prefix" >/dev/null
client="$prefix/bin/pelmora-cli"
[ -x "$client" ] || fail "no client at $client"
[ -f "$prefix/lib/pelmora/pelmora.exe" ] || fail "no host in $prefix/lib/pelmora"
[ -d "$prefix/lib/pelmora/data/flutter_assets" ] || fail "the host's data folder was not installed beside it"
# The client, the host and its data folder; no test executable or anything else.
others=$(cd "$prefix" && find . -type f ! -path './lib/pelmora/data/*' | sort | tr '\n' ' ')
[ "$others" = "./bin/pelmora-cli ./lib/pelmora/pelmora.exe " ] || fail "unexpected files installed: $others"

# The installed client finds the installed host (the only pelmora.exe any of its places holds).
run "$client" drives
expect_status 0 "drives"
grep -q '^C: ' "$work/out" || { show; fail "drives listed no C:"; }

fixture=$work/fixture
mkdir -p "$fixture/docs"
head -c 3000 /dev/zero >"$fixture/large.bin"
head -c 200 /dev/zero >"$fixture/docs/small.txt"
run "$client" map "$letter" "$fixture"
expect_status 0 "map"
run "$client" scan "$letter"
expect_status 0 "scan"
expect_line out "  Files:    2"
expect_line out "  Size:     3.1 KiB (3,200 bytes)"
expect_line out "  2.9 KiB  I:\\large.bin"
run "$client" unmap "$letter"
expect_status 0 "unmap"

# A copy in a folder of its own names every place it looked, in order, and starts nothing.
copy_folder="$work/copy/bin"
mkdir -p "$copy_folder"
cp -- "$client" "$copy_folder/"
run "$copy_folder/pelmora-cli" drives
expect_status 2 "the copied client"
expect_line err "pelmora-cli: no host found; looked for pelmora.exe at:"
expect_line err "  $work/copy/bin/pelmora.exe (beside the client)"
expect_line err "  $work/copy/lib/pelmora/pelmora.exe (installed with the client)"
expect_line err "  $work/windows/runner/pelmora.exe (in the build the client belongs to)"

# PELMORA_HOST names the host, and only that one is tried.
run env PELMORA_HOST="$work/elsewhere/pelmora.exe" "$client" drives
expect_status 2 "a missing PELMORA_HOST"
grep -qF "the host $work/elsewhere/pelmora.exe named by PELMORA_HOST was not found" "$work/err" ||
  { show; fail "the missing PELMORA_HOST was not named"; }
run env PELMORA_HOST="$prefix/lib/pelmora/pelmora.exe" "$copy_folder/pelmora-cli" drives
expect_status 0 "the copied client with PELMORA_HOST"
grep -q '^C: ' "$work/out" || { show; fail "drives listed no C:"; }

echo "install test passed"
