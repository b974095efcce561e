#!/usr/bin/env bash
# The whole GoogleTest suite against the shipped 32-bit build: the test
# program built for i686 loads the libraries and the action runner of the
# unpacked release bundle, and runs in the main prefix and then, for the code
# page 932 cases, in the second one, as wine-suite and double-byte-code-page
# run the 64-bit build. Its last line says what ran: "32-bit suite: N passed",
# N the cases of both runs, printed only when both ran to their summary
# without a failure.
#
# Where 32-bit programs run only through qemu-user it runs nothing and says
# so on that line: each 32-bit process costs about a minute there, and the
# suite starts hundreds (the leak loops alone start 300 programs). The 32-bit
# stage still runs the bundle's library in one process.
# Usage: run_suite32.sh TEST_PROGRAM BUNDLE_FOLDER OTHER_PREFIX_FILTER
set -uo pipefail
program=$1
export VMSI_SHIPPED_FOLDER=$2
other_prefix_filter=$3
scripts="$(cd "$(dirname "${BASH_SOURCE[0]}")/../scripts" && pwd)"
. "$scripts/wine-env.sh"

if wine32_emulated; then
    echo "32-bit suite: skipped, as 32-bit programs run here only through qemu-user" \
        "(about a minute each, and the suite starts hundreds); the 32-bit stage runs instead"
    exit 0
fi

passed=0
# run RUNNER FILTER: one run of the test program; false unless it passed
# and printed its summary, whose count is added to the passed cases. (Its
# lines end with a carriage return: the program writes in text mode.)
run() {
    local output status=0 count
    output=$("$scripts/$1" "$program" "--gtest_filter=$2" 2>&1) || status=$?
    echo "$output"
    count=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' <<<"$output")
    [ "$status" -eq 0 ] && [ -n "$count" ] || return 1
    passed=$((passed + count))
}

run wine-run.sh "-$other_prefix_filter" && run wine-run-cp932.sh "$other_prefix_filter" || exit 1
echo "32-bit suite: $passed passed"
