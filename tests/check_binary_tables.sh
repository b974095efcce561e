#!/usr/bin/env bash
# Checks the shipped images' tables and headers:
#  - every export of its export list is exported under its undecorated name,
#    and nothing else is: the main library and its trace variant against
#    the library's list, the Windows Installer library against its own;
#  - the Windows Installer library has one entry Vmsi<Action> per action
#    VMSI_<Action> of the main library, each taking one 4-byte handle;
#  - the 32-bit import library names each export with the argument bytes of
#    the export list (_Name@N), which the compiler derives from the function's
#    prototype: a wrong count does not link;
#  - only system DLLs on the KnownDLLs list are imported: no mingw runtime and
#    not version.dll; and only functions that Windows 7 SP1 exports, the
#    oldest Windows the library supports (the list below);
#  - the stripped 32-bit libraries stay under 100 KiB: they link no C++
#    runtime library, and code that brings one back shows here first;
#  - the loader's protections are asked for: ASLR (DYNAMIC_BASE, and
#    HIGH_ENTROPY_VA on 64-bit), DEP (NX_COMPAT), and on 32-bit NO_SEH, which
#    holds only while no code of the image installs an exception handler
#    (the image never touches the handler chain at %fs:0);
#  - ASLR can move the image: it keeps its base relocations and does not say
#    that they were stripped; and DEP has nothing to refuse: no section is
#    both writable and executable;
#  - the code is built with the stack protector: the unstripped image in
#    the build folder beside the dist folder has its failure routine, which
#    the linker keeps only when protected code calls it.
# The images are the three DLLs and the action runner, vmsi-run.exe, of both
# builds; the export checks concern the DLLs, the size check the 32-bit ones.
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
entries_by_rule=$( (echo "$expected" | sed -n 's/^VMSI_\(.*\)@[0-9]*$/Vmsi\1@4/p'
    echo VmsiSetCustomActionData@4) | sort)
if [ "$(listed "$msi_def")" != "$entries_by_rule" ]; then
    fail "$msi_def lists [$(listed "$msi_def" | xargs)], expected [$(echo $entries_by_rule)]"
else
    echo "ok: $msi_def lists Vmsi<Action>@4 for every action, and VmsiSetCustomActionData@4"
fi
# The KnownDLLs of Windows 10 and later: the loader takes these from the
# system folder only, whatever lies beside the installer or in its current
# folder. (msi.dll, version.dll and most others are not among them.)
allowed='^(advapi32|clbcatq|combase|comdlg32|coml2|difxapi|gdi32|gdiplus|imagehlp|imm32|kernel32|msctf|msvcrt|normaliz|nsi|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shcore|shell32|shlwapi|user32|wldap32|ws2_32)\.dll$'
# The entry points' DLL runs inside the installer's own custom-action server,
# which has msi.dll loaded before it loads the DLL.
allowed_msi='^(msi)\.dll$'

