#!/usr/bin/env bash
# Takes a screenshot of the window after a click on READ with the built-in simulated card,
# on a virtual X display (Xvfb), for the README.
#   scripts/screenshot.sh [OUTPUT.png]              default: docs/screenshot.png
#   scripts/screenshot.sh --windows [OUTPUT.png]    virude.exe under Wine, with the frame
#                                                   Wine draws; default:
#                                                   docs/screenshot-windows.png
# VIRUDE_BIN names the program to run (virude, or virude.exe with --windows); without it,
# the project's set-up script installs what is missing and the program is built first.
# VIRUDE_READER chooses the reader as for virude itself; default: sim (the demo card).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
windows=false
if [[ "${1:-}" == "--windows" ]]; then
    windows=true
    shift
fi
if $windows; then
    output="$(realpath -m "${1:-$root/docs/screenshot-windows.png}")"
else
    output="$(realpath -m "${1:-$root/docs/screenshot.png}")"
fi

virude="${VIRUDE_BIN:-}"
if [[ -z "$virude" ]] && $windows; then
    bash "$root/scripts/windows.sh" --programs-only
    virude="$root/build/windows/app/virude.exe"
elif [[ -z "$virude" ]]; then
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

source "$root/scripts/virtual_display.sh"
virtual_display_start "$work"
pids+=("$virtual_display_pid")

if $windows; then
    # The Windows build's Wine prefix, and its wineserver when one runs.
    source "$root/scripts/wine.sh"
    wine_prefix_ready
    # The loader itself in the background, so that $! is virude.exe and the clean-up ends it.
    VIRUDE_READER="${VIRUDE_READER:-sim}" "$wine_loader" "$virude" >"$work/virude.log" 2>&1 &
else
    VIRUDE_READER="${VIRUDE_READER:-sim}" QT_QPA_PLATFORM=xcb "$virude" >"$work/virude.log" 2>&1 &
fi
pids+=($!)

# Wine's first window can take seconds to come.
window=""
for _ in $(seq 300); do
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

# READ sits at (456, 328), 57 × 25 pixels, in the client area (519 × 358). Under Wine the
# window holds Wine's frame too: the client area sits inside the border, under the title bar.
left=0
top=0
if $windows; then
    eval "$(xdotool getwindowgeometry --shell "$window")"
    left=$(((WIDTH - 519) / 2))
    top=$((HEIGHT - 358 - left))
fi
# Click READ's middle, then move the pointer off the window so that the button is not drawn
# hovered.
import -window "$window" "$work/before.png"
xdotool mousemove --window "$window" $((left + 484)) $((top + 340)) click 1
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
