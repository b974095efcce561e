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
options=(-DCMAKE_BUILD_TYPE=Release)
# CMake reads the toolchain file when it first configures a build folder and
# warns that it is "not used" when it is given again.
[ -f "build/$1/CMakeCache.txt" ] || options+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
# Only the 64-bit build defines the tests that check the 32-bit one.
[ "$1" = win32 ] || options+=(-DVMSI_WIN32_BUILD="$root/build/win32")
cmake -S . -B "build/$1" "${options[@]}" >/dev/null
