#!/usr/bin/env bash
# Installs what a bare Debian 12 machine lacks to build and test the library,
# makes 32-bit Wine runnable on kernels without 32-bit ELF support, and
# creates the project's own Wine prefix. Safe to run again: every step first
# checks whether it is already done.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local packages=(cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
        binutils-mingw-w64-x86-64 googletest wine wine64 wine32:i386 qemu-user-static zip unzip
        wixl msitools libxml2-utils clang libclang-rt-14-dev locales osslsigncode openssl lld llvm
        debootstrap)
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "setup: installing ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
    # A mirror in the middle of a sync serves an index of the wrong size for a
    # while; apt-get update then fails although the rest is usable. Ask again
    # a few times, then go on with what was fetched: the install says plainly
    # if a package really cannot be had.
    local attempt
    for attempt in 1 2 3; do
        as_root apt-get update -qq && break
        echo "setup: apt-get update failed (attempt $attempt of 3)"
        [ "$attempt" -lt 3 ] && sleep 20
    done
    for attempt in 1 2; do
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" && return 0
        echo "setup: apt-get install failed (attempt $attempt of 2)"
        as_root apt-get update -qq || true
    done
    return 1
}

# The 32-bit Wine loader is an i386 ELF program. Where the kernel cannot run
# those itself, qemu-user runs them through a binfmt_misc entry.
enable_32bit_programs() {
    if "$WINE32_LOADER" --version >/dev/null 2>&1; then return 0; fi
    echo "setup: registering qemu-i386 for 32-bit programs"
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
            as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null
    fi
    "$WINE32_LOADER" --version >/dev/null
}

install_packages
enable_32bit_programs
ensure_wine_prefix
ensure_cp932_prefix
echo "setup: ready (Wine prefix $WINEPREFIX)"
