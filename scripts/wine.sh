# Wine for the Windows programs: sourced by the Windows scripts, never run on its own.
#   wine_prefix_ready    makes the prefix (once) with the window's fonts
#   wine_server_start    one persistent wineserver for every program after it, warmed up
#   wine_server_stop     ends it
#   wine_run PROGRAM…    runs a Windows program ("$wine_loader" PROGRAM… in the background,
#                        so that $! is the program)
# The prefix lives in the Windows build folder (build/windows/wineprefix), headless
# (WINEDEBUG=-all), so nothing of the user's own ~/.wine is touched.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/windows/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# Debian's wine64 loader itself: the "wine" wrapper asks for wine32 on every start.
wine_loader=/usr/lib/wine/wine64
wine_server=/usr/lib/wine/wineserver

wine_run() {
    "$wine_loader" "$@"
}

# The window's Japanese fonts: Wine has no "ＭＳ ゴシック" or "ＭＳ Ｐゴシック", so the prefix
# maps them (and their English names) to the IPA fonts of fonts-ipafont-gothic, and links
# IPAPGothic behind the title bar's Tahoma for the caption. This Debian Wine does not load its own
# Tahoma and Marlett from /usr/share/wine/fonts, so they are linked into C:\windows\Fonts, or
# the title bar's text and buttons draw wrong.
wine_prefix_settings() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    local font
    for font in /usr/share/wine/fonts/*.ttf; do
        ln -sf "$font" "$fonts/"
    done
    # REG_MULTI_SZ "ipagp.ttf,IPAPGothic" in UTF-16LE, as regedit's hex(7) takes it.
    local ipapgothic_link
    ipapgothic_link="$(printf 'ipagp.ttf,IPAPGothic\0\0' | iconv -f UTF-8 -t UTF-16LE |
        od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')"
    local reg="$WINEPREFIX/virude-settings.reg"
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        printf '"ＭＳ ゴシック"="IPAGothic"\r\n"MS Gothic"="IPAGothic"\r\n'
        printf '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n"MS PGothic"="IPAPGothic"\r\n'
        printf '"MS UI Gothic"="IPAPGothic"\r\n\r\n'
        # The title bar's Tahoma has no Japanese: Wine falls back on IPAPGothic for it.
        printf '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]\r\n'
        printf '"Tahoma"=hex(7):%s\r\n"Tahoma Bold"=hex(7):%s\r\n\r\n' "$ipapgothic_link" \
            "$ipapgothic_link"
        # Without a window manager (Xvfb), Wine draws the windows' frames and title bars.
        printf '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]\r\n"Decorated"="N"\r\n\r\n'
    } | iconv -f UTF-8 -t UTF-16 >"$reg"
    wine_run regedit /S "$reg"
}

wine_prefix_ready() {
    if [[ ! -f "$WINEPREFIX/.virude-ready" ]]; then
        mkdir -p "$WINEPREFIX"
        wine_run wineboot --init >/dev/null 2>&1
        wine_prefix_settings
        "$wine_server" -w
        touch "$WINEPREFIX/.virude-ready"
    fi
}

wine_server_start() {
    # A wineserver per program costs seconds each; one that persists serves them all. One
    # still winding down after its last program refuses to become persistent: it is ended.
    if ! "$wine_server" -p 2>/dev/null; then
        wine_server_stop
        "$wine_server" -p
    fi
    # Warm-up: the first program after the server starts loads Wine's own DLLs.
    wine_run cmd /c exit >/dev/null 2>&1 || true
}

wine_server_stop() {
    "$wine_server" -k 2>/dev/null || true
    "$wine_server" -w 2>/dev/null || true
}
