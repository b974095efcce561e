#!/usr/bin/env bash
# Builds the release bundle from dist/ signed, twice, and unsigned, and checks
# what it holds each time: exactly the expected files, a readme naming the
# version, texts that name only files of the bundle, and SHA256SUMS listing
# every other file with its checksum. A wrong password must fail the bundle
# in one line and leave the one in dist/ as it was.
#  - Signed with a throwaway code-signing certificate made here, its password
#    given once in a file and once in the environment: every DLL and program
#    must verify with osslsigncode, SHA-256. The last one is left unpacked in
#    the given folder, where the 32-bit stage loads the signed library, runs
#    it and checks that it reports the bundle's version.
#  - Unsigned, as without --sign: its libraries are the built ones. This one
#    stays in dist/.
# Usage: check_bundle.sh PROJECT_ROOT UNPACK_FOLDER
set -euo pipefail
root=$1
unpack=$2
version=$(cat "$root/build/win32/VERSION")
name="VardoMSICustomActions-$version-win32"
zip="$root/dist/$name.zip"
expected="CHANGELOG.md
README.txt
SHA256SUMS
VardoMSICustomActions.def
VardoMSICustomActions.dll
VardoMSICustomActions.h
VardoMSICustomActions.lib
VardoMSICustomActions.wxi
VardoMSICustomActionsMsi.dll
VardoMSICustomActionsTrace.dll
VardoMSICustomActionsWix4.wxi
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
    check_references "$folder/$name"
    listed=$(sed 's/^[0-9a-f]\{64\}  //' "$folder/$name/SHA256SUMS")
    if [ "$listed" != "$(grep -vx SHA256SUMS <<<"$expected")" ]; then
        fail "SHA256SUMS lists $(echo $listed)"
    elif ! (cd "$folder/$name" && sha256sum --quiet -c SHA256SUMS); then
        fail "SHA256SUMS does not match the files"
    fi
}

# check_references FOLDER: every file that the bundle's texts name is in the
# bundle: a file in one of the sources' folders (a path whose last name has
# an extension), a file name of the project's own, a guide, the readme.
references='(\b(docs|dist|build|scripts|tests|tools|msi|frame|actions|migration|include|cmake|bench)/[A-Za-z0-9_./-]*[A-Za-z0-9_])'
references+='|\b(VardoMSICustomActions[A-Za-z0-9]*|libVardoMSICustomActions|vmsi-run)(\.[a-z0-9]+)+'
references+='|\b[A-Za-z0-9_-]+\.md\b|\bREADME(\.txt)?\b|\bSHA256SUMS\b'
check_references() {
    local folder=$1 text reference
    while IFS=: read -r text reference; do
        case $reference in */*) [[ ${reference##*/} == *.* ]] || continue ;; esac
        [ -f "$folder/$reference" ] || fail "$text names $reference, which is not in the bundle"
    done < <(cd "$folder" && grep -oHE "$references" README.txt ./*.md | sed 's|^\./||' | sort -u)
}

signer=$(mktemp -d)
trap 'rm -rf "$signer"' EXIT
head -c 24 /dev/urandom | base64 >"$signer/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=VardoMSICustomActions test signer" \
    -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
    -keyout "$signer/key.pem" -out "$signer/certificate.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$signer/key.pem" -in "$signer/certificate.pem" \
    -passout "file:$signer/password" -out "$signer/signer.pfx"
for way in file environment; do
    if [ "$way" = file ]; then
        "$root/scripts/bundle.sh" --no-build --sign "$signer/signer.pfx" --password-file "$signer/password"
    else
        VMSI_SIGN_PASSWORD=$(cat "$signer/password") \
            "$root/scripts/bundle.sh" --no-build --sign "$signer/signer.pfx"
    fi
    unpack_and_check "$unpack"
    for program in $programs; do
        if osslsigncode verify -in "$unpack/$name/$program" -CAfile "$signer/certificate.pem" \
            >"$signer/verified" 2>&1 && grep -q 'Message digest algorithm *: SHA256' "$signer/verified"; then
            echo "ok: $program is signed, SHA-256 (password from the $way)"
        else
            fail "$program does not verify as signed with SHA-256 (password from the $way):"
            cat "$signer/verified"
        fi
    done
done
signed=$(sha256sum <"$zip")
if VMSI_SIGN_PASSWORD=wrong "$root/scripts/bundle.sh" --no-build --sign "$signer/signer.pfx" \
    >/dev/null 2>"$signer/errors"; then
    fail "a wrong password did not fail the bundle"
elif [ "$(wc -l <"$signer/errors")" -ne 1 ] || ! grep -q "^bundle: cannot sign .*Wrong password" "$signer/errors"; then
    fail "a wrong password did not end in one line that says so:"
    cat "$signer/errors"
fi
[ "$(sha256sum <"$zip")" = "$signed" ] || fail "a wrong password changed the bundle in dist/"

"$root/scripts/bundle.sh" --no-build
unpack_and_check "$unpack.unsigned"
for program in $programs; do
    cmp -s "$unpack.unsigned/$name/$program" "$root/dist/win32/$program" ||
        fail "the unsigned bundle's $program is not the built one"
done
for include in VardoMSICustomActions.wxi VardoMSICustomActionsWix4.wxi; do
    cmp -s "$unpack.unsigned/$name/$include" "$root/msi/$include" ||
        fail "the bundle's $include is not the one in msi/"
done
rm -rf "$unpack.unsigned"

[ "$failures" -eq 0 ] && echo "ok: $zip holds the $(echo "$expected" | wc -l) expected files, signed or not"
exit $((failures > 0))