# Every function that an image imports, by DLL, with where it is known to be
# on Windows 7 SP1 and Windows Server 2008 R2: "XP" and "Vista" are the
# minimum supported client of the function's documentation (XP: Windows XP
# or an earlier one); "7" is the DLL's export list on Windows 7 SP1, for
# functions whose documentation names no Windows (the C runtime's, and the
# 64-bit unwinding entry that kernel32 forwards to ntdll). A function that
# is not here may be newer than Windows 7: look it up before adding it.
windows7_functions='
advapi32 XP RegCloseKey RegOpenKeyExA RegQueryValueExA
kernel32 XP AddVectoredExceptionHandler CloseHandle CopyFileA CreateEventA CreateFileA
kernel32 XP CreateProcessA CreateSemaphoreA DeleteCriticalSection DeleteFileA
kernel32 XP DisableThreadLibraryCalls DuplicateHandle EnterCriticalSection
kernel32 XP ExpandEnvironmentStringsA FindResourceA FreeLibrary GetCurrentProcess
kernel32 XP GetCurrentProcessId GetCurrentThread GetCurrentThreadId GetExitCodeProcess
kernel32 XP GetFileAttributesA GetFileType GetFullPathNameA GetHandleInformation
kernel32 XP GetLastError GetModuleFileNameA GetModuleHandleA GetModuleHandleW
kernel32 XP GetProcAddress GetProcessAffinityMask GetStartupInfoA GetStdHandle
kernel32 XP GetSystemDirectoryA GetSystemTimeAsFileTime GetTempFileNameA GetTempPathA
kernel32 XP GetThreadContext GetThreadPriority InitializeCriticalSection IsDBCSLeadByte
kernel32 XP IsDBCSLeadByteEx IsDebuggerPresent IsWow64Process LeaveCriticalSection
kernel32 XP LoadLibraryA LoadLibraryExA LoadLibraryW LoadResource LockResource
kernel32 XP MultiByteToWideChar OpenProcess OutputDebugStringA QueryPerformanceCounter
kernel32 XP RaiseException ReleaseSemaphore RemoveVectoredExceptionHandler ResetEvent
kernel32 XP ResumeThread RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx
kernel32 XP RtlVirtualUnwind SearchPathA SetEndOfFile SetEvent SetLastError
kernel32 XP SetProcessAffinityMask SetStdHandle SetThreadContext SetThreadPriority
kernel32 XP SetUnhandledExceptionFilter SizeofResource Sleep SuspendThread
kernel32 XP TerminateProcess TlsAlloc TlsFree TlsGetValue TlsSetValue
kernel32 XP TryEnterCriticalSection VirtualProtect VirtualQuery WaitForMultipleObjects
kernel32 XP WaitForSingleObject WideCharToMultiByte WriteFile
kernel32 XP GetFullPathNameW GetLongPathNameW GetStartupInfoW
kernel32 Vista CompareStringOrdinal GetFileInformationByHandleEx GetFinalPathNameByHandleW
kernel32 Vista GetTickCount64 SetFileInformationByHandle
kernel32 7 __C_specific_handler
msi XP MsiCloseHandle MsiCreateRecord MsiGetMode MsiGetPropertyW MsiProcessMessage
msi XP MsiRecordSetInteger MsiRecordSetStringA MsiSetPropertyA
msvcrt 7 ___lc_codepage_func ___mb_cur_max_func __getmainargs __initenv __iob_func
msvcrt 7 __mb_cur_max __p__acmdln __p__commode __p__fmode __set_app_type
msvcrt 7 __setusermatherr _acmdln _amsg_exit _beginthreadex _cexit _close _commode
msvcrt 7 _endthreadex _errno _fileno _fmode _initterm _iob _lock _onexit _read _setjmp
msvcrt 7 _setjmp3 _setmode _strdup _ultoa _unlock abort atoi calloc exit fflush fprintf
msvcrt 7 fputc fputs free fwrite localeconv longjmp malloc memchr memcmp memcpy memmove
msvcrt 7 memset printf realloc setlocale signal strchr strcmp strerror strlen strncmp
msvcrt 7 vfprintf wcslen __p__wcmdln __wgetmainargs __winitenv _wcmdln
ole32 XP CoInitializeEx CoUninitialize
shell32 XP ShellExecuteA
user32 XP WaitForInputIdle
'
on_windows7=$(echo "$windows7_functions" | awk 'NF > 2 { for (i = 3; i <= NF; i++) print $1, $i }' | sort -u)

# The names of an image's export name table, from objdump -p. binutils 2.40
# prints each row as "[   0] NAME", 2.44 (Debian 13) as
# "[   0] +base[   1]  0000 NAME": the name is the row's last field.
exported_names() {
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]*\[ *[0-9]+\]/ { print $NF }' | sort
}
# Both forms, replayed, before any image is read.
replayed_rows=$(printf '%s\n' '[Ordinal/Name Pointer] Table' $'\t[   0] VMSI_Launch' \
    '[Ordinal/Name Pointer] Table -- Ordinal Base 1' $'\t  Ordinal   Hint Name' \
    $'\t[   1] +base[   2]  0001 VMSI_Register' '' | exported_names | xargs)
if [ "$replayed_rows" = "VMSI_Launch VMSI_Register" ]; then
    echo "ok: export rows of binutils 2.40 and 2.44 give their names"
else
    fail "replayed export rows of binutils 2.40 and 2.44 give [$replayed_rows]"
fi

# "dll function" for each function an image imports, from objdump -p.
imported_functions() {
    awk '/DLL Name:/ { dll = tolower($3); sub(/\.dll$/, "", dll) }
         /^\t[0-9a-f]+\t/ { print dll, $NF }' | sort -u
}

