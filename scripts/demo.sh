#!/usr/bin/env bash
# Sets up, builds and opens the window on the built-in simulated card. Without a display, it
# says so and shows the same read through virude-dump on the terminal.
# Another reader: VIRUDE_READER=... scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target virude virude-dump
export VIRUDE_READER="${VIRUDE_READER:-sim}"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): the window cannot open." >&2
    echo "The same read on the terminal, through virude-dump:" >&2
    echo >&2
    exec build/default/app/virude-dump
fi
exec build/default/app/virude
