#!/usr/bin/env bash
# Builds the release bundle dist/VardoMSICustomActions-<version>-win32.zip:
# the library, its trace variant, its Windows Installer entry points, the
# action runner, the header, the export list, the import libraries (mingw-w64
# and Microsoft), the actions reference, the Windows Installer guide, a short
# readme and SHA256SUMS, the checksums of all the others. The version is the
# library's file version, from CMakeLists.txt.
#   scripts/bundle.sh [--no-build]
#
# The same sources give the same zip, byte for byte: its entries are in name
# order and carry the time SOURCE_DATE_EPOCH, or else the time of the last
# commit.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

build=yes
[ "${1:-}" = "--no-build" ] && build=no
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
[ -n "$epoch" ] || { echo "bundle: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 2; }

[ "$build" = no ] || scripts/build.sh

version=$(cat build/win32/VERSION)
name="VardoMSICustomActions-$version-win32"
staging="build/bundle/$name"
# A run that fails leaves no bundle behind.
rm -rf "build/bundle" "dist/$name.zip"
mkdir -p "$staging"
cp dist/win32/VardoMSICustomActions.dll dist/win32/VardoMSICustomActionsTrace.dll \
   dist/win32/VardoMSICustomActionsMsi.dll dist/win32/vmsi-run.exe \
   dist/win32/VardoMSICustomActions.h dist/win32/VardoMSICustomActions.def \
   dist/win32/libVardoMSICustomActions.dll.a dist/win32/VardoMSICustomActions.lib \
   docs/actions.md docs/msi.md "$staging/"
sed "s/@VERSION@/$version/g" docs/bundle-readme.txt > "$staging/README.txt"

# Fixed names, times and permissions, listed in name order: what the zip
# records of each entry depends on the sources alone. Its times are the
# local time of the machine that zips, hence UTC.
(cd "$staging" && LC_ALL=C ls | grep -vx SHA256SUMS | xargs sha256sum >SHA256SUMS)
chmod 644 "$staging"/*
chmod 755 "$staging" "$staging"/*.dll "$staging"/*.exe
touch -d "@$epoch" "$staging" "$staging"/*
(cd build/bundle && LC_ALL=C find "$name" | LC_ALL=C sort |
    TZ=UTC zip -q -X -@ "$root/dist/$name.zip")
echo "bundle: dist/$name.zip"
