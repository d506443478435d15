#!/usr/bin/env bash
# Sets up, builds and opens the window on the built-in simulated card (needs a display).
# Another reader: VIRUDE_READER=... scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target virude virude-dump
VIRUDE_READER="${VIRUDE_READER:-sim}" exec build/default/app/virude
