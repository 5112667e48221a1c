#!/usr/bin/env bash
# pelmora-cli scan in a real terminal only 50 columns wide (tmux) against the real host: a Linux
# folder is given a drive letter for the command, the live progress line is rewritten in place
# without ever wrapping, the summary follows it, and the letter is gone afterwards. Everything
# the client writes to the terminal is recorded (pipe-pane), so the width of every progress line
# drawn is checked, not only the lines a look at the screen happens to catch.
# Usage: scan_tmux_test.sh CLIENT WINE_ROOT
set -euo pipefail
client=$1
wine_root=$2
export PELMORA_WINE_ROOT=$wine_root
work=$(mktemp -d)
socket="pelmora-scan-$$"
pane=scan
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=../support/tmux_screen.sh
source "$(dirname "$0")/../support/tmux_screen.sh"
fail() {
  echo "FAIL: $1" >&2
  screen >&2
  exit 1
}

# Some thousands of folders: Wine opens each one, so the scan lasts long enough for its progress
# line to be drawn many times (every quarter of a second).
fixture=$work/a-folder-with-a-rather-long-name
mkdir -p "$fixture"
(cd "$fixture" && mkdir d{0001..4000} && touch d{0001..4000}/file.txt && head -c 3000 /dev/zero >big.bin)

# The command waits for a line, so that the recording is on before it writes anything.
tmux -L "$socket" new-session -d -x 50 -y 20 -s "$pane" \
  "read -r _; env ASAN_OPTIONS=detect_leaks=0 '$client' scan '$fixture'; echo \"scan exited with \$?\"; sleep 600"
tmux -L "$socket" pipe-pane -t "$pane" -o "cat >>'$work/terminal'"
keys Enter
wait_for "scan exited with 0"

# The letter is named; the summary counts every folder and file. The pane's history is read too:
# the list of largest entries scrolls the start of the output off the screen.
joined=$(tmux -L "$socket" capture-pane -p -J -S - -t "$pane")
letter=$(printf '%s\n' "$joined" | sed -n "s|^Drive \([D-Y]\): shows $fixture while this command runs\$|\1|p")
[ -n "$letter" ] || fail "no line names the letter lent to $fixture"
printf '%s\n' "$joined" | grep -qF "Scan of $letter:\\ completed in " || fail "no summary of $letter:"
printf '%s\n' "$joined" | grep -qF "  Files:    4,001" || fail "the files were not all counted"
printf '%s\n' "$joined" | grep -qF "  Folders:  4,000" || fail "the folders were not all counted"

# Every progress line drawn fits in 49 columns: the terminal's last column stays free.
progress=$(tr '\r' '\n' <"$work/terminal" | grep -F "Scanning $letter:" || true)
[ -n "$progress" ] || fail "no progress line was drawn"
too_wide=$(printf '%s\n' "$progress" | sed 's/ *$//' | awk 'length($0) > 49' | head -n 3)
[ -z "$too_wide" ] || fail "progress lines wider than the terminal: $too_wide"
# A wrapped line would have left its first row behind above the summary.
if tmux -L "$socket" capture-pane -p -S - -t "$pane" | grep -qF "Scanning"; then
  fail "a progress line was left on the screen"
fi

# The letter was lent for the command only.
if "$client" maps | grep -q "^  $letter:"; then
  fail "drive $letter: is still mapped after the command"
fi
# Also when the reader of the output goes away after the first line: the client stops as when
# asked to end, closing the host and removing the letter, instead of dying of SIGPIPE.
"$client" scan "$fixture" 2>&1 | head -n 1 >/dev/null || true
if "$client" maps | grep -qF "  $fixture"; then
  fail "a letter still shows $fixture after the reader of the output went away"
fi
echo "scan in a 50-column terminal: $(printf '%s\n' "$progress" | wc -l) progress lines, all within 49 columns"
