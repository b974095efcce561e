#!/usr/bin/env bash
# Builds the release bundle from dist/ and unpacks it into the given folder,
# checking that it holds exactly the expected files, a readme naming the
# version, and SHA256SUMS listing every other file with its checksum, and
# that its libraries are the built ones. The 32-bit stage then loads the
# unpacked library and checks that it reports the bundle's version.
# Usage: check_bundle.sh PROJECT_ROOT UNPACK_FOLDER
set -euo pipefail
root=$1
unpack=$2
version=$(cat "$root/build/win32/VERSION")
name="VardoMSICustomActions-$version-win32"
zip="$root/dist/$name.zip"
expected="README.txt
SHA256SUMS
VardoMSICustomActions.def
VardoMSICustomActions.dll
VardoMSICustomActions.h
VardoMSICustomActions.lib
VardoMSICustomActionsMsi.dll
VardoMSICustomActionsTrace.dll
actions.md
libVardoMSICustomActions.dll.a
msi.md
vmsi-run.exe"
programs="VardoMSICustomActions.dll VardoMSICustomActionsMsi.dll VardoMSICustomActionsTrace.dll vmsi-run.exe"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# unpack_and_check FOLDER: unpacks the bundle in dist/ into FOLDER.
unpack_and_check() {
    local folder=$1 actual listed
    rm -rf "$folder"
    mkdir -p "$folder"
    unzip -q "$zip" -d "$folder"
    actual=$(cd "$folder/$name" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    if [ "$actual" != "$expected" ]; then
        fail "$zip holds: $(echo $actual); expected: $(echo $expected)"
    fi
    grep -q "VardoMSICustomActions $version " "$folder/$name/README.txt" ||
        fail "README.txt does not name version $version"
    listed=$(sed 's/^[0-9a-f]\{64\}  //' "$folder/$name/SHA256SUMS")
    if [ "$listed" != "$(grep -vx SHA256SUMS <<<"$expected")" ]; then
        fail "SHA256SUMS lists $(echo $listed)"
    elif ! (cd "$folder/$name" && sha256sum --quiet -c SHA256SUMS); then
        fail "SHA256SUMS does not match the files"
    fi
}

"$root/scripts/bundle.sh" --no-build
unpack_and_check "$unpack"
for program in $programs; do
    cmp -s "$unpack/$name/$program" "$root/dist/win32/$program" ||
        fail "the bundled $program is not the built one"
done

[ "$failures" -eq 0 ] && echo "ok: $zip holds the $(echo "$expected" | wc -l) expected files"
exit $((failures > 0))
