#!/usr/bin/env bash
# The GoogleTest suites of both builds again under Wine 10, a second Win32
# implementation beside Debian 12's Wine 8. Wine 10 answers the POSIX
# deletion request (FileDispositionInfoEx) that Wine 8 refuses, so the
# deletion path that Windows 10 and 11 take runs only here; the suite prints
# which one ran, and so does the last line.
#
# Wine 10 comes from a Debian 13 root, made once with debootstrap from the
# Debian mirror of the machine's apt sources and kept in .debian13/ (ignored
# by git) for later runs. Its prefixes, made as scripts/wine-env.sh makes the
# main ones and sandboxed like them, lie inside it. The root sees the project
# at its own path, read-only but for the build folder, where the test
# programs place files beside themselves. The runs happen as the 64-bit suite
# and the 32-bit one do under Wine 8: the main prefix, then the code page 932
# prefix for its own tests; the 32-bit build only where 32-bit programs run
# natively.
#
# Every mount is made in a mount and process namespace of the run's own and
# unmounted on the way out: whatever happens, even when the run is killed,
# no mount outlives it, nor any program started inside.
#
# Its last lines start with "Wine 10 lane: ". Any failed test fails the run
# (status 1). Where the lane cannot run (not root, no debootstrap, the root
# cannot be made), one line says why, and it ends with status 0.
#   scripts/wine10.sh [--rebuild]
#       --rebuild makes the Debian 13 root anew; VMSI_WINE10=skip in the
#       environment skips the lane, in one line
#   scripts/wine10.sh --wine-run PROGRAM [ARGUMENTS...]
#       runs one Windows program in the main Wine 10 prefix instead, as
#       scripts/wine-run.sh does under Wine 8 (paths as in the project)
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
self="$root/scripts/wine10.sh"
folder="$root/.debian13"
debian_root="$folder/root"
ready="$folder/.vmsi-ready"
logs="$root/build/wine10"
# Inside the root: where its Wine prefixes lie.
prefixes=/var/lib/vmsi
packages=(wine wine64 wine32:i386 locales)
# The tests that run in the code page 932 prefix (tests/CMakeLists.txt).
other_prefix_filter="DoubleByteCodePage.*"
# Each run of a test program stops after this many seconds: a hang costs
# minutes, not the rest of the command's time.
run_limit=600

say() { echo "Wine 10 lane: $*"; }

# The mirror that the machine's apt sources name for its own Debian release.
debian_mirror() {
    local release
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    apt-get indextargets --no-release-info --format '$(TARGET_OF) $(RELEASE) $(SITE)' 2>/dev/null |
        awk -v release="$release" '$1 == "deb" && $2 == release { print $3; exit }'
}

# Whether anything is mounted at or below the folder, as this process sees it.
mounted_below() {
    awk -v below="$1" '$5 == below || index($5, below "/") == 1 { found = 1 } END { exit !found }' \
        /proc/self/mountinfo
}

# Binds SOURCE at TARGET (OPTIONS: ro), remembering it for unmount_all.
mounts=()
bind() {
    mkdir -p "$2" && mount --bind "$1" "$2" || return 1
    mounts+=("$2")
    if [ "${3:-}" = ro ]; then mount -o remount,bind,ro "$2" || return 1; fi
}
unmount_all() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}"
    done
    mounts=()
}

# What the programs inside the root need: processes, devices, terminals.
mount_system() {
    mkdir -p "$debian_root/proc" && mount -t proc proc "$debian_root/proc" || return 1
    mounts+=("$debian_root/proc")
    bind /sys "$debian_root/sys" && bind /dev "$debian_root/dev" &&
        bind /dev/pts "$debian_root/dev/pts"
}

