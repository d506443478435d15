#!/usr/bin/env bash
# bash completes virude-dump's options from its --help, and after --reader the reader forms
# and card image files.
#   completion_test.sh COMPLETION_SCRIPT VIRUDE_DUMP
set -uo pipefail
script=$1
program=$2
if [[ ! -f /usr/share/bash-completion/bash_completion ]]; then
    echo "skipped: bash-completion is not installed"
    exit 0
fi
source /usr/share/bash-completion/bash_completion
source "$script"

failures=0
# Completes the last word of `line` as bash would, COMP_WORDBREAKS' colon included.
expect() {
    local line=$1 wanted=$2
    COMP_LINE=$line
    COMP_POINT=${#line}
    local words
    read -ra words <<<"${line//:/ : }"
    [[ $line == *" " || $line == *: ]] && words+=("")
    COMP_WORDS=("${words[@]}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _virude_dump "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got=" ${COMPREPLY[*]-} "
    if [[ $got != *" $wanted "* ]]; then
        echo "completing '$line': wanted '$wanted' among [$got]" >&2
        failures=$((failures + 1))
    fi
}

expect "$program --list-r" "--list-readers"
expect "$program --" "--watch"
expect "$program -j --re" "--reader"
expect "$program --reader s" "sim"
expect "$program -r " "pcsc:"
folder=$(mktemp -d)
touch "$folder/saved card.json"
expect "$program --reader sim:$folder/saved" "$(printf '%q' "$folder/saved card.json")"
rm -r "$folder"

if ((failures)); then
    exit 1
fi
echo "completions found"
