#!/usr/bin/env bash
# The options a man page describes are exactly those the program's --help lists, with the same
# arguments: "-r, --reader SPEC", "-w, --wait[=SECONDS]", "--watch".
#   man_options_test.sh PROGRAM MAN_PAGE (the page as scdoc writes it, roff)
set -euo pipefail
program=$1
page=$2

# --help: the lines of its "Options:" section, each up to the two spaces before its help text.
from_help=$("$program" --help | sed -n '/^Options:$/,/^$/p' | sed -e '1d' -e '/^$/d' \
    -e 's/^ *//' -e 's/  .*//' | sort)
# The man page: the lines that begin with an option in bold, without roff's font changes.
from_page=$(grep '^\\fB-' "$page" | sed -e 's/\\f[BIRP]//g' -e 's/\\&//g' -e 's/\\-/-/g' | sort)

if [[ -z "$from_help" ]]; then
    echo "no options found in $program --help" >&2
    exit 1
fi
if [[ "$from_help" != "$from_page" ]]; then
    echo "options of $program --help and of $page differ:" >&2
    diff <(echo "$from_help") <(echo "$from_page") >&2 || true
    exit 1
fi
echo "$(wc -l <<<"$from_help") options alike in $program --help and $page"
