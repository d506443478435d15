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

# The packages hold what they promise: the programs, the short text and the licences; the
# programs' version resources carry the copyright.
zip="$(ls build/windows/virude-*-windows-x64.zip)"
installer="$(ls build/windows/virude-*-windows-x64.exe)"
contents="$(unzip -Z1 "$zip")"
for file in virude.exe virude-dump.exe README.txt LICENSE.txt COPYRIGHT.txt; do
    if ! grep -qx "virude-[0-9.]*-windows-x64/$file" <<<"$contents"; then
        echo "$zip has no $file" >&2
        exit 1
    fi
done
for program in build/windows/app/virude.exe build/windows/app/virude-dump.exe; do
    if ! strings -el "$program" | grep -qx "Copyright (c) 2026 Virude developers"; then
        echo "$program has no LegalCopyright in its version resource" >&2
        exit 1
    fi
done

# The installer puts the programs, the Start-menu shortcut, the uninstaller and the entry in
# Settings' list of apps in place; the shortcut starts the installed window; a second run
# replaces the installed copy; the uninstaller takes everything away again.
programs="$WINEPREFIX/drive_c/Program Files/Virude"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Virude"
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Virude\Virude.lnk'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Virude'
folder_key='HKLM\Software\Virude developers'
version="$(sed -n 's/^project(virude VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"

check_installed() {
    local file
    for file in "$programs"/{virude.exe,virude-dump.exe,README.txt,LICENSE.txt,COPYRIGHT.txt,Uninstall.exe} \
        "$menu/Virude.lnk" "$menu/Uninstall.lnk"; do
        if [[ ! -e "$file" ]]; then
            echo "the installer did not install $file" >&2
            exit 1
        fi
    done
    wine_run reg query "$uninstall_key" | tr -d '\r' >"$work/uninstall.reg"
    local value
    for value in "DisplayName REG_SZ Virude $version" "DisplayVersion REG_SZ $version" \
        "Publisher REG_SZ Virude developers" \
        'UninstallString REG_SZ "C:\Program Files\Virude\Uninstall.exe"'; do
        if ! sed 's/^ *//; s/    / /g' "$work/uninstall.reg" | grep -qxF "$value"; then
            echo "the uninstall entry lacks \"$value\":" >&2
            cat "$work/uninstall.reg" >&2
            exit 1
        fi
    done
    # The size in KiB: the two programs alone are more than 1 MiB.
    local size
    size="$(sed -n 's/^ *EstimatedSize *REG_DWORD *0x\([0-9a-f]*\)$/\1/p' "$work/uninstall.reg")"
    if [[ -z "$size" ]] || ((16#$size < 1024)); then
        echo "the uninstall entry's EstimatedSize is missing or too small:" >&2
        cat "$work/uninstall.reg" >&2
        exit 1
    fi
}

wine_run "$installer" /S
check_installed
VIRUDE_READER=sim wine_run 'C:\Program Files\Virude\virude-dump.exe' >"$work/installed.out"
cmp "$work/installed.out" <(VIRUDE_READER=sim build/default/app/virude-dump)

# The shortcut's target, as Windows' shell reads it (IShellLink), is the installed window;
# started through the shortcut, the window appears.
target="$(wine_run build/windows/tests/win32/shortcut-target.exe "$shortcut" | tr -d '\r')"
if [[ "$target" != 'C:\Program Files\Virude\virude.exe' ]]; then
    echo "the Start-menu shortcut points at \"$target\", not at the installed virude.exe" >&2
    exit 1
fi
VIRUDE_READER=sim wine_run start "$shortcut"
window=""
for _ in $(seq 300); do
    window="$(xdotool search --onlyvisible --name 'Virude' 2>/dev/null | head -n1 || true)"
    [[ -n "$window" ]] && break
    sleep 0.1
done
wine_run taskkill /f /im virude.exe >/dev/null 2>&1 || true
if [[ -z "$window" ]]; then
    echo "the Start-menu shortcut did not open the window" >&2
    exit 1
fi
echo "the Start-menu shortcut starts $target: its window appeared"

# Run again, the installer removes the installed copy first and installs anew.
wine_run "$installer" /S
check_installed

# The uninstaller runs a copy of itself and returns at once.
wine_run 'C:\Program Files\Virude\Uninstall.exe' /S
for _ in $(seq 100); do
    [[ -e "$programs" || -e "$menu" ]] || break
    sleep 0.1
done
if [[ -e "$programs" || -e "$menu" ]]; then
    echo "the uninstaller left $programs or $menu behind" >&2
    exit 1
fi
for key in "$uninstall_key" "$folder_key"; do
    if wine_run reg query "$key" >/dev/null 2>&1; then
        echo "the uninstaller left the registry key $key behind" >&2
        exit 1
    fi
done
echo "packages: $zip and $installer (installed twice, started from the shortcut and uninstalled under Wine)"
