#!/usr/bin/env bash
# Builds the 32-bit product and the 64-bit test build of the same sources and
# lays the results out under dist/win32 and dist/win64. Each step is a line
# with the time since the start, [minutes:seconds]; the compiler's own
# progress lines come between them.
#   scripts/build.sh [--no-setup]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
cd "$root"
[ "${1:-}" = "--no-setup" ] || scripts/setup.sh

started=$SECONDS
step() {
    local elapsed=$((SECONDS - started))
    printf 'build: [%d:%02d] %s\n' $((elapsed / 60)) $((elapsed % 60)) "$*"
}
jobs=$(nproc)
for platform in win32 win64; do
    step "configuring build/$platform"
    scripts/configure.sh "$platform"
    step "compiling build/$platform"
    cmake --build "build/$platform" -j "$jobs"
    rm -rf "dist/$platform"
    cmake --install "build/$platform" --prefix "dist/$platform" --strip >/dev/null
    step "dist/$platform is ready"
done
