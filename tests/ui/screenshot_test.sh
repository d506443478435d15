#!/usr/bin/env bash
# The screenshot script gives a PNG of the whole window (519 × 358) under Xvfb.
#   screenshot_test.sh SCRIPT VIRUDE OUTPUT
# Exit 77 (skipped) when a tool it needs is not installed: a test installs nothing.
set -euo pipefail
script="$1" virude="$2" output="$3"

for tool in Xvfb xdotool import; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is not installed: skipped"
        exit 77
    fi
done
rm -f "$output"
VIRUDE_BIN="$virude" bash "$script" "$output"

# PNG signature, then the IHDR chunk with width and height as 32-bit big-endian numbers.
signature="$(od -An -tx1 -N8 "$output" | tr -d ' \n')"
[[ "$signature" == "89504e470d0a1a0a" ]] || { echo "not a PNG: $output" >&2; exit 1; }
width=$((16#$(od -An -tx1 -j16 -N4 "$output" | tr -d ' \n')))
height=$((16#$(od -An -tx1 -j20 -N4 "$output" | tr -d ' \n')))
echo "screenshot: ${width}x${height}"
[[ "$width" -eq 519 && "$height" -eq 358 ]] || { echo "expected 519x358" >&2; exit 1; }
