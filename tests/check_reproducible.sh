#!/usr/bin/env bash
# Builds what ships twice, from two copies of the sources at paths of
# different lengths, a while apart, the second under another time zone and
# umask, and checks that the two release bundles are byte-identical: no link
# time, build path, file time, permission or listing order may reach them.
# Only the 32-bit product is built (no test programs): about a minute in all
# where the two cores are free.
# Usage: check_reproducible.sh PROJECT_ROOT WORK_FOLDER
set -euo pipefail
root=$1
work=$2
# The bundle's times come from the commit; both bundles take the same one.
# The builds themselves run without it: ld would take it for the link time.
commit_time=$(git -C "$root" log -1 --format=%ct)
unset SOURCE_DATE_EPOCH
# Distinctive folder names of letters only: a build path shows in a binary
# even where its slashes and dashes were turned into underscores.
first="$work/vmsicopyone"
second="$work/vmsithesecondcopyatalongerpath"
rm -rf "$work"

build_copy() {
    local copy=$1
    mkdir -p "$copy"
    tar -C "$root" --exclude=./build --exclude=./dist --exclude='./.wine-prefix*' \
        --exclude=./.debian13 --exclude=./.git -cf - . | tar -C "$copy" -xf -
    # As scripts/configure.sh configures the product, without the tests.
    cmake -S "$copy" -B "$copy/build/win32" -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/toolchain-i686-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVMSI_BUILD_TESTS=OFF >/dev/null
    cmake --build "$copy/build/win32" -j 2 >/dev/null
    cmake --install "$copy/build/win32" --prefix "$copy/dist/win32" --strip >/dev/null
    SOURCE_DATE_EPOCH=$commit_time "$copy/scripts/bundle.sh" --no-build >/dev/null
}

started=$(date +%s)
build_copy "$first"
(umask 027 && TZ=Pacific/Chatham build_copy "$second")
echo "built twice in $(($(date +%s) - started)) s"

version=$(cat "$first/build/win32/VERSION")
name="VardoMSICustomActions-$version-win32"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

for copy in "$first" "$second"; do
    mkdir -p "$copy/unpacked"
    unzip -q "$copy/dist/$name.zip" -d "$copy/unpacked"
done
for file in $(cd "$first/unpacked/$name" && ls); do
    if cmp -s "$first/unpacked/$name/$file" "$second/unpacked/$name/$file"; then
        echo "ok: $file is the same in both builds"
    else
        fail "$file differs between the builds ($(cmp -l "$first/unpacked/$name/$file" \
            "$second/unpacked/$name/$file" | wc -l) bytes)"
    fi
    for copy in "$first" "$second"; do
        if grep -q -a -e vmsicopyone -e vmsithesecondcopy "$copy/unpacked/$name/$file"; then
            fail "$file holds a build path"
        fi
    done
done
if cmp -s "$first/dist/$name.zip" "$second/dist/$name.zip"; then
    echo "ok: the two bundles are byte-identical"
else
    fail "the two bundles differ"
fi

# Every entry carries the commit's time (in the zip's steps of two seconds,
# rounded up), whatever the time zone, and the entries come in name order.
expected_time=$(TZ=UTC date -d "@$(((commit_time + 1) / 2 * 2))" +%Y%m%d.%H%M%S)
times=$(TZ=UTC zipinfo -T "$first/dist/$name.zip" | awk '/^[-d]/ { print $7 }' | sort -u)
[ "$times" = "$expected_time" ] || fail "entry times [$(echo $times)], expected $expected_time"
entries=$(zipinfo -1 "$first/dist/$name.zip")
[ "$entries" = "$(LC_ALL=C sort <<<"$entries")" ] || fail "entries are not in name order: $(echo $entries)"

[ "$failures" -eq 0 ] || exit 1
rm -rf "$work"
echo "reproducible: all checks passed"
