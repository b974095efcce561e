#!/usr/bin/env bash
# Builds the release bundle dist/VardoMSICustomActions-<version>-win32.zip:
# the library, its trace variant, its Windows Installer entry points and the
# WiX include that defines their custom actions, the action runner, the
# header, the export list, the import libraries (mingw-w64 and Microsoft), the
# actions reference, the Windows Installer guide, a short readme and
# SHA256SUMS, the checksums of all the others. The version is the
# library's file version, from CMakeLists.txt.
#   scripts/bundle.sh [--no-build] [--sign PFX [--password-file FILE] [--timestamp URL]]
#
# --sign signs every DLL and program with Authenticode (SHA-256) through
# osslsigncode, with the certificate and key of the PKCS#12 file PFX. Its
# password comes from the file given with --password-file, or else from the
# environment variable VMSI_SIGN_PASSWORD (empty for a PFX without one); it
# is never on a command line, where any user of the machine could read it.
# --timestamp has the signatures countersigned by that RFC 3161 time-stamp
# server, so that they stay valid after the certificate expires.
#
# The same sources give the same zip, byte for byte (unsigned: a signature
# holds its own time): its entries are in name order and carry the time
# SOURCE_DATE_EPOCH, or else the time of the last commit.
#
# The bundle is made, signed and zipped in build/bundle, and moved into dist/
# only when all of that succeeded: a run that fails (a wrong password, say)
# says why in one line and leaves the bundle already in dist/ as it was.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
cd "$root"

usage() {
    echo "usage: scripts/bundle.sh [--no-build] [--sign PFX [--password-file FILE] [--timestamp URL]]" >&2
    exit 2
}
build=yes pfx="" password_file="" timestamp_url=""
while [ $# -gt 0 ]; do
    case $1 in
        --no-build) build=no ;;
        --sign) [ $# -ge 2 ] || usage; pfx=$2; shift ;;
        --password-file) [ $# -ge 2 ] || usage; password_file=$2; shift ;;
        --timestamp) [ $# -ge 2 ] || usage; timestamp_url=$2; shift ;;
        *) usage ;;
    esac
    shift
done
if [ -n "$pfx" ]; then
    [ -f "$pfx" ] || { echo "bundle: no certificate file $pfx" >&2; exit 2; }
    if [ -z "$password_file" ] && [ -z "${VMSI_SIGN_PASSWORD+set}" ]; then
        echo "bundle: give the password of $pfx in --password-file FILE or in VMSI_SIGN_PASSWORD" >&2
        exit 2
    fi
elif [ -n "$password_file$timestamp_url" ]; then
    usage
fi
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
[ -n "$epoch" ] || { echo "bundle: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 2; }

[ "$build" = no ] || scripts/build.sh

version=$(cat build/win32/VERSION)
name="VardoMSICustomActions-$version-win32"
staging="build/bundle/$name"
rm -rf "build/bundle"
mkdir -p "$staging"
cp dist/win32/VardoMSICustomActions.dll dist/win32/VardoMSICustomActionsTrace.dll \
   dist/win32/VardoMSICustomActionsMsi.dll dist/win32/VardoMSICustomActions.wxi \
   dist/win32/VardoMSICustomActionsWix4.wxi \
   dist/win32/vmsi-run.exe \
   dist/win32/VardoMSICustomActions.h dist/win32/VardoMSICustomActions.def \
   dist/win32/libVardoMSICustomActions.dll.a dist/win32/VardoMSICustomActions.lib \
   "$staging/"
# The texts name the files of the bundle, where the guides lie beside the
# libraries and the readme is README.txt: not docs/, dist/win32/ or "the
# README" of the sources. tests/check_bundle.sh finds any name left that is
# not in the bundle.
bundle_text() {
    sed -e 's#`docs/\([A-Za-z0-9_-]*\.md\)`#`\1`#g' -e 's#`dist/win32/\([^`/]*\)`#`\1`#g' \
        -e 's#the README\b#`README.txt`#g' -e "s/@VERSION@/$version/g" "$1"
}
for text in docs/actions.md docs/msi.md CHANGELOG.md; do
    bundle_text "$text" >"$staging/$(basename "$text")"
done
bundle_text docs/bundle-readme.txt >"$staging/README.txt"

# osslsigncode says what went wrong in the first of its error lines (a wrong
# password: "Failed to parse PKCS#12 file: ... (Wrong password?)"), followed
# by OpenSSL's own; that first line alone is shown.
sign() {
    local file=$1 options=(-pkcs12 "$pfx" -h sha256 -n "VardoMSICustomActions $version")
    local errors="build/bundle/sign-errors.txt"
    [ -z "$timestamp_url" ] || options+=(-ts "$timestamp_url")
    if [ -n "$password_file" ]; then
        osslsigncode sign "${options[@]}" -readpass "$password_file" -in "$file" -out "$file.signed"
    else
        # The password reaches osslsigncode through a pipe that it reads as
        # a file, so that it never stands in its arguments.
        osslsigncode sign "${options[@]}" -readpass <(printf '%s' "$VMSI_SIGN_PASSWORD") \
            -in "$file" -out "$file.signed"
    fi >/dev/null 2>"$errors" || {
        echo "bundle: cannot sign $(basename "$file") with $pfx: $(head -n 1 "$errors");" \
            "dist/ is left as it was" >&2
        exit 1
    }
    mv "$file.signed" "$file"
}
if [ -n "$pfx" ]; then
    for file in "$staging"/*.dll "$staging"/*.exe; do
        sign "$file"
        echo "bundle: signed $(basename "$file")"
    done
fi

# Fixed names, times and permissions, listed in name order: what the zip
# records of each entry depends on the sources alone. Its times are the
# local time of the machine that zips, hence UTC.
(cd "$staging" && LC_ALL=C ls | grep -vx SHA256SUMS | xargs sha256sum >SHA256SUMS)
chmod 644 "$staging"/*
chmod 755 "$staging" "$staging"/*.dll "$staging"/*.exe
touch -d "@$epoch" "$staging" "$staging"/*
(cd build/bundle && LC_ALL=C find "$name" | LC_ALL=C sort |
    TZ=UTC zip -q -X -@ "$name.zip")
mkdir -p dist
mv -f "build/bundle/$name.zip" "dist/$name.zip"
echo "bundle: dist/$name.zip"
