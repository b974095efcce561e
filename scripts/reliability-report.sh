#!/usr/bin/env bash
# Writes the figures of the last run of the test command into
# docs/reliability.md, everything after its marker line, from ctest's log in
# build/win64. The hand-written part above the marker is kept as it stands.
# Run after scripts/test.sh.
#   scripts/reliability-report.sh [LOG] [OUTPUT]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
log="${1:-$root/build/win64/Testing/Temporary/LastTest.log}"
output="${2:-$root/docs/reliability.md}"
marker='<!-- Everything below is written by scripts/reliability-report.sh; edit above this line. -->'
[ -f "$log" ] || { echo "no test log at $log: run scripts/test.sh first" >&2; exit 1; }
grep -qxF "$marker" "$output" || { echo "no marker line in $output" >&2; exit 1; }

# The figures line of that kind, without its tag, or a note that it is missing.
figures() {
    local line
    line=$(grep -m1 "^\[figures\] $1" "$log" | sed "s/^\[figures\] $1 *//") || true
    echo "${line:-(not in the log)}"
}

# "Passed" or "Failed" and the time of one ctest test. A test judged by its
# output says "Test Pass Reason:" or "Test Fail Reason:" instead of "Test
# Passed." or "Test Failed.".
outcome() {
    awk -v name="$1" '
        $0 ~ "^[0-9]+/[0-9]+ Testing: " name "$" { inside = 1; next }
        inside && (/^[0-9]+\/[0-9]+ Testing: / || /^End testing/) { exit }
        inside && /^Test time =/ { time = $4 }
        inside && /^Test (Passed\.|Pass Reason:)/ { verdict = "Passed" }
        inside && /^Test (Failed\.|Fail Reason:)/ { verdict = "Failed" }
        END { print (verdict == "" ? "not in the log" : verdict ", " time " s") }
    ' "$log"
}

# The GoogleTest verdicts of the tests whose names match, as "name: OK".
verdicts() {
    grep -E "^\[ +(OK|FAILED) +\] ($1)[^ ]* \(" "$log" | sort -u |
        sed -E 's/^\[ +(OK|FAILED) +\] ([^ ]+) \(([0-9]+) ms\)$/- `\2`: \1 (\3 ms)/'
}

started=$(sed -n 's/^Start testing: //p' "$log" | head -1)
leaks=$(grep '^\[figures\] leaks: ' "$log" | sed 's/^\[figures\] leaks: //' |
    sed -E 's/^([A-Za-z_]+) ([0-9]+) successful and ([0-9]+) failing calls in ([0-9.]+) s: (.*)$/| `\1` | \2 + \3 | \4 s | \5 |/')
bad_input=$(figures "bad-input:")
fuzz_normaliser=$(figures "fuzz: path-normaliser")
fuzz_command_lines=$(figures "fuzz: command-lines")
linear=$(figures "linear time:")
stage32=$(figures "stage32:")
double_byte=$(grep -cE '^\[ +OK +\] DoubleByteCodePage\.' "$log" || true)

hand_written=$(awk -v marker="$marker" '{ print } $0 == marker { exit }' "$output")
tests=$(sed -n 's/^[0-9]*\/[0-9]* Testing: //p' "$log" | sort -u)

cat >"$output.new" <<REPORT
$hand_written

## Figures of the last run

From ctest's log of the run of \`scripts/test.sh\` started ${started:-at an unknown time};
every figure in this part is that run's.

| ctest test | Outcome |
|---|---|
$(for test in $tests; do echo "| $test | $(outcome "$test") |"; done)

- Bad input: ${bad_input}.
- Double-byte code page: ${double_byte} tests passed.
- Fuzzing, the path normaliser: ${fuzz_normaliser}; the command-line builders: ${fuzz_command_lines}.
- Linear time: ${linear}.
- 32-bit conformance: ${stage32}.

### Leak loops

| Action | Successful + failing calls | Time | Growth |
|---|---|---|---|
${leaks:-| (not in the log) | | | |}

### Containment and planting tests

$(verdicts 'CacheRemovalTest|HeldEntryKind|ShortcutTest\.(ADesktopEntry|RemovesAReadOnly|AFailedDeletion|NamesThatClimb|ARefusedDeletion)|Planting|RegisterTest\.ARegsvr32|LaunchTest\.WaitQuotes')
REPORT
mv "$output.new" "$output"
echo "reliability report: $output"
