#!/usr/bin/env bash
# The run command: installs and builds everything (scripts/setup.sh), gives a folder a drive
# letter in pelmora-cli's Wine settings and scans it through the host, with live progress and
# the summary at the end.
#   scripts/run.sh [FOLDER]      FOLDER defaults to this repository
# PELMORA_RUN_DRIVE picks the drive letter (default P).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
folder=${1:-$top}
letter=${PELMORA_RUN_DRIVE:-P}

if [ ! -d "$folder" ]; then
  echo "run: $folder is not a folder" >&2
  exit 2
fi
folder=$(cd "$folder" && pwd)

"$top/scripts/setup.sh"

host="$top/build/windows/runner/pelmora.exe"
if [ ! -f "$host" ]; then
  echo "run: the host $host has not been built; scripts/setup.sh builds it once the runner exists" >&2
  exit 1
fi
if [ ! -d "$(dirname "$host")/data/flutter_assets" ]; then
  echo "run: $(dirname "$host")/data/flutter_assets is missing; the host cannot start without it" >&2
  exit 1
fi

cli="$top/build/release/cli/pelmora-cli"
"$cli" map "$letter" "$folder"
exec "$cli" --host "$host" scan "$letter"
