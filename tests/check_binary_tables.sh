#!/usr/bin/env bash
# Checks the built libraries' export and import tables:
#  - every export of the export list is exported under its undecorated name,
#    and nothing else is;
#  - the 32-bit import library names each export with the argument bytes of
#    the export list (_Name@N), which the compiler derives from the function's
#    prototype: a wrong count does not link;
#  - only system DLLs on the KnownDLLs list are imported: no mingw runtime and
#    not version.dll.
# Usage: check_binary_tables.sh DIST_FOLDER EXPORTS.def
set -uo pipefail
dist=$1
def=$2
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

expected=$(grep -E '^\s+[A-Za-z_]+@[0-9]+' "$def" | awk '{print $1}' | sort)
expected_names=$(echo "$expected" | sed 's/@.*//' | sort)
# The KnownDLLs of Windows 10 and later: the loader takes these from the
# system folder only, whatever lies beside the installer or in its current
# folder. (msi.dll, version.dll and most others are not among them.)
allowed='^(advapi32|clbcatq|combase|comdlg32|coml2|difxapi|gdi32|gdiplus|imagehlp|imm32|kernel32|msctf|msvcrt|normaliz|nsi|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shcore|shell32|shlwapi|user32|wldap32|ws2_32)\.dll$'

for platform in win32 win64; do
    case $platform in
        win32) objdump=i686-w64-mingw32-objdump ;;
        win64) objdump=x86_64-w64-mingw32-objdump ;;
    esac
    for dll in "$dist/$platform/VardoMSICustomActions.dll" "$dist/$platform/VardoMSICustomActionsTrace.dll"; do
        [ -f "$dll" ] || { fail "$dll is missing"; continue; }
        tables=$($objdump -p "$dll")
        exported=$(echo "$tables" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^\s*\[ *[0-9]*\] \([^ ]*\)$/\1/p' | sort)
        if [ "$exported" != "$expected_names" ]; then
            fail "$dll exports [$(echo $exported)], expected [$(echo $expected_names)]"
        else
            echo "ok: $dll exports $(echo $exported)"
        fi
        while read -r imported; do
            lower=$(echo "$imported" | tr 'A-Z' 'a-z')
            if [[ "$lower" =~ $allowed ]]; then
                echo "ok: $dll imports $imported"
            else
                fail "$dll imports $imported, which is not a KnownDLLs system library"
            fi
        done < <(echo "$tables" | sed -n 's/^\s*DLL Name: //p')
    done
done

implib="$dist/win32/libVardoMSICustomActions.dll.a"
if [ -f "$implib" ]; then
    decorated=$(i686-w64-mingw32-nm "$implib" | sed -n 's/.* T _\(.*@[0-9]*\)$/\1/p' | sort)
    if [ "$decorated" != "$expected" ]; then
        fail "import library names [$(echo $decorated)], expected [$(echo $expected)]"
    else
        echo "ok: import library names $(echo $decorated)"
    fi
else
    fail "$implib is missing"
fi

[ -f "$dist/win32/VardoMSICustomActions.h" ] || fail "the header is missing beside the 32-bit library"
[ -f "$dist/win32/VardoMSICustomActions.def" ] || fail "the export list is missing beside the 32-bit library"

if [ "$failures" -eq 0 ]; then echo "binary tables: all checks passed"; fi
exit $((failures > 0))