# "name characteristics" (hexadecimal) for each section of the image, read
# from its section table: objdump shows only its own reading of the flags.
section_characteristics() {
    local image=$1 header count optional table index entry
    header=$(od -An -tu4 -j60 -N4 "$image" | tr -d ' ')
    count=$(od -An -tu2 -j$((header + 6)) -N2 "$image" | tr -d ' ')
    optional=$(od -An -tu2 -j$((header + 20)) -N2 "$image" | tr -d ' ')
    table=$((header + 24 + optional))
    for ((index = 0; index < count; index++)); do
        entry=$((table + 40 * index))
        echo "$(head -c $((entry + 8)) "$image" | tail -c 8 | tr -d '\0')" \
            "$(od -An -tx4 -j$((entry + 36)) -N4 "$image" | tr -d ' ')"
    done
}

builds="$(dirname "$dist")/build"
for platform in win32 win64; do
    case $platform in
        win32) objdump=i686-w64-mingw32-objdump nm=i686-w64-mingw32-nm
            protections="DYNAMIC_BASE NX_COMPAT NO_SEH" ;;
        win64) objdump=x86_64-w64-mingw32-objdump nm=x86_64-w64-mingw32-nm
            protections="DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT" ;;
    esac
    for image in VardoMSICustomActions.dll VardoMSICustomActionsTrace.dll \
        VardoMSICustomActionsMsi.dll vmsi-run.exe; do
        file="$dist/$platform/$image"
        [ -f "$file" ] || { fail "$file is missing"; continue; }
        tables=$($objdump -p "$file")
        case $image in
            VardoMSICustomActionsMsi.dll) names=$msi_expected_names ;;
            *.dll) names=$expected_names ;;
            *) names="" ;;
        esac
        if [ -n "$names" ]; then
            exported=$(exported_names <<<"$tables")
            if [ "$exported" != "$names" ]; then
                fail "$file exports [$(echo $exported)], expected [$(echo $names)]"
            else
                echo "ok: $file exports $(echo $exported)"
            fi
        fi
        while read -r imported; do
            lower=$(echo "$imported" | tr 'A-Z' 'a-z')
            if [[ "$lower" =~ $allowed ]] ||
                { [ "$image" = VardoMSICustomActionsMsi.dll ] && [[ "$lower" =~ $allowed_msi ]]; }; then
                echo "ok: $file imports $imported"
            else
                fail "$file imports $imported, which is not a KnownDLLs system library"
            fi
        done < <(echo "$tables" | sed -n 's/^\s*DLL Name: //p')
        newer=$(comm -23 <(imported_functions <<<"$tables") <(echo "$on_windows7") | xargs)
        if [ -n "$newer" ]; then
            fail "$file imports functions not on the Windows 7 SP1 list: $newer"
        else
            echo "ok: $file imports only functions that Windows 7 SP1 exports"
        fi
        characteristics=$(echo "$tables" | sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p')
        for protection in $protections; do
            if grep -qw "$protection" <<<"$characteristics"; then
                echo "ok: $file has $protection"
            else
                fail "$file lacks $protection in its DllCharacteristics"
            fi
        done
        relocations=$(echo "$tables" | awk '/^Entry 5 / { print $4 }')
        if [ -n "$relocations" ] && [ "$((16#$relocations))" -gt 0 ]; then
            echo "ok: $file keeps its base relocations"
        else
            fail "$file has no base relocations: ASLR cannot move it"
        fi
        if grep -q 'relocations stripped' <<<"$(echo "$tables" | sed -n '/^Characteristics/,/^$/p')"; then
            fail "$file says its relocations were stripped"
        else
            echo "ok: $file does not say its relocations were stripped"
        fi
        writable_code=""
        while read -r section flags; do
            # IMAGE_SCN_MEM_WRITE and IMAGE_SCN_MEM_EXECUTE
            if (((16#$flags & 0xA0000000) == 0xA0000000)); then
                writable_code+=" $section=$flags"
            fi
        done < <(section_characteristics "$file")
        if [ -n "$writable_code" ]; then
            fail "$file has sections both writable and executable: $writable_code"
        else
            echo "ok: $file has no section both writable and executable"
        fi
        # Here-strings rather than pipes: grep -q ends at its first match,
        # and pipefail would take the writer's broken pipe for a failure.
        if [ "$platform" = win32 ] && grep -qE '%fs:0x0([^0-9a-fx]|$)' <<<"$($objdump -d "$file")"; then
            fail "$file touches the exception handler chain at %fs:0, yet says NO_SEH"
        fi
        unstripped="$builds/$platform/bin/$image"
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
