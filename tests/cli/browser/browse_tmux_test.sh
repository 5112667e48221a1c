#!/usr/bin/env bash
# pelmora-cli browse in a real terminal (tmux, 80x24) against the real host, on a fixture drive
# mapped with "map" in Wine settings below the build tree: navigation, sorting, a recycle that
# the fixture and the settings' own trash confirm, a resize, and quit with the terminal given
# back; then a saved scan of that drive, whose recycle starts a host on demand; then a folder
# whose lent letter is remapped while it is browsed. Every step waits for what the screen must
# show, never for a fixed time.
# Usage: browse_tmux_test.sh CLIENT WINE_ROOT
set -euo pipefail
client=$1
wine_root=$2
export PELMORA_WINE_ROOT=$wine_root
work=$(mktemp -d)
socket="pelmora-browse-$$"
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  # The letters point into the fixture, which goes now; a browser that failed midway may have
  # left the one lent to it.
  "$client" unmap S >/dev/null 2>&1 || true
  [ -z "${letter:-}" ] || "$client" unmap "$letter" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fixture=$work/fixture
mkdir -p "$fixture/docs/deep"
head -c 300000 /dev/zero >"$fixture/big.iso"
head -c 5000 /dev/zero >"$fixture/docs/a.txt"
head -c 120000 /dev/zero >"$fixture/docs/deep/c.bin"
head -c 40 /dev/zero >"$fixture/zeta.log"
"$client" map S "$fixture" >/dev/null

pane=browse
# shellcheck source=../support/tmux_screen.sh
source "$(dirname "$0")/../support/tmux_screen.sh"

# Without a terminal the browser refuses to start, before any host.
if "$client" browse S </dev/null >"$work/out" 2>"$work/err"; then
  echo "FAIL: browse ran without a terminal" >&2
  exit 1
fi
grep -q "needs a terminal" "$work/err" || { echo "FAIL: no reason given: $(cat "$work/err")" >&2; exit 1; }

tmux -L "$socket" new-session -d -x 80 -y 24 -s browse \
  "env ASAN_OPTIONS=detect_leaks=0 '$client' browse S; echo \"browse exited with \$?\"; sleep 600"
wait_for "scan complete  415.1 KiB  4 files  2 folders"
wait_for "293.0 KiB [########    ]  70.6%           big.iso"
wait_for "d recycle  o show  ? keys  q quit"

# Sorting by name puts big.iso, docs, zeta.log in order; by count, docs first.
keys s
wait_for "sorted by name"
keys s
wait_for "sorted by count"
screen | sed -n 3p | grep -qF 'docs\' || { echo "FAIL: count order" >&2; screen >&2; exit 1; }
keys s s
wait_for "sorted by size"

