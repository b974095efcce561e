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
# A run that fails (a wrong password, say) leaves no bundle behind.
rm -rf "build/bundle" "dist/$name.zip"
mkdir -p "$staging"
cp dist/win32/VardoMSICustomActions.dll dist/win32/VardoMSICustomActionsTrace.dll \
   dist/win32/VardoMSICustomActionsMsi.dll dist/win32/VardoMSICustomActions.wxi \
   dist/win32/VardoMSICustomActionsWix4.wxi \
   dist/win32/vmsi-run.exe \
   dist/win32/VardoMSICustomActions.h dist/win32/VardoMSICustomActions.def \
   dist/win32/libVardoMSICustomActions.dll.a dist/win32/VardoMSICustomActions.lib \
   docs/actions.md docs/msi.md CHANGELOG.md "$staging/"
sed "s/@VERSION@/$version/g" docs/bundle-readme.txt > "$staging/README.txt"

sign() {
    local file=$1 options=(-pkcs12 "$pfx" -h sha256 -n "VardoMSICustomActions $version")
    [ -z "$timestamp_url" ] || options+=(-ts "$timestamp_url")
    if [ -n "$password_file" ]; then
        osslsigncode sign "${options[@]}" -readpass "$password_file" -in "$file" -out "$file.signed"
    else
        # The password reaches osslsigncode through a pipe that it reads as
        # a file, so that it never stands in its arguments.
        osslsigncode sign "${options[@]}" -readpass <(printf '%s' "$VMSI_SIGN_PASSWORD") \
            -in "$file" -out "$file.signed"
    fi >/dev/null
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
    TZ=UTC zip -q -X -@ "$root/dist/$name.zip")
echo "bundle: dist/$name.zip"
