#!/usr/bin/env bash
# Builds everything and runs every test: the suite under 64-bit Wine, the
# checks of the built libraries' tables, the 32-bit conformance stage, and
# the whole suite again against the shipped 32-bit build where 32-bit
# programs run natively; one line says whether that ran. Then both suites
# once more under Wine 10 (scripts/wine10.sh), where a Debian 13 root can be
# made; its lines say what ran. The user's home folder must be left exactly
# as it was found.
#   scripts/test.sh [ctest arguments...]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
cd "$root"
. scripts/wine-env.sh
home_before=$(home_snapshot)
scripts/setup.sh
scripts/build.sh --no-setup

start_wine_server
trap stop_wine_server EXIT
status=0
# Two at a time: ctest keeps the tests of one Wine prefix apart
# (tests/CMakeLists.txt), and the native ones run beside them.
(cd build/win64 && ctest --output-on-failure -j2 "$@") || status=$?
stop_wine_server

# The 32-bit suite's own last line (tests/run_suite32.sh), from ctest's log.
suite32=$(grep -m1 '^32-bit suite: ' build/win64/Testing/Temporary/LastTest.log || true)
echo "${suite32:-32-bit suite: no result in this run (left out, or it failed: see above)}"

# After ctest, alone: the lane runs the same test programs, which place files
# beside themselves.
scripts/wine10.sh || status=1

if ! home_changes=$(diff <(echo "$home_before") <(echo "$(home_snapshot)")); then
    echo "test: the home folder $HOME changed during the run:"
    echo "$home_changes"
    status=1
else
    echo "test: the home folder $HOME is as it was"
fi
# Nor may any prefix keep a way into it (scripts/wine-env.sh).
check_prefix_sandboxes || status=1
exit "$status"
