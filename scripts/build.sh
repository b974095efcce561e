#!/usr/bin/env bash
# Builds the 32-bit product and the 64-bit test build of the same sources and
# lays the results out under dist/win32 and dist/win64.
#   scripts/build.sh [--no-setup]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
cd "$root"
[ "${1:-}" = "--no-setup" ] || scripts/setup.sh

jobs=$(nproc)
for platform in win32 win64; do
    scripts/configure.sh "$platform"
    cmake --build "build/$platform" -j "$jobs"
    rm -rf "dist/$platform"
    cmake --install "build/$platform" --prefix "dist/$platform" --strip >/dev/null
done
echo "build: dist/win32 and dist/win64 are ready"
ls -l dist/win32
