#!/usr/bin/env bash
# Sets up, builds and runs every test.  --sanitize: the same in an AddressSanitizer +
# UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=default
if [[ "${1:-}" == "--sanitize" ]]; then
    preset=sanitize
fi

bash scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset" --no-tests=error
