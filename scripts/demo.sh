#!/usr/bin/env bash
# Builds the product and shows it working: loads the library's trace variant
# under Wine, asks it for its identity and runs the launch actions, printing
# every diagnostic text and result.
#   scripts/demo.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh
scripts/build.sh --no-setup
. scripts/wine-env.sh

start_wine_server
trap stop_wine_server EXIT
echo
echo "== The library under Wine (the 64-bit test build of the same sources runs here; 32-bit Wine is emulated and slow) =="
"$WINE64" dist/win64/vmsi-demo.exe
