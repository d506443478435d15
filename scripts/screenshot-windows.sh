#!/usr/bin/env bash
# Takes a screenshot of the Windows window (virude.exe under Wine) after a click on READ with
# the built-in simulated card, on a virtual X display (Xvfb), for the README.
#   scripts/screenshot-windows.sh [OUTPUT.png]    default: docs/screenshot-windows.png
# VIRUDE_EXE names the virude.exe to run; without it, the Windows build is made first.
# Uses the Wine prefix of the Windows build (scripts/wine.sh) and its wineserver when one
# runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
output="$(realpath -m "${1:-$root/docs/screenshot-windows.png}")"

virude="${VIRUDE_EXE:-}"
if [[ -z "$virude" ]]; then
    bash "$root/scripts/windows.sh" --programs-only
    virude="$root/build/windows/app/virude.exe"
fi
source "$root/scripts/wine.sh"
wine_prefix_ready

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

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.1
done
if [[ ! -s "$work/display" ]]; then
    echo "screenshot-windows.sh: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

VIRUDE_READER="${VIRUDE_READER:-sim}" wine_run "$virude" >"$work/virude.log" 2>&1 &
pids+=($!)

window=""
for _ in $(seq 300); do
    window="$(xdotool search --onlyvisible --name 'Virude' 2>/dev/null | head -n1 || true)"
    [[ -n "$window" ]] && break
    sleep 0.1
done
if [[ -z "$window" ]]; then
    echo "screenshot-windows.sh: the window did not appear:" >&2
    cat "$work/virude.log" >&2
    exit 1
fi
sleep 1

# Wine draws the frame: the client area (519 × 358) sits inside the border, under the title
# bar. READ's middle is at (484, 340) in the client area.
eval "$(xdotool getwindowgeometry --shell "$window")"
border=$(((WIDTH - 519) / 2))
title=$((HEIGHT - 358 - 2 * border))
import -window "$window" "$work/before.png"
xdotool mousemove --window "$window" $((border + 484)) $((border + title + 340)) click 1
sleep 1
xdotool mousemove 790 590
sleep 0.5
mkdir -p "$(dirname "$output")"
import -window "$window" -strip -define png:exclude-chunks=date,time "$output"

if cmp -s "$work/before.png" "$output"; then
    echo "screenshot-windows.sh: the click on READ changed nothing" >&2
    exit 1
fi
echo "$output"
