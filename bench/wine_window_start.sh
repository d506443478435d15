#!/usr/bin/env bash
# How long virude.exe takes under Wine from its start until its window is visible, with a
# cold wineserver (none running: Wine starts its own) and a warm one (persistent, warmed up),
# on a virtual X display. Needs the Windows build (scripts/windows.sh).
#   bench/wine_window_start.sh [RUNS]      default: 3 runs of each
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-3}"
virude="$root/build/windows/app/virude.exe"
source "$root/scripts/wine.sh"
wine_prefix_ready

work="$(mktemp -d)"
virtual_display_pid=""
cleanup() {
    wine_server_stop
    [[ -n "$virtual_display_pid" ]] && kill "$virtual_display_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
source "$root/scripts/virtual_display.sh"
virtual_display_start "$work"

# Milliseconds from the start until the window is visible; the window is closed afterwards.
time_to_window() {
    local start end pid window=""
    start=$(date +%s%N)
    # The loader itself in the background (not a shell function), so that $! is virude.exe.
    VIRUDE_READER=sim "$wine_loader" "$virude" >/dev/null 2>&1 &
    pid=$!
    local deadline=$((start + 60 * 1000000000))
    while [[ -z "$window" && $(date +%s%N) -lt $deadline ]]; do
        window="$(xdotool search --onlyvisible --name 'Virude' 2>/dev/null | head -n1 || true)"
    done
    end=$(date +%s%N)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [[ -n "$window" ]] || { echo "the window did not appear" >&2; exit 1; }
    # The next run must not find this window still on the display.
    for _ in $(seq 100); do
        [[ -z "$(xdotool search --onlyvisible --name 'Virude' 2>/dev/null)" ]] && break
        sleep 0.1
    done
    echo $(((end - start) / 1000000))
}

for ((i = 1; i <= runs; i++)); do
    wine_server_stop
    echo "cold wineserver: $(time_to_window) ms"
done
wine_server_stop
wine_server_start
for ((i = 1; i <= runs; i++)); do
    echo "warm wineserver: $(time_to_window) ms"
done
