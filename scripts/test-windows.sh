#!/usr/bin/env bash
# Sets up, builds and tests the Windows programs under Wine: the Qt-free unit tests and the
# Win32 window's tests (on a virtual X display), virude-dump.exe against the Linux
# virude-dump byte for byte, the screenshot of the window, the zip and the installer.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

bash scripts/windows.sh
source scripts/wine.sh
wine_prefix_ready

work="$(mktemp -d)"
virtual_display_pid=""
cleanup() {
    wine_server_stop
    if [[ -n "$virtual_display_pid" ]]; then
        kill "$virtual_display_pid" 2>/dev/null || true
        wait "$virtual_display_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The window's tests need a display, there before Wine starts: Wine's desktop keeps the
# display it started with.
source scripts/virtual_display.sh
virtual_display_start "$work"

# One wineserver for every test: started fresh for each program it costs seconds apiece.
wine_server_start

ctest --preset windows --no-tests=error -j2

# virude-dump.exe prints what the Linux virude-dump of the same sources prints, byte for byte.
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target virude-dump >/dev/null
for reader in sim "sim:$root/tests/data/cli_card.json" "sim:$root/tests/data/cli_card_removed.json" \
    "sim:$root/tests/data/cli_card_silent.json" sim:; do
    set +e
    VIRUDE_READER="$reader" build/default/app/virude-dump >"$work/linux.out" 2>"$work/linux.err"
    linux_code=$?
    VIRUDE_READER="$reader" wine_run build/windows/app/virude-dump.exe >"$work/windows.out" \
        2>"$work/windows.err"
    windows_code=$?
    set -e
    if ! cmp -s "$work/linux.out" "$work/windows.out" || ! cmp -s "$work/linux.err" "$work/windows.err" ||
        [[ $linux_code != "$windows_code" ]]; then
        echo "virude-dump.exe differs from virude-dump with VIRUDE_READER=$reader" >&2
        diff <(od -c "$work/linux.out") <(od -c "$work/windows.out") >&2 || true
        diff "$work/linux.err" "$work/windows.err" >&2 || true
        echo "exit codes: $linux_code and $windows_code" >&2
        exit 1
    fi
done
echo "virude-dump.exe: the same bytes and exit codes as virude-dump"

# The screenshot of the window shows the click's result (looked at: docs/screenshot-windows.png).
VIRUDE_BIN=build/windows/app/virude.exe bash scripts/screenshot.sh --windows \
    build/windows/screenshot-windows.png >/dev/null
echo "screenshot.sh --windows: build/windows/screenshot-windows.png"

# The packages hold what they promise.
zip="$(ls build/windows/virude-*-windows-x64.zip)"
installer="$(ls build/windows/virude-*-windows-x64.exe)"
contents="$(unzip -Z1 "$zip")"
for file in virude.exe virude-dump.exe README.txt; do
    if ! grep -qx "virude-[0-9.]*-windows-x64/$file" <<<"$contents"; then
        echo "$zip has no $file" >&2
        exit 1
    fi
done
# The installer puts the programs, the Start-menu shortcut and the uninstaller in place; the
# uninstaller takes them away again.
programs="$WINEPREFIX/drive_c/Program Files/Virude"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Virude/Virude.lnk"
wine_run "$installer" /S
for file in "$programs/virude.exe" "$programs/virude-dump.exe" "$programs/Uninstall.exe" "$shortcut"; do
    if [[ ! -e "$file" ]]; then
        echo "the installer did not install $file" >&2
        exit 1
    fi
done
VIRUDE_READER=sim wine_run 'C:\Program Files\Virude\virude-dump.exe' >"$work/installed.out"
cmp "$work/installed.out" <(VIRUDE_READER=sim build/default/app/virude-dump)
# The uninstaller runs a copy of itself and returns at once.
wine_run 'C:\Program Files\Virude\Uninstall.exe' /S
for _ in $(seq 100); do
    [[ -e "$programs" || -e "$shortcut" ]] || break
    sleep 0.1
done
if [[ -e "$programs" || -e "$shortcut" ]]; then
    echo "the uninstaller left $programs or $shortcut behind" >&2
    exit 1
fi
echo "packages: $zip and $installer (installed and uninstalled under Wine)"
