#!/usr/bin/env bash
# Links a small caller (fixtures/import_caller.c, with the public header)
# through the import files of the unpacked release bundle, the way the bundle
# readme tells each toolchain to:
#  - mingw-w64: the bundled libVardoMSICustomActions.dll.a, and an import
#    library made from the bundled export list with the documented dlltool
#    command;
#  - the Microsoft toolchain: the bundled VardoMSICustomActions.lib, with clang
#    in its Microsoft mode and lld-link (no Windows SDK here: the caller has no
#    C runtime, and its kernel32 import library is made from a list below).
# Each caller must import from VardoMSICustomActions.dll exactly the names
# that the bundled DLL exports (GetDLLNameAndVersion aside: it is for C++
# callers of the mingw-w64 toolchain). The Microsoft one is then run once
# under Wine beside the bundled DLL; it is a 32-bit process, so this takes
# about a minute where 32-bit programs run only under emulation.
# Usage: check_import_libraries.sh BUNDLE_FOLDER CALLER_SOURCE WORK_FOLDER
set -euo pipefail
bundle=$1
source=$2
work=$3
scripts="$(cd "$(dirname "${BASH_SOURCE[0]}")/../scripts" && pwd)"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The names a caller imports from the library, and the library's exports.
imports_of() {
    i686-w64-mingw32-objdump -p "$1" |
        sed -n '/DLL Name: VardoMSICustomActions.dll/,/^$/s/^\s*[0-9a-f]\+\s\+[0-9]\+\s\+//p' | sort
}
exported=$(i686-w64-mingw32-objdump -p "$bundle/VardoMSICustomActions.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] \([^ ]*\)$/\1/p' |
    grep -vx GetDLLNameAndVersion | sort)
check_imports() {
    local imported
    imported=$(imports_of "$1")
    if [ "$imported" = "$exported" ]; then
        echo "ok: $1 imports $(echo $imported) from VardoMSICustomActions.dll"
    else
        fail "$1 imports [$(echo $imported)] from VardoMSICustomActions.dll, expected [$(echo $exported)]"
    fi
}

i686-w64-mingw32-gcc -nostdlib -e _callerEntry -I "$bundle" "$source" \
    "$bundle/libVardoMSICustomActions.dll.a" -lkernel32 -o caller-mingw-bundled.exe
check_imports caller-mingw-bundled.exe
cp "$bundle/VardoMSICustomActions.def" .
i686-w64-mingw32-dlltool -k -d VardoMSICustomActions.def -l libVardoMSICustomActions.dll.a
i686-w64-mingw32-gcc -nostdlib -e _callerEntry -I "$bundle" "$source" \
    libVardoMSICustomActions.dll.a -lkernel32 -o caller-mingw.exe
check_imports caller-mingw.exe

# The mingw-w64 headers serve as the SDK's: they take the compiler for GCC
# (their Microsoft branch puts __declspec(noreturn) where clang refuses it)
# and need _X86_, which the mingw-w64 compiler defines itself.
clang --target=i686-pc-windows-msvc -fgnuc-version=12 -D_X86_ -isystem /usr/i686-w64-mingw32/include \
    -I "$bundle" -c "$source" -o caller.obj
printf 'LIBRARY kernel32.dll\nEXPORTS\n    ExitProcess@4\n' >kernel32.def
llvm-dlltool -m i386 -k -d kernel32.def -l kernel32.lib
lld-link /nologo /entry:callerEntry /subsystem:console /nodefaultlib caller.obj \
    "$bundle/VardoMSICustomActions.lib" kernel32.lib /out:caller-msvc.exe
check_imports caller-msvc.exe

. "$scripts/wine-env.sh"
if wine32_emulated; then
    echo "32-bit programs run under emulation here: one 32-bit process, about a minute"
else
    echo "32-bit programs run natively here"
fi
cp "$bundle/VardoMSICustomActions.dll" .
status=0
"$scripts/wine-run.sh" caller-msvc.exe || status=$?
if [ "$status" -eq 0 ]; then
    echo "ok: caller-msvc.exe ran and called the library beside it"
else
    fail "caller-msvc.exe ended with status $status"
fi

[ "$failures" -eq 0 ] && echo "import libraries: all checks passed"
exit $((failures > 0))
