# A virtual X display for the windows of the scripts and tests: sourced, never run on its own.
#   virtual_display_start WORK   starts Xvfb (800 × 600, 96 dpi) on a free display number,
#                                exports DISPLAY and sets virtual_display_pid (the caller
#                                stops it); WORK is a scratch folder.

virtual_display_start() {
    local work="$1"
    # Xvfb picks a free number and writes it to fd 3 when ready.
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 800x600x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    virtual_display_pid=$!
    exec 3>&-
    for _ in $(seq 100); do
        [[ -s "$work/display" ]] && break
        sleep 0.1
    done
    if [[ ! -s "$work/display" ]]; then
        echo "Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$(head -n1 "$work/display")"
}
