#!/usr/bin/env bash
# The README's card-image example used as a reader would use it: the JSON block under the
# card-image-example marker saved as a file and read with virude-dump, whose output must hold
# the lines the README shows under the card-image-output marker, in that order. The same image
# with the card leaving after two answers, read with --json, must print exactly the README's
# json-example.
# Usage: readme_example_test.sh README.md VIRUDE_DUMP
set -euo pipefail
readme=$1
dump=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# The lines of the first fenced block after the line "<!-- NAME -->".
block() {
    awk -v marker="<!-- $1 -->" '
        $0 == marker { after = 1; next }
        after && /^```/ { if (inside) exit; inside = 1; next }
        inside { print }' "$readme"
}

block card-image-example >"$dir/card.json"
block card-image-output >"$dir/expected"
if [[ ! -s $dir/card.json || ! -s $dir/expected ]]; then
    echo "README.md: the card-image example or its output is missing" >&2
    exit 1
fi

VIRUDE_READER="sim:$dir/card.json" "$dump" >"$dir/actual"
if ! awk 'BEGIN { i = 0; n = 0 }
          NR == FNR { want[n++] = $0; next }
          i < n && $0 == want[i] { i++ }
          END { exit (i < n) }' "$dir/expected" "$dir/actual"; then
    echo "virude-dump printed, for the README's card image:" >&2
    cat "$dir/actual" >&2
    echo "which lacks, in this order, the README's lines:" >&2
    cat "$dir/expected" >&2
    exit 1
fi

# The --json example: the card image with "faults" added after its first line.
block json-example >"$dir/expected.json"
sed '1a\  "faults": {"removed_after": 2},' "$dir/card.json" >"$dir/leaving.json"
set +e
"$dump" --json --reader "sim:$dir/leaving.json" >"$dir/actual.json" 2>/dev/null
code=$?
set -e
if [[ $code != 5 ]] || ! cmp -s "$dir/expected.json" "$dir/actual.json"; then
    echo "virude-dump --json printed (exit code $code), unlike the README's json-example:" >&2
    diff "$dir/expected.json" "$dir/actual.json" >&2 || true
    exit 1
fi
