#!/usr/bin/env bash
# Builds the 32-bit product and the 64-bit test build of the same sources and
# lays the results out under dist/win32 and dist/win64.
#   scripts/build.sh [--no-setup]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
[ "${1:-}" = "--no-setup" ] || scripts/setup.sh

jobs=$(nproc)
for platform in win32 win64; do
    case $platform in
        win32) toolchain=cmake/toolchain-i686-w64-mingw32.cmake ;;
        win64) toolchain=cmake/toolchain-x86_64-w64-mingw32.cmake ;;
    esac
    cmake -S . -B "build/$platform" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DVMSI_WIN32_BUILD="$root/build/win32" >/dev/null
    cmake --build "build/$platform" -j "$jobs"
    rm -rf "dist/$platform"
    cmake --install "build/$platform" --prefix "dist/$platform" --strip >/dev/null
done
echo "build: dist/win32 and dist/win64 are ready"
ls -l dist/win32
