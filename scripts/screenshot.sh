#!/usr/bin/env bash
# Shows the built pelmora.exe on a virtual X display and takes a screenshot of it, so a person
# can see the window the host opens. Builds nothing: it expects build/windows/runner/pelmora.exe.
#
# Usage: scripts/screenshot.sh [OUTPUT.png]   (default /tmp/pelmora-window.png)
# Environment: PELMORA_SCREENSHOT_DISPLAY (default :99), PELMORA_SCREENSHOT_DESKTOP=1 to run the
# host inside a Wine virtual desktop, where Wine draws the window's title bar itself (a bare X
# server has no window manager to draw one).
#
# Needs Xvfb, xwininfo and ImageMagick's import (Debian: xvfb x11-apps x11-utils imagemagick).
# It uses a Wine prefix of its own (build/windows/wine-x), because the test prefix is set to the
# null graphics driver, which draws nothing. Xvfb and that prefix's wineserver are stopped at the
# end, whatever happens.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
output=${1:-/tmp/pelmora-window.png}
display=${PELMORA_SCREENSHOT_DISPLAY:-:99}
executable="$top/build/windows/runner/pelmora.exe"

for tool in Xvfb xwininfo import wine wineserver; do
  if ! command -v "$tool" >/dev/null; then
    echo "screenshot.sh: $tool is missing (apt-get install -y xvfb x11-apps x11-utils imagemagick)" >&2
    exit 2
  fi
done
if [ ! -x "$executable" ] && [ ! -f "$executable" ]; then
  echo "screenshot.sh: $executable not found; build the target pelmora first" >&2
  exit 2
fi
if [ -e "/tmp/.X${display#:}-lock" ]; then
  echo "screenshot.sh: display $display is in use; set PELMORA_SCREENSHOT_DISPLAY" >&2
  exit 2
fi

# The isolated Wine environment of the tests, but with a display and a prefix of its own.
export PELMORA_KEEP_DISPLAY=1
export DISPLAY=$display
# shellcheck source=/dev/null
source "$top/scripts/wine-environment.sh"
pelmora_wine_environment "$top/build/windows/wine-x"

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  xwininfo -root >/dev/null 2>&1 && break
  sleep 0.1
done
xwininfo -root >/dev/null 2>&1 || { echo "screenshot.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

# The prefix is made once (the first time takes a while) and kept with the build tree.
if [ ! -e "$WINEPREFIX/.pelmora-ready" ]; then
  echo "screenshot.sh: creating the Wine prefix $WINEPREFIX" >&2
  wineboot --init >/dev/null 2>&1 || true
  touch "$WINEPREFIX/.pelmora-ready"
fi

# Output goes to files: Wine's services inherit the program's output and outlive it.
if [ -n "${PELMORA_SCREENSHOT_DESKTOP:-}" ]; then
  wine explorer /desktop=Pelmora,1400x900 "$executable" >"$work/host.out" 2>"$work/host.err" &
else
  wine "$executable" >"$work/host.out" 2>"$work/host.err" &
fi

# The window is shown once the view has drawn its first frame; its X window carries the title.
shown=""
for _ in $(seq 600); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Pelmora"'; then
    shown=yes
    break
  fi
  sleep 0.1
done
if [ -z "$shown" ]; then
  echo "screenshot.sh: no window titled Pelmora appeared; host output:" >&2
  cat "$work/host.out" "$work/host.err" >&2
  exit 1
fi
# Give the first paint a moment to reach the X server.
sleep 2
xwininfo -root -tree | grep '"Pelmora"' || true
import -display "$display" -window root "$output"
echo "screenshot.sh: wrote $output"