# Runs a command in the root with a clean environment.
in_root() {
    chroot "$debian_root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

# In a namespace of its own: the root from debootstrap, then Wine.
make_root() {
    local mirror=$1 include=()
    trap unmount_all EXIT
    if [ ! -x "$debian_root/usr/bin/apt-get" ]; then
        case $mirror in https:*) include=(--include=ca-certificates) ;; esac
        debootstrap --variant=minbase "${include[@]}" trixie "$debian_root" "$mirror" || return 1
    fi
    mount_system || return 1
    in_root dpkg --add-architecture i386 &&
        in_root apt-get update -q &&
        in_root apt-get install -y -q --no-install-recommends "${packages[@]}" &&
        in_root apt-get clean
}

# The root, made where it is missing or was left unfinished; false when it
# cannot be made.
ensure_root() {
    [ "${1:-}" != --rebuild ] && [ "$(cat "$ready" 2>/dev/null)" = "${packages[*]}" ] && return 0
    local mirror started
    mirror=$(debian_mirror)
    if [ -z "$mirror" ]; then
        say "skipped: the machine's apt sources name no Debian mirror"
        return 1
    fi
    # One quick question first: debootstrap waits minutes on a mirror that does not answer.
    if ! wget -q -T 20 -t 1 -O /dev/null "$mirror/dists/trixie/InRelease"; then
        say "skipped: the Debian 13 root could not be made: no answer from $mirror"
        return 1
    fi
    if mounted_below "$folder"; then
        say "skipped: something is mounted below $folder; unmount it first"
        return 1
    fi
    # An unfinished root is made anew; one made for other packages is kept,
    # and apt adds what it lacks.
    if [ "${1:-}" = --rebuild ] || [ ! -f "$ready" ]; then rm -rf "$debian_root"; fi
    rm -f "$ready"
    mkdir -p "$folder"
    started=$(date +%s)
    say "making the Debian 13 root in $folder from $mirror (once; minutes)"
    if ! unshare --mount --pid --fork --propagation private "$self" --make-root "$mirror" \
        >"$folder/setup.log" 2>&1; then
        tail -n 5 "$folder/setup.log"
        say "skipped: the Debian 13 root could not be made: see $folder/setup.log"
        return 1
    fi
    echo "${packages[*]}" >"$ready"
    say "root made in $(($(date +%s) - started)) s"
}

# In a namespace of its own: the project seen inside the root, then the runs.
run_in_root() {
    trap unmount_all EXIT
    mount_system &&
        bind "$root" "$debian_root$root" ro &&
        bind "$root/build" "$debian_root$root/build" || return 1
    # The current folder carries over, for a program's relative paths.
    in_root VMSI_WINE32_EMULATED="$1" VMSI_CALLERS_FOLDER="$PWD" /bin/bash "$self" --inside "${@:2}"
}

# The summary line of one run of a test program and whether it passed:
# "N passed" or "N passed, M failed: names". Its lines end with a carriage
# return (the program writes in text mode).
passed=0
failed=()
count_run() {
    local log=$1 status=$2 count
    count=$(tr -d '\r' <"$log" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p')
    passed=$((passed + ${count:-0}))
    # Each failed test is named twice: after its run, and in the list at the end.
    mapfile -t -O ${#failed[@]} failed < <(tr -d '\r' <"$log" |
        sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/.]*\)\(, where .*\| (.*\)\{0,1\}$/\1/p' |
        awk '!seen[$0]++')
    if [ "$status" -ne 0 ] || [ -z "$count" ] || grep -q '^\[  FAILED  \]' "$log"; then
        cat "$log"
        [ -n "$count" ] || failed+=("(the run of $3 ended without its summary: status $status)")
        return 1
    fi
}

