#!/usr/bin/env bash
# Benchmarks: the library's load, its heaviest actions, the path normaliser
# and the size of the shipped DLL, each measured in one run side by side with
# the floor it cannot go below. Rewrites the table of docs/benchmarks.md.
# Not part of scripts/test.sh.
#   scripts/bench.sh [--no-setup] [--rounds N]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
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

# What the benchmarks need, and nothing else: the shipped library and the
# empty DLL on both platforms, the 64-bit bench program, and the native
# build of the path normaliser.
for platform in win32 win64; do
    scripts/configure.sh "$platform"
    targets=(VardoMSICustomActions VmsiBenchEmpty)
    [ "$platform" = win64 ] && targets+=(vmsi-bench)
    cmake --build "build/$platform" -j 2 --target "${targets[@]}"
done
cmake -S bench/native -B build/native -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/native -j 2

# Stripped copies, as they are shipped, side by side with the bench program.
work=build/bench
rm -rf "$work"
mkdir -p "$work/win32" "$work/win64"
for dll in VardoMSICustomActions VmsiBenchEmpty; do
    i686-w64-mingw32-strip -o "$work/win32/$dll.dll" "build/win32/bin/$dll.dll"
    x86_64-w64-mingw32-strip -o "$work/win64/$dll.dll" "build/win64/bin/$dll.dll"
done
cp build/win64/bin/vmsi-bench.exe "$work/win64/"

results=$work/results.txt
echo "bench: path normaliser (native)"
build/native/normaliser-bench --rounds "$rounds" >"$results"

echo "bench: library under 64-bit Wine"
. scripts/wine-env.sh
start_wine_server
trap stop_wine_server EXIT
scripts/wine-run.sh "$work/win64/vmsi-bench.exe" --rounds "$rounds" >>"$results"

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
        "$rounds rounds; spread is the interquartile range of the per-round ratios."
    echo
    awk -f bench/table.awk "$results"
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
