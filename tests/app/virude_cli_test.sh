#!/usr/bin/env bash
# virude's command line is handled before the window: --help and --version need no display,
# mistakes end with exit status 2 and one line of what is wrong.
#   virude_cli_test.sh VIRUDE
set -uo pipefail
virude=$1
failures=0
check() {  # check WHAT EXPECTED_CODE EXPECTED_TEXT COMMAND...
    local what=$1 code=$2 text=$3
    shift 3
    local output
    output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" 2>&1)
    local got=$?
    if [[ $got != "$code" || $output != *"$text"* ]]; then
        echo "$what: exit status $got (wanted $code), printed:" >&2
        echo "$output" >&2
        failures=$((failures + 1))
    fi
}
check "--help" 0 "Usage: virude [-r SPEC] [-h] [-V]" "$virude" --help
check "-V" 0 "virude " "$virude" -V
check "unknown option" 2 $'virude: unknown option \'--bogus\'\nUsage: virude' "$virude" --bogus
check "argument" 2 "virude: unexpected argument 'card'" "$virude" card
check "mistyped variable" 2 'virude: VIRUDE_READER: unknown reader "SIM"' env VIRUDE_READER=SIM "$virude"
check "mistyped option" 2 'virude: --reader: unknown reader "SIM"' env VIRUDE_READER=sim "$virude" -r SIM
((failures == 0)) && echo "virude's command line handled without a display"
exit $((failures > 0))
