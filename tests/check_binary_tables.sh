#!/usr/bin/env bash
# Checks the built libraries' export and import tables:
#  - every export of its export list is exported under its undecorated name,
#    and nothing else is: the main library and its trace variant against
#    the library's list, the Windows Installer library against its own;
#  - the Windows Installer library has one entry Msi<Action> per action
#    VMSI_<Action> of the main library, each taking one 4-byte handle;
#  - the 32-bit import library names each export with the argument bytes of
#    the export list (_Name@N), which the compiler derives from the function's
#    prototype: a wrong count does not link;
#  - only system DLLs on the KnownDLLs list are imported: no mingw runtime and
#    not version.dll;
#  - the stripped 32-bit libraries stay under 100 KiB: they link no C++
#    runtime library, and code that brings one back shows here first;
#  - the loader's protections are asked for: ASLR (DYNAMIC_BASE, and
#    HIGH_ENTROPY_VA on 64-bit), DEP (NX_COMPAT), and on 32-bit NO_SEH, which
#    holds only while no code of the library installs an exception handler
#    (the image never touches the handler chain at %fs:0);
#  - the code is built with the stack protector: the unstripped library in
#    the build folder beside the dist folder has its failure routine, which
#    the linker keeps only when protected code calls it.
# Usage: check_binary_tables.sh DIST_FOLDER EXPORTS.def MSI_EXPORTS.def
set -uo pipefail
dist=$1
def=$2
msi_def=$3
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

listed() { grep -E '^\s+[A-Za-z_]+@[0-9]+' "$1" | awk '{print $1}' | sort; }
expected=$(listed "$def")
expected_names=$(echo "$expected" | sed 's/@.*//' | sort)
msi_expected_names=$(listed "$msi_def" | sed 's/@.*//' | sort)
# One entry per action, and the entry that builds CustomActionData.
entries_by_rule=$( (echo "$expected" | sed -n 's/^VMSI_\(.*\)@[0-9]*$/Msi\1@4/p'
    echo MsiSetCustomActionData@4) | sort)
if [ "$(listed "$msi_def")" != "$entries_by_rule" ]; then
    fail "$msi_def lists [$(listed "$msi_def" | xargs)], expected [$(echo $entries_by_rule)]"
else
    echo "ok: $msi_def lists Msi<Action>@4 for every action, and MsiSetCustomActionData@4"
fi
# The KnownDLLs of Windows 10 and later: the loader takes these from the
# system folder only, whatever lies beside the installer or in its current
# folder. (msi.dll, version.dll and most others are not among them.)
allowed='^(advapi32|clbcatq|combase|comdlg32|coml2|difxapi|gdi32|gdiplus|imagehlp|imm32|kernel32|msctf|msvcrt|normaliz|nsi|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shcore|shell32|shlwapi|user32|wldap32|ws2_32)\.dll$'
# The entry points' DLL runs inside the installer's own custom-action server,
# which has msi.dll loaded before it loads the DLL.
allowed_msi='^(msi)\.dll$'

builds="$(dirname "$dist")/build"
for platform in win32 win64; do
    case $platform in
        win32) objdump=i686-w64-mingw32-objdump nm=i686-w64-mingw32-nm
            protections="DYNAMIC_BASE NX_COMPAT NO_SEH" ;;
        win64) objdump=x86_64-w64-mingw32-objdump nm=x86_64-w64-mingw32-nm
            protections="DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT" ;;
    esac
    for library in VardoMSICustomActions VardoMSICustomActionsTrace VardoMSICustomActionsMsi; do
        dll="$dist/$platform/$library.dll"
        names=$expected_names
        [ "$library" = VardoMSICustomActionsMsi ] && names=$msi_expected_names
        [ -f "$dll" ] || { fail "$dll is missing"; continue; }
        tables=$($objdump -p "$dll")
        exported=$(echo "$tables" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^\s*\[ *[0-9]*\] \([^ ]*\)$/\1/p' | sort)
        if [ "$exported" != "$names" ]; then
            fail "$dll exports [$(echo $exported)], expected [$(echo $names)]"
        else
            echo "ok: $dll exports $(echo $exported)"
        fi
        while read -r imported; do
            lower=$(echo "$imported" | tr 'A-Z' 'a-z')
            if [[ "$lower" =~ $allowed ]] ||
                { [ "$library" = VardoMSICustomActionsMsi ] && [[ "$lower" =~ $allowed_msi ]]; }; then
                echo "ok: $dll imports $imported"
            else
                fail "$dll imports $imported, which is not a KnownDLLs system library"
            fi
        done < <(echo "$tables" | sed -n 's/^\s*DLL Name: //p')
        characteristics=$(echo "$tables" | sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p')
        for protection in $protections; do
            if grep -qw "$protection" <<<"$characteristics"; then
                echo "ok: $dll has $protection"
            else
                fail "$dll lacks $protection in its DllCharacteristics"
            fi
        done
        # Here-strings rather than pipes: grep -q ends at its first match,
        # and pipefail would take the writer's broken pipe for a failure.
        if [ "$platform" = win32 ] && grep -qE '%fs:0x0([^0-9a-fx]|$)' <<<"$($objdump -d "$dll")"; then
            fail "$dll touches the exception handler chain at %fs:0, yet says NO_SEH"
        fi
        unstripped="$builds/$platform/bin/$library.dll"
        if [ ! -f "$unstripped" ]; then
            fail "$unstripped is missing"
        elif grep -qE ' T _?__stack_chk_fail$' <<<"$($nm "$unstripped")"; then
            echo "ok: $unstripped has protected code"
        else
            fail "$unstripped has no code built with the stack protector"
        fi
    done
done

size_limit=$((100 * 1024))
for dll in "$dist/win32/VardoMSICustomActions.dll" "$dist/win32/VardoMSICustomActionsTrace.dll"; do
    [ -f "$dll" ] || continue
    size=$(stat -c %s "$dll")
    if [ "$size" -lt "$size_limit" ]; then
        echo "ok: $dll is $size bytes"
    else
        fail "$dll is $size bytes, not under $size_limit"
    fi
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