# One build's suite, in both prefixes; RESULT is set to its summary.
run_suite() {
    local build=$1 program=$2 log status
    passed=0
    failed=()
    start_wine_server
    log="$logs/suite$build.log"
    status=0
    timeout -k 10 "$run_limit" "$root/scripts/wine-run.sh" "$program" \
        "--gtest_filter=-$other_prefix_filter" >"$log" 2>&1 || status=$?
    stop_wine_server
    count_run "$log" "$status" "$program"
    log="$logs/suite$build-cp932.log"
    status=0
    timeout -k 10 "$run_limit" "$root/scripts/wine-run-cp932.sh" "$program" \
        "--gtest_filter=$other_prefix_filter" >"$log" 2>&1 || status=$?
    count_run "$log" "$status" "$program"
    RESULT="$passed passed"
    [ ${#failed[@]} -eq 0 ] || RESULT="$RESULT, ${#failed[@]} failed: ${failed[*]}"
    # The deletion path, as the suite's probe of the platform printed it.
    deletion=$(tr -d '\r' <"$logs/suite$build.log" |
        sed -n 's/^\[figures\] deletion path: //p' | head -n 1)
    RESULT="$RESULT; deletion path: ${deletion:-(not printed)}"
    [ ${#failed[@]} -eq 0 ]
}

# Inside the root, as root: the prefixes, then the suites of both builds.
run_inside() {
    export VMSI_WINEPREFIX="$prefixes/wine-prefix"
    export VMSI_CP932_WINEPREFIX="$prefixes/wine-prefix-cp932"
    . "$root/scripts/wine-env.sh"
    local started status=0 result64 result32 version
    mkdir -p "$prefixes" "$logs"
    started=$(date +%s)
    if [ ! -f "$CP932_WINEPREFIX/.vmsi-ready" ]; then
        if ! ensure_wine_prefix || ! ensure_cp932_prefix; then
            say "the Wine 10 prefixes could not be made"
            return 1
        fi
        say "prefixes made in $(($(date +%s) - started)) s"
    fi
    ensure_wine_prefix && ensure_cp932_prefix || return 1
    if [ $# -gt 0 ]; then
        cd "$VMSI_CALLERS_FOLDER" || return 1
        start_wine_server
        "$root/scripts/wine-run.sh" "$@"
        status=$?
        stop_wine_server
        return "$status"
    fi
    started=$(date +%s)
    run_suite 64-bit "$root/build/win64/bin/vmsi-tests.exe" || status=1
    result64=$RESULT
    if wine32_emulated; then
        result32="skipped, as 32-bit programs run here only through qemu-user (about a minute each)"
    else
        # The release bundle's libraries, as suite32 runs them.
        version=$(cat "$root/build/win32/VERSION")
        VMSI_SHIPPED_FOLDER="$root/build/win64/bundle-check/VardoMSICustomActions-$version-win32"
        export VMSI_SHIPPED_FOLDER
        run_suite 32-bit "$root/build/win32/bin/vmsi-tests.exe" || status=1
        result32=$RESULT
    fi
    say "$("$WINE64" --version) from Debian 13, run in $(($(date +%s) - started)) s (logs in $logs)"
    say "64-bit suite: $result64"
    say "32-bit suite: $result32"
    return "$status"
}

case "${1:-}" in
--make-root) make_root "$2" ;;
--run-in-root) run_in_root "${@:2}" ;;
--inside) run_inside "${@:2}" ;;
"" | --rebuild | --wine-run)
    # A checkout that is not to make a root of its own (a second working copy
    # on a machine that has one already) says so.
    if [ "${VMSI_WINE10:-}" = skip ]; then
        say "skipped: VMSI_WINE10=skip"
        exit 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        say "skipped: it needs root (debootstrap, chroot and its mounts)"
        exit 0
    fi
    for tool in debootstrap unshare chroot; do
        command -v "$tool" >/dev/null || { say "skipped: $tool is not installed"; exit 0; }
    done
    ensure_root "${1:-}" || exit 0
    # What is left is the program to run, if any.
    if [ "${1:-}" = --wine-run ]; then shift; else set --; fi
    . "$root/scripts/wine-env.sh"
    if wine32_emulated; then emulated=yes; else emulated=no; fi
    status=0
    unshare --mount --pid --fork --propagation private "$self" --run-in-root "$emulated" "$@" ||
        status=$?
    if mounted_below "$folder"; then
        say "a mount below $folder outlived the run"
        status=1
    fi
    exit "$status"
    ;;
*)
    echo "usage: scripts/wine10.sh [--rebuild | --wine-run PROGRAM [ARGUMENTS...]]" >&2
    exit 2
    ;;
esac
