#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine in the project's prefix (a 32-bit
# program is handed on to the 32-bit loader by Wine itself).
#
# The program's output goes through files: processes that Wine starts on the
# side (winedevice.exe, explorer.exe) inherit the output handles and live on
# with the server, and a caller reading a pipe would wait for them forever.
# A status other than 0 is named on the last line: a test judged by its
# output alone (ctest ignores the status then) fails on that line.
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
# The test programs learn here whether a 32-bit program would run only under
# emulation (about a minute per process), and leave such runs out.
if wine32_emulated; then export VMSI_WINE32_EMULATED=yes; else export VMSI_WINE32_EMULATED=no; fi
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
"$WINE64" "$@" </dev/null >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
[ "$status" -eq 0 ] || echo "wine-run: $1 ended with status $status" >&2
exit "$status"