# Into docs, onto a.txt, recycle it after the question.
keys Down Enter
wait_for " S:\\docs  122.1 KiB  3 items"
keys Down d
wait_for "Recycle S:\\docs\\a.txt (4.9 KiB)? y/N"
keys n
wait_for "Nothing recycled."
[ -e "$fixture/docs/a.txt" ] || { echo "FAIL: a declined recycle removed the file" >&2; exit 1; }
# Wine records the item by the drive's path in the prefix; earlier runs may have left records of
# the same name, so the test counts them.
trash_record="Path=$wine_root/prefix/dosdevices/s:/docs/a.txt"
trash_records() { cat "$wine_root"/home/.local/share/Trash/info/*.trashinfo 2>/dev/null | grep -cxF "$trash_record" || true; }
before=$(trash_records)
keys d y
wait_for "Recycled S:\\docs\\a.txt (4.9 KiB)."
wait_for "scan complete  410.2 KiB  3 files  2 folders"
[ ! -e "$fixture/docs/a.txt" ] || { echo "FAIL: a.txt is still in the fixture" >&2; exit 1; }
[ "$(trash_records)" -eq $((before + 1)) ] || { echo "FAIL: a.txt is not in the Wine settings' trash" >&2; exit 1; }

# Back up, the largest files below the root.
keys Left
wait_for " S:\\  410.2 KiB"
keys f
wait_for "Largest files below S:\\"
wait_for 'docs\deep\c.bin'

# A resize redraws at the new size: the keys line, as much of it as 60 columns hold, moves to the
# new last row (row 12 was an empty row of the list before).
tmux -L "$socket" resize-window -t browse -x 60 -y 12
wait_for_row 12 " Enter open  Left up  s sort  f files  d recycle  o show  ?"

# Quit: the client ends with 0 and the shell's screen is back.
keys q
wait_for "browse exited with 0"
if screen | grep -qF "d recycle"; then
  echo "FAIL: the browser's screen was left behind" >&2
  screen >&2
  exit 1
fi
tmux -L "$socket" kill-session -t browse

# A saved scan of the same drive, browsed without a host until a confirmed recycle needs one.
# zeta.log goes after the scan was saved, so the saved scan still lists it.
"$client" scan S --save "$work/s.json" >"$work/scan.out" 2>"$work/scan.err" ||
  { echo "FAIL: scan --save: $(cat "$work/scan.err")" >&2; exit 1; }
rm "$fixture/zeta.log"
tmux -L "$socket" new-session -d -x 80 -y 24 -s browse \
  "env ASAN_OPTIONS=detect_leaks=0 '$client' browse --load '$work/s.json' 2>'$work/load.err'; echo \"browse exited with \$?\"; sleep 600"
wait_for "S:\\  scan complete  410.2 KiB  3 files  2 folders"
keys d
wait_for "Recycle S:\\big.iso (293.0 KiB when saved)? y/N"
keys n
wait_for "Nothing recycled."
[ -e "$fixture/big.iso" ] || { echo "FAIL: a declined recycle of a saved scan removed the file" >&2; exit 1; }
# Showing an item needs a window someone can see; nothing is started for it.
keys o
wait_for "Showing an item opens a window: run browse with --display"
# An item gone since the scan was saved is said to be gone, and the totals stay.
keys Down Down d
wait_for "Recycle S:\\zeta.log (40 B when saved)? y/N"
keys y
wait_for "Not recycled: S:\\zeta.log is gone (no such file or folder now)."
wait_for "S:\\  scan complete  410.2 KiB  3 files  2 folders"
# The first confirmed recycle starts the host; the file leaves the fixture for the trash.
trash_record="Path=$wine_root/prefix/dosdevices/s:/big.iso"
before=$(trash_records)
keys Home d
wait_for "Recycle S:\\big.iso (293.0 KiB when saved)? y/N"
keys y
wait_for "Recycled S:\\big.iso (293.0 KiB when saved)."
wait_for "S:\\  scan complete  117.2 KiB  2 files  2 folders"
[ ! -e "$fixture/big.iso" ] || { echo "FAIL: big.iso is still in the fixture" >&2; exit 1; }
[ "$(trash_records)" -eq $((before + 1)) ] || { echo "FAIL: big.iso is not in the Wine settings' trash" >&2; exit 1; }
# Quit closes that host in order: nothing to report about it.
keys q
wait_for "browse exited with 0"
[ ! -s "$work/load.err" ] || { echo "FAIL: browse --load said: $(cat "$work/load.err")" >&2; exit 1; }
tmux -L "$socket" kill-session -t browse

# A folder browsed through a letter lent for the browser: while it runs, another client can
# neither remap nor remove that letter, and when the letter is made to show another folder behind
# the clients' backs (by hand), a confirmed recycle is refused and the other folder's file of the
# same name stays.
lent=$work/lent
canaries=$work/canaries
mkdir -p "$lent" "$canaries"
head -c 3000 /dev/zero >"$lent/same.txt"
echo canary >"$canaries/same.txt"
tmux -L "$socket" new-session -d -x 80 -y 24 -s browse \
  "env ASAN_OPTIONS=detect_leaks=0 '$client' browse '$lent' 2>'$work/lent.err'; echo \"browse exited with \$?\"; sleep 600"
wait_for "scan complete"
letter=$(screen | head -1 | grep -oE '[D-Y]:\\' | head -1 | cut -c1)
[ -n "$letter" ] || { echo "FAIL: no lent letter on the screen" >&2; screen >&2; exit 1; }
for change in "map $letter $canaries" "unmap $letter"; do
  # shellcheck disable=SC2086
  if "$client" $change >"$work/change.out" 2>"$work/change.err"; then
    echo "FAIL: $change took the letter a running browser uses" >&2
    exit 1
  fi
  grep -qF "drive $letter: is in use by another pelmora-cli command" "$work/change.err" ||
    { echo "FAIL: $change gave no reason: $(cat "$work/change.err")" >&2; exit 1; }
done
link="$wine_root/prefix/dosdevices/$(echo "$letter" | tr 'A-Z' 'a-z'):"
lent_target=$(readlink "$link")
ln -sfn "$canaries" "$link"
keys d
wait_for "Recycle $letter:\\same.txt ("
keys y
wait_for "Not recycled: drive $letter: no longer shows $lent"
[ "$(cat "$canaries/same.txt")" = canary ] || { echo "FAIL: the canary is gone" >&2; exit 1; }
[ -e "$lent/same.txt" ] || { echo "FAIL: same.txt left the browsed folder" >&2; exit 1; }
# Put back as it was lent, the letter goes when the browser quits.
ln -sfn "$lent_target" "$link"
keys q
wait_for "browse exited with 0"
[ ! -L "$link" ] || { echo "FAIL: the lent letter $letter: was left behind" >&2; exit 1; }
tmux -L "$socket" kill-session -t browse

# A protected path: drive C: of these Wine settings (the prefix's own drive_c, never real
# files). windows is the largest folder of C:\ and system32 the largest of windows, so the
# cursor starts on them; the host refuses anything below C:\windows\system32.
tmux -L "$socket" new-session -d -x 80 -y 24 -s browse \
  "env ASAN_OPTIONS=detect_leaks=0 '$client' browse C; echo \"browse exited with \$?\"; sleep 600"
wait_for "scan complete"
keys Enter
wait_for " C:\windows  "
keys Enter
wait_for " C:\windows\system32  "
keys d
wait_for "? y/N"
protected=$(screen | grep -oE 'Recycle C:\\windows\\system32\\[^ ]+' | sed 's/^Recycle //')
keys y
wait_for "Not recycled: the host refused $protected"
unix_path="$wine_root/prefix/drive_c/windows/system32/${protected##*\\}"
[ -e "$unix_path" ] || { echo "FAIL: $unix_path is gone" >&2; exit 1; }
echo "refused as it should be: $protected"
keys q
wait_for "browse exited with 0"
echo "browse tmux test passed"
