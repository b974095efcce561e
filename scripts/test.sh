#!/usr/bin/env bash
# Builds everything and runs every test: the suite under 64-bit Wine, the
# checks of the built libraries' tables, and the 32-bit conformance stage.
#   scripts/test.sh [ctest arguments...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh
scripts/build.sh --no-setup
. scripts/wine-env.sh

start_wine_server
trap stop_wine_server EXIT
cd build/win64
ctest --output-on-failure "$@"
