#!/usr/bin/env bash
# Sets up and builds the Windows programs on Debian: virude.exe and virude-dump.exe
# (build/windows/app/), the Windows test programs, the zip and the installer
# (build/windows/virude-<version>-windows-x64.zip and .exe).
#   --programs-only   the programs and tests, without the packages
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --windows
cmake --preset windows >/dev/null
cmake --build --preset windows
if [[ "${1:-}" != "--programs-only" ]]; then
    (cd build/windows && cpack >/dev/null)
    ls -1 build/windows/virude-*-windows-x64.zip build/windows/virude-*-windows-x64.exe
fi
