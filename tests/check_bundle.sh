#!/usr/bin/env bash
# Builds the release bundle from dist/ and unpacks it into the given folder,
# checking that it holds exactly what it should. The 32-bit stage then loads
# the unpacked library and checks that it reports the bundle's version.
# Usage: check_bundle.sh PROJECT_ROOT UNPACK_FOLDER
set -euo pipefail
root=$1
unpack=$2
"$root/scripts/bundle.sh" --no-build
version=$(cat "$root/build/win32/VERSION")
name="VardoMSICustomActions-$version-win32"
zip="$root/dist/$name.zip"
rm -rf "$unpack"
mkdir -p "$unpack"
unzip -q "$zip" -d "$unpack"

expected="README.txt
VardoMSICustomActions.def
VardoMSICustomActions.dll
VardoMSICustomActions.h
VardoMSICustomActionsMsi.dll
VardoMSICustomActionsTrace.dll
actions.md
libVardoMSICustomActions.dll.a
msi.md
vmsi-run.exe"
actual=$(cd "$unpack/$name" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
    echo "FAILED: $zip holds:"; echo "$actual"; echo "expected:"; echo "$expected"
    exit 1
fi
grep -q "VardoMSICustomActions $version " "$unpack/$name/README.txt" ||
    { echo "FAILED: README.txt does not name version $version"; exit 1; }
for library in VardoMSICustomActions VardoMSICustomActionsMsi; do
    cmp -s "$unpack/$name/$library.dll" "$root/dist/win32/$library.dll" ||
        { echo "FAILED: the bundled $library.dll is not the built one"; exit 1; }
done
echo "ok: $zip holds the $(echo "$expected" | wc -l) expected files"
