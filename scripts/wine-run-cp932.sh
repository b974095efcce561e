#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine in the project's code page 932
# prefix (see wine-env.sh), with a server of that prefix's own, started for
# the run and stopped after it.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
use_cp932_prefix
start_wine_server env "${CP932_LOCALE[@]}"
status=0
env "${CP932_LOCALE[@]}" "$root/scripts/wine-run.sh" "$@" || status=$?
stop_wine_server
exit "$status"
