#!/usr/bin/env bash
# Fuzzes the path normaliser and the command-line builders, built natively
# with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer,
# for the given number of seconds each (default 600), then checks that their
# time grows linearly with the input's length, on worst cases and on every
# input the fuzzer kept. The corpus grows in build/fuzz/corpus from run to
# run. With --fresh, the test command's way, the run starts from the seeds
# alone in a corpus of its own that is removed afterwards, so that every
# run fuzzes and checks alike and none leaves anything behind.
#   scripts/fuzz.sh [--fresh] [SECONDS]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
out="$root/build/fuzz"
corpora="$out/corpus"
mkdir -p "$out"
if [ "${1:-}" = "--fresh" ]; then
    shift
    rm -rf "$out"/fresh-corpus.* # left by a run that was killed
    corpora=$(mktemp -d "$out/fresh-corpus.XXXXXX")
    trap 'rm -rf "$corpora"' EXIT
fi
seconds="${1:-600}"
fuzz="$root/tests/fuzz"
cxx="${CXX:-clang++}"

standard=$(sed -n 's/^set(CMAKE_CXX_STANDARD \([0-9]*\))$/c++\1/p' "$root/cmake/VmsiCodeOptions.cmake")
common=(-std="$standard" -I"$root/frame" -I"$root/tests/support" -I"$fuzz")
sanitised=("${common[@]}" -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
"$cxx" "${sanitised[@]}" -o "$out/path-normaliser-fuzzer" \
    "$fuzz/path_normaliser_fuzzer.cpp" "$root/frame/path_normaliser.cpp"
"$cxx" "${sanitised[@]}" -o "$out/command-lines-fuzzer" \
    "$fuzz/command_lines_fuzzer.cpp" "$root/frame/command_lines.cpp" "$root/frame/path_normaliser.cpp"
"$cxx" "${common[@]}" -O2 -o "$out/linear-time-check" \
    "$fuzz/linear_time_check.cpp" "$root/frame/command_lines.cpp" "$root/frame/path_normaliser.cpp"

for target in path-normaliser command-lines; do
    corpus="$corpora/$target"
    mkdir -p "$corpus"
    log="$out/$target.log"
    status=0
    (cd "$out" && "./$target-fuzzer" -max_total_time="$seconds" -max_len=4096 \
        -dict="$fuzz/paths.dict" -print_final_stats=1 "$corpus" "$fuzz/seeds/$target") \
        >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    time=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    kept=$(find "$corpus" -type f | wc -l)
    if [ "$status" -ne 0 ]; then
        grep -E 'property violated|ERROR|SUMMARY|input \(' "$log" | head -20
        echo "FAILED: $target fuzzer (log: $log)"
        exit 1
    fi
    echo "[figures] fuzz: $target ${runs:-?} executions in ${time:-?} s, no property violated, no sanitizer finding; corpus $kept inputs"
done
"$out/linear-time-check" "$corpora/path-normaliser" "$corpora/command-lines"
