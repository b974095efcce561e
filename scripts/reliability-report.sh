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

# The log lines of one ctest test, its output among them, without the
# carriage returns that Windows programs write in text mode.
section() {
    awk -v name="$1" '
        $0 ~ "^[0-9]+/[0-9]+ Testing: " name "$" { inside = 1; next }
        inside && (/^[0-9]+\/[0-9]+ Testing: / || /^End testing/) { exit }
        inside { sub(/\r$/, ""); print }
    ' "$log"
}

# The figures line of that kind in one test's output, without its tag, or a
# note that it is missing.
figures() {
    local line
    line=$(section "$2" | grep -m1 "^\[figures\] $1" | sed "s/^\[figures\] $1 *//") || true
    echo "${line:-(not in the log)}"
}

# "Passed", "Failed" or "Skipped" and the time of one ctest test. A test
# judged by its output says "Test Pass Reason:" or "Test Fail Reason:"
# instead of "Test Passed." or "Test Failed.", and a skipped one gives the
# skip expression as its pass reason.
outcome() {
    section "$1" | awk '
        /^Test time =/ { time = $4 }
        /^Test (Passed\.|Pass Reason:)/ { verdict = "Passed" }
        /^Test (Failed\.|Fail Reason:)/ { verdict = "Failed" }
        /^Skip regular expression found in output/ { verdict = "Skipped" }
        END { print (verdict == "" ? "not in the log" : verdict ", " time " s") }
    '
}

# The output of the runs of the suite, each line led by the build it ran
# against: the 64-bit build's in wine-suite and double-byte-code-page, the
# shipped 32-bit build's in suite32.
suite_output() {
    section wine-suite | sed 's/^/64-bit /'
    section double-byte-code-page | sed 's/^/64-bit /'
    section suite32 | sed 's/^/32-bit /'
}

# The cases of the 64-bit build's runs that passed, as the 32-bit suite
# counts its own.
passed64=$(suite_output | sed -n 's/^64-bit \[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' |
    awk '{ sum += $1 } END { print sum + 0 }')
suite32=$(section suite32 | grep -m1 '^32-bit suite: ') || suite32="32-bit suite: (not in the log)"

# The GoogleTest verdicts of the tests whose names match, one line per test
# with each build's verdict.
verdicts() {
    suite_output | grep -E "^(64|32)-bit \[ +(OK|FAILED) +\] ($1)[^ ]* \(" | sort -u |
        sed -E 's/^(..-bit) \[ +(OK|FAILED) +\] ([^ ]+) \(([0-9]+) ms\)$/\3 \1 \2 (\4 ms)/' |
        sort -s -k1,1 -k2,2r |
        awk '$1 != name { if (name != "") print line; name = $1; line = "- `" $1 "`: " }
             $1 == name { sub(/^[^ ]+ /, ""); line = line (line ~ /: $/ ? "" : "; ") $0 }
             END { if (name != "") print line }'
}

# The leak loops' rows of one build's run, none where it did not run.
leaks() {
    section "$2" | { grep '^\[figures\] leaks: ' || true; } | sed 's/^\[figures\] leaks: //' |
        sed -E "s/^([A-Za-z_]+) ([0-9]+) successful and ([0-9]+) failing calls in ([0-9.]+) s: (.*)\$/| \`\\1\` | $1 | \\2 + \\3 | \\4 s | \\5 |/"
}

started=$(sed -n 's/^Start testing: //p' "$log" | head -1)
leaks=$(leaks 64-bit wine-suite; leaks 32-bit suite32)
fuzz_normaliser=$(figures "fuzz: path-normaliser" fuzz)
fuzz_command_lines=$(figures "fuzz: command-lines" fuzz)
linear=$(figures "linear time:" fuzz)
stage32=$(figures "stage32:" stage32)
double_byte64=$(suite_output | grep -cE '^64-bit \[ +OK +\] DoubleByteCodePage\.' || true)
double_byte32=$(suite_output | grep -cE '^32-bit \[ +OK +\] DoubleByteCodePage\.' || true)

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

- 64-bit suite: ${passed64} passed (wine-suite and double-byte-code-page).
- ${suite32}.
- Bad input, 64-bit build: $(figures "bad-input:" wine-suite).
- Bad input, 32-bit build from the release bundle: $(figures "bad-input:" suite32).
- Double-byte code page: ${double_byte64} tests passed on the 64-bit build, ${double_byte32} on the 32-bit build.
- Fuzzing, the path normaliser: ${fuzz_normaliser}; the command-line builders: ${fuzz_command_lines}.
- Linear time: ${linear}.
- 32-bit conformance: ${stage32}.

### Leak loops

| Action | Build | Successful + failing calls | Time | Growth |
|---|---|---|---|---|
${leaks:-| (not in the log) | | | | |}

### Containment and planting tests

$(verdicts 'CacheRemovalTest|HeldEntryKind|ShortcutTest\.(ADesktopEntry|RemovesAReadOnly|AFailedDeletion|NamesThatClimb|ARefusedDeletion)|Planting|RegisterTest\.ARegsvr32|LaunchTest\.WaitQuotes')
REPORT
mv "$output.new" "$output"
echo "reliability report: $output"
