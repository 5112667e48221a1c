#!/usr/bin/env bash
# pelmora-cli scan in a real terminal only 50 columns wide (tmux). Against a stand-in host whose
# scan stays open until it is cancelled: the live progress line is drawn and rewritten in place
# without ever wrapping, Ctrl-C cancels, and the partial result follows it. Against the real
# host: a Linux folder is given a drive letter for the command, the summary counts it all, and
# the letter is gone afterwards. Everything the client writes to the terminal is recorded
# (pipe-pane), so the width of every progress line drawn is checked, not only the lines a look
# at the screen happens to catch.
# Usage: scan_tmux_test.sh CLIENT WINE_ROOT FAKE_SCAN_HOST
set -euo pipefail
client=$1
wine_root=$2
fake_scan_host=$3
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

# Progress lines in what the client wrote to the terminal, trailing blanks and the terminal's echo
# of a Ctrl-C removed.
progress_lines() { tr '\r' '\n' <"$1" | sed 's/\^C//g' | grep -E "^(Scanning|Cancelling) " | sed 's/ *$//' || true; }

# The stand-in host's scan of P: reports its counts and then waits for the cancel; it ends when
# this script does, since its standard input is this script's descriptor 3.
exec 3> >(exec "$fake_scan_host" >"$work/fake-host-port")
for _ in $(seq 1 600); do
  [ "$(wc -l <"$work/fake-host-port")" -ge 2 ] && break
  sleep 0.1
done
fake_port=$(head -n 1 "$work/fake-host-port")
[ -n "$fake_port" ] || { echo "FAIL: the stand-in host never said its port" >&2; exit 1; }
# Its secret, for the client's environment: read inside the pane's shell from a file of this
# test's private folder, so it is on no command line.
sed -n 2p "$work/fake-host-port" >"$work/fake-host-secret"

# The command waits for a line, so that the recording is on before it writes anything. The shell
# around it outlives the Ctrl-C meant for the client, to say how the client ended.
tmux -L "$socket" new-session -d -x 50 -y 20 -s "$pane" \
  "trap : INT; read -r _; PELMORA_INTERFACE_TOKEN=\$(cat '$work/fake-host-secret') ASAN_OPTIONS=detect_leaks=0 '$client' --port $fake_port scan P; echo \"scan exited with \$?\"; sleep 600"
tmux -L "$socket" pipe-pane -t "$pane" -o "cat >>'$work/held-terminal'"
keys Enter
# The scan is under way for as long as the test wants: its line is on the screen, cut to the
# parts that fit in 49 columns (the terminal's last column stays free; with the folders the line
# would take exactly 50).
wait_for 'Scanning P:\  14.2 GiB  9,363 files'
keys C-c
wait_for "scan exited with 130"
held=$(tmux -L "$socket" capture-pane -p -J -S - -t "$pane")
printf '%s\n' "$held" | grep -qF 'Scan of P:\ cancelled after ' || fail "no partial result after Ctrl-C"
# The partial result is made of the entries received: one file in one folder.
printf '%s\n' "$held" | grep -qxF '  9.0 GiB  P:\video\film.mkv' || fail "the partial result lost the file received"
# Every line drawn is one of the two that fit, and the line is rewritten in place: the cancel
# turns it into "Cancelling" on the same row.
drawn=$(progress_lines "$work/held-terminal")
unexpected=$(printf '%s\n' "$drawn" |
  grep -vxF -e 'Scanning P:\  14.2 GiB  9,363 files' -e 'Cancelling P:\  14.2 GiB  9,363 files' || true)
[ -z "$unexpected" ] || fail "progress lines other than those that fit in 49 columns: $unexpected"
printf '%s\n' "$drawn" | grep -qxF 'Cancelling P:\  14.2 GiB  9,363 files' || fail "the cancel was not shown on the line"
# A wrapped line would have left its first row behind above the result.
if tmux -L "$socket" capture-pane -p -S - -t "$pane" | grep -qE "Scanning|Cancelling"; then
  fail "a progress line was left on the screen"
fi
held_count=$(printf '%s\n' "$drawn" | wc -l)
tmux -L "$socket" kill-session -t "$pane"

# Some thousands of folders through the real host, counted with thousands separators.
fixture=$work/a-folder-with-a-rather-long-name
mkdir -p "$fixture"
(cd "$fixture" && mkdir d{0001..4000} && touch d{0001..4000}/file.txt && head -c 3000 /dev/zero >big.bin)

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

# However many progress lines this scan lasted for (on a fast machine, none), each fits in 49
# columns and none is left on the screen.
too_wide=$(progress_lines "$work/terminal" | awk 'length($0) > 49' | head -n 3)
[ -z "$too_wide" ] || fail "progress lines wider than the terminal: $too_wide"
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
echo "scan in a 50-column terminal: $held_count progress lines of a held scan, all within 49 columns"
