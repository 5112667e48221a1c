#!/usr/bin/env bash
# The run command: installs what is missing and builds the host and the client
# (scripts/setup.sh --run), gives a folder a drive letter in pelmora-cli's Wine settings and
# scans that drive through the host, with live progress and the largest folders and files at
# the end. Ctrl-C cancels the scan and shows the partial result.
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

"$top/scripts/setup.sh" --run

cli="$top/build/release/cli/pelmora-cli"
host="$top/build/windows/runner/pelmora.exe"
echo "run: scanning $folder as drive $letter: through $host"
"$cli" map "$letter" "$folder"
exec "$cli" --host "$host" scan "$letter"
