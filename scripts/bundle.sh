#!/usr/bin/env bash
# Builds the release bundle dist/VardoMSICustomActions-<version>-win32.zip:
# the library, its trace variant, its Windows Installer entry points, the
# action runner, the header, the export list, the import library, the actions
# reference, the Windows Installer guide and a short readme. The
# version is the library's file version, from CMakeLists.txt.
#   scripts/bundle.sh [--no-build]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
[ "${1:-}" = "--no-build" ] || scripts/build.sh

version=$(cat build/win32/VERSION)
name="VardoMSICustomActions-$version-win32"
staging="build/bundle/$name"
rm -rf "build/bundle"
mkdir -p "$staging"
cp dist/win32/VardoMSICustomActions.dll dist/win32/VardoMSICustomActionsTrace.dll \
   dist/win32/VardoMSICustomActionsMsi.dll dist/win32/vmsi-run.exe \
   dist/win32/VardoMSICustomActions.h dist/win32/VardoMSICustomActions.def \
   dist/win32/libVardoMSICustomActions.dll.a docs/actions.md docs/msi.md "$staging/"
sed "s/@VERSION@/$version/g" docs/bundle-readme.txt > "$staging/README.txt"
rm -f "dist/$name.zip"
(cd build/bundle && zip -q -r -X "$root/dist/$name.zip" "$name")
echo "bundle: dist/$name.zip"
