#!/usr/bin/env bash
# Configures build/<platform> (win32: the product, win64: the test build of
# the same sources) the one way that the build, test and bench commands share.
#   scripts/configure.sh win32|win64
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
cd "$root"
case ${1:-} in
    win32) toolchain=cmake/toolchain-i686-w64-mingw32.cmake ;;
    win64) toolchain=cmake/toolchain-x86_64-w64-mingw32.cmake ;;
    *) echo "usage: scripts/configure.sh win32|win64" >&2; exit 2 ;;
esac
cmake -S . -B "build/$1" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DVMSI_WIN32_BUILD="$root/build/win32" >/dev/null
