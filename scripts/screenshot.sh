#!/usr/bin/env bash
# Takes a screenshot of the window after a click on READ with the built-in simulated card,
# on a virtual X display (Xvfb), for the README.
#   scripts/screenshot.sh [OUTPUT.png]        default: docs/screenshot.png
# VIRUDE_BIN names the virude program to run; without it, the project's set-up script
# installs what is missing and virude is built first.
# VIRUDE_READER chooses the reader as for virude itself; default: sim (the demo card).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
output="$(realpath -m "${1:-$root/docs/screenshot.png}")"

virude="${VIRUDE_BIN:-}"
if [[ -z "$virude" ]]; then
    # The project's set-up brings Xvfb, xdotool, imagemagick and the Japanese font too.
    bash "$root/scripts/install-deps.sh"
    cd "$root"
    cmake --preset default >/dev/null
    cmake --build --preset default --target virude
    virude="$root/build/default/app/virude"
fi

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and writes it to fd 3 when ready.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.1
done
if [[ ! -s "$work/display" ]]; then
    echo "screenshot.sh: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

VIRUDE_READER="${VIRUDE_READER:-sim}" QT_QPA_PLATFORM=xcb "$virude" >"$work/virude.log" 2>&1 &
pids+=($!)

window=""
for _ in $(seq 100); do
    window="$(xdotool search --onlyvisible --name 'Virude' 2>/dev/null | head -n1 || true)"
    [[ -n "$window" ]] && break
    sleep 0.1
done
if [[ -z "$window" ]]; then
    echo "screenshot.sh: the window did not appear:" >&2
    cat "$work/virude.log" >&2
    exit 1
fi
sleep 0.5

# READ sits at (456, 328), 57 × 25 pixels, in the client area. Click its middle, then move
# the pointer off the window so that the button is not drawn hovered.
import -window "$window" "$work/before.png"
xdotool mousemove --window "$window" 484 340 click 1
sleep 1
xdotool mousemove 790 590
sleep 0.5
mkdir -p "$(dirname "$output")"
import -window "$window" -strip -define png:exclude-chunks=date,time "$output"

if cmp -s "$work/before.png" "$output"; then
    echo "screenshot.sh: the click on READ changed nothing" >&2
    exit 1
fi
echo "$output"
