#!/usr/bin/env bash
# Times headless Chromium rendering a scan report (load, layout, paint and a screenshot) against
# the same on an empty page in the same run, and prints the medians and the difference.
# Usage: bench-report.sh REPORT.html [REPETITIONS]
set -euo pipefail
report=$(realpath "$1")
repetitions=${2:-5}
chromium=$(command -v chromium || command -v chromium-browser) || {
  echo "bench-report: chromium is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '<!DOCTYPE html><html><body></body></html>\n' > "$work/empty.html"

# One render: a fresh profile each time, nothing that reaches the network.
render_ms() {
  rm -rf "$work/profile"
  local start end
  start=$(date +%s%N)
  timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --window-size=1400,1100 --screenshot="$work/shot.png" \
    "file://$1" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}

median() { sort -n | awk '{ values[NR] = $1 } END { print values[int((NR + 1) / 2)] }'; }

empty=(); page=()
for _ in $(seq "$repetitions"); do
  empty+=("$(render_ms "$work/empty.html")")
  page+=("$(render_ms "$report")")
done
empty_median=$(printf '%s\n' "${empty[@]}" | median)
page_median=$(printf '%s\n' "${page[@]}" | median)
echo "report: $report ($(stat -c %s "$report") bytes)"
echo "empty page: ${empty_median} ms (median of $repetitions)"
echo "report:     ${page_median} ms (median of $repetitions)"
awk -v page="$page_median" -v empty="$empty_median" \
  'BEGIN { printf "ratio: %.2f; the report adds %d ms to Chromium start-up and a blank page\n", page / empty, page - empty }'
