#!/usr/bin/env bash
# Benchmarks: the library's load, its heaviest actions and the size of the
# shipped DLL, each measured in one run side by side with
# the floor it cannot go below. Rewrites the table of docs/benchmarks.md.
# Not part of scripts/test.sh.
#   scripts/bench.sh [--no-setup] [--rounds N]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
cd "$root"

setup=1
rounds=21
while [ $# -gt 0 ]; do
    case $1 in
        --no-setup) setup=0 ;;
        --rounds) rounds=${2:?--rounds takes a number}; shift ;;
        *) echo "usage: scripts/bench.sh [--no-setup] [--rounds N]" >&2; exit 2 ;;
    esac
    shift
done
[ "$setup" = 0 ] || scripts/setup.sh

# What the benchmarks need, and nothing else: the shipped library, the empty
# DLL and the bench program on both platforms.
for platform in win32 win64; do
    scripts/configure.sh "$platform"
    cmake --build "build/$platform" -j 2 --target VardoMSICustomActions VmsiBenchEmpty vmsi-bench
done

# Stripped copies, as they are shipped, side by side with the bench programs.
work=build/bench
rm -rf "$work"
mkdir -p "$work/win32" "$work/win64"
for dll in VardoMSICustomActions VmsiBenchEmpty; do
    i686-w64-mingw32-strip -o "$work/win32/$dll.dll" "build/win32/bin/$dll.dll"
    x86_64-w64-mingw32-strip -o "$work/win64/$dll.dll" "build/win64/bin/$dll.dll"
done
cp build/win32/bin/vmsi-bench.exe "$work/win32/"
cp build/win64/bin/vmsi-bench.exe "$work/win64/"

. scripts/wine-env.sh

# The 32-bit rows need 32-bit programs that run at their own speed: an
# emulator's figures say nothing of the shipped build.
unmeasured32=""
if wine32_emulated; then
    unmeasured32="32-bit programs run on this machine only through qemu-user, about a minute per process, at the emulator's speed"
elif ! "$WINE32_LOADER" --version >/dev/null 2>&1; then
    unmeasured32="32-bit programs do not run on this machine"
fi

# Each program's RESULT lines, their ids tagged with the build they measure.
tagged() {
    local build=$1
    shift
    "$@" | sed "s/^RESULT /RESULT $build-/"
}

results=$work/results.txt
: >"$results"
load_before=$(cut -d' ' -f1 /proc/loadavg)

start_wine_server
trap stop_wine_server EXIT
echo "bench: library under 64-bit Wine"
tagged win64 scripts/wine-run.sh "$work/win64/vmsi-bench.exe" --rounds "$rounds" >>"$results"
if [ -z "$unmeasured32" ]; then
    echo "bench: library under 32-bit Wine"
    tagged win32 scripts/wine-run.sh "$work/win32/vmsi-bench.exe" --rounds "$rounds" >>"$results"
else
    echo "bench: 32-bit rows not measured: $unmeasured32"
fi
load_after=$(cut -d' ' -f1 /proc/loadavg)

# Size and imports of the 32-bit DLLs: the same figure for every "round".
imports() { i686-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort; }
library_size=$(stat -c %s "$work/win32/VardoMSICustomActions.dll")
empty_size=$(stat -c %s "$work/win32/VmsiBenchEmpty.dll")
echo "SIZE $library_size $empty_size $(imports "$work/win32/VardoMSICustomActions.dll" | paste -sd, -)" \
    "$(imports "$work/win32/VmsiBenchEmpty.dll" | paste -sd, -)" >>"$results"

cat "$results"

# The table, between its markers in docs/benchmarks.md; the text around it
# is kept.
table=$work/table.md
{
    echo "<!-- The table up to the end marker is written by scripts/bench.sh. -->"
    echo
    echo "Run of $(date -u +%Y-%m-%d) on $(nproc) cores ($(uname -m)), $("$WINE64" --version 2>/dev/null || echo Wine)," \
        "$rounds rounds; spread is the interquartile range of the per-round ratios." \
        "Load average (1 minute) $load_before at the start, $load_after at the end."
    if [ -n "$unmeasured32" ]; then
        echo
        echo "The 32-bit rows were not measured: $unmeasured32."
    fi
    echo
    awk -v unmeasured32="$unmeasured32" -f bench/table.awk "$results"
    echo
    echo "<!-- end of the generated table -->"
} >"$table"

doc=docs/benchmarks.md
if [ -f "$doc" ] && grep -q '^<!-- end of the generated table -->$' "$doc"; then
    awk -v table="$table" '
        /^<!-- The table up to the end marker/ { while ((getline line < table) > 0) print line; skipping = 1; next }
        skipping && /^<!-- end of the generated table -->$/ { skipping = 0; next }
        !skipping { print }
    ' "$doc" >"$work/benchmarks.md"
else
    { echo "# Benchmarks"; echo; cat "$table"; } >"$work/benchmarks.md"
fi
mv "$work/benchmarks.md" "$doc"
echo "bench: $doc written"
