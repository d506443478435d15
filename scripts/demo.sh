#!/usr/bin/env bash
# Sets up, builds and reads the built-in simulated card with virude-dump.
# Another reader: VIRUDE_READER=... scripts/demo.sh   (arguments go to virude-dump)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target virude-dump
VIRUDE_READER="${VIRUDE_READER:-sim}" exec build/default/app/virude-dump "$@"
