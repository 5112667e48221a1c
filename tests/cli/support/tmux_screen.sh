# What the client's terminal tests share: reading and typing into a pane of a tmux server of the
# test's own, and waiting for what the pane must show. Source it after setting `socket` (the
# tmux server's name, private to the test) and `pane` (the session whose pane is read).

screen() { tmux -L "$socket" capture-pane -p -t "$pane"; }

# Waits until the screen shows TEXT (a fixed string); the wait is bounded only so that a broken
# client fails the test instead of hanging it.
wait_for() {
  local text=$1
  for _ in $(seq 1 600); do
    if screen | grep -qF -- "$text"; then
      return 0
    fi
    sleep 0.1
  done
  echo "FAIL: the screen never showed: $text" >&2
  screen >&2
  exit 1
}

# Waits until row ROW (from 1) of the screen is TEXT, trailing blanks aside: for what must show
# at one place, such as a line redrawn there after a resize.
wait_for_row() {
  local row=$1
  local text=$2
  for _ in $(seq 1 600); do
    if [ "$(screen | sed -n "${row}p" | sed 's/ *$//')" = "$text" ]; then
      return 0
    fi
    sleep 0.1
  done
  echo "FAIL: row $row of the screen never showed: $text" >&2
  screen >&2
  exit 1
}

keys() { tmux -L "$socket" send-keys -t "$pane" "$@"; }
