#!/usr/bin/env bash
# Sets up, builds and opens the window on the built-in simulated card. Without a display, it
# says so and shows the same read through virude-dump on the terminal. It installs only what
# the programs' build and the programs need (no test tools), and builds them alone (the
# `release` preset: no tests, benchmarks or emulators).
# Another reader: VIRUDE_READER=... scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --demo
cmake --preset release >/dev/null
cmake --build --preset release --target virude virude-dump
export VIRUDE_READER="${VIRUDE_READER:-sim}"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): the window cannot open." >&2
    echo "The same read on the terminal, through virude-dump:" >&2
    echo >&2
    exec build/release/app/virude-dump
fi
exec build/release/app/virude
