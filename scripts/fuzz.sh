#!/usr/bin/env bash
# Sets up, builds the libFuzzer harnesses (the `fuzz` preset, clang) and runs each in turn.
#   scripts/fuzz.sh [SECONDS] [HARNESS...]     default: 60 seconds each, every harness
# Each run starts from the checked-in seeds (fuzz/corpus/NAME) and the inputs earlier runs
# found (build/fuzz/corpus/NAME); a crash is saved in build/fuzz/findings/ and makes the
# script fail. FUZZ_OPTIONS adds libFuzzer options (FUZZ_OPTIONS=-runs=10000000).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || ((seconds == 0)); then
    echo "usage: scripts/fuzz.sh [SECONDS] [HARNESS...]" >&2
    exit 2
fi

bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=build/fuzz
mkdir -p "$work/findings" "$work/logs"
failed=()
summary=()
while read -r name program seeds; do
    if (($#)) && [[ " $* " != *" $name "* ]]; then
        continue
    fi
    mkdir -p "$work/corpus/$name"
    log="$work/logs/$name.log"
    echo "== $name: $seconds s" >&2
    # One process (others share the machine); new inputs go to the first folder only.
    # shellcheck disable=SC2086
    if nice -n 19 "$program" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/findings/$name-" ${FUZZ_OPTIONS:-} \
        "$work/corpus/$name" "$seeds" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        failed+=("$name")
        grep -E "invariant broken|ERROR:|SUMMARY:|Test unit written" "$log" >&2 || tail -n 20 "$log" >&2
    fi
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
    coverage="$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -n 1)"
    summary+=("$(printf '%-24s %-7s %12s runs %8s/s   %s' "$name" "$result" "${runs:-?}" \
        "${rate:-?}" "${coverage:-no coverage line}")")
done <"$work/fuzzers.txt"

if ((${#summary[@]} == 0)); then
    echo "fuzz.sh: no harness named $* (see $work/fuzzers.txt)" >&2
    exit 2
fi
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
    echo "fuzz.sh: failed: ${failed[*]} (inputs in $work/findings/, logs in $work/logs/)" >&2
    exit 1
fi
