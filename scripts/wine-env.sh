# Sourced by the project's scripts: where the project's Wine prefix lives and
# how to start and stop its server. Never touches ~/.wine.
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
export WINEPREFIX="${VMSI_WINEPREFIX:-$root/.wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko install prompts: nothing here needs them, and a headless
# machine cannot answer them. No menu builder: it writes launchers and MIME
# types for the prefix's Start menu into the user's own ~/.local and ~/.config.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
WINE64=/usr/lib/wine/wine64
WINE32_LOADER=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver

# Whether 32-bit programs run here only through qemu-user: where the kernel
# cannot run them, scripts/setup.sh registers qemu for them (binfmt_misc)
# after its test of the 32-bit Wine loader fails. The loader then runs, but
# every 32-bit process costs about a minute of emulation. The one test of it
# for every script and test. VMSI_WINE32_EMULATED=yes makes it answer yes
# anywhere: the way to try, where 32-bit programs are native, what the test
# command does where they are not.
wine32_emulated() {
    [ "${VMSI_WINE32_EMULATED:-}" = yes ] ||
        [ "$(head -n 1 /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null)" = enabled ]
}

# A new 64-bit prefix takes minutes (its 32-bit half runs under emulation),
# so it is made once and kept; the marker says it finished.
ensure_wine_prefix() {
    if [ -f "$WINEPREFIX/.vmsi-ready" ]; then
        sandbox_prefix "$WINEPREFIX"
        return 0
    fi
    echo "setup: creating Wine prefix $WINEPREFIX (takes a few minutes)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER" -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "setup: wineboot did not create the prefix" >&2; return 1; }
    sandbox_prefix "$WINEPREFIX"
    touch "$WINEPREFIX/.vmsi-ready"
}

# A new prefix links the user's Desktop, Documents, Pictures, Music, Videos
# and Downloads to the Unix home folder, and AppData's Templates folder
# (Roaming/Microsoft/Windows/Templates) too, where a shortcut copied or a
# cache folder emptied by an action would be the user's own files. Every link
# below drive_c/users that leads out of the prefix, at any depth, becomes a
# real folder inside the prefix (an empty file where it led to a file). Wine
# makes those links again when it updates a prefix (after a Wine upgrade), so
# the prefix is never updated. Safe to run on a prefix that is already
# sandboxed.
sandbox_prefix() {
    local prefix=$1 link
    while IFS= read -r -d '' link; do
        if [ -d "$link" ] || [ ! -e "$link" ]; then
            rm "$link" && mkdir "$link"
        else
            rm "$link" && : >"$link"
        fi
    done < <(links_leading_outside "$prefix")
    echo disable >"$prefix/.update-timestamp"
}

# The links below the prefix's drive_c/users that lead out of the prefix, or
# nowhere, each path ended by a zero byte. find does not follow them, so
# nothing outside is listed.
links_leading_outside() {
    local prefix link
    prefix=$(readlink -f "$1")
    [ -d "$prefix/drive_c/users" ] || return 0
    find "$prefix/drive_c/users" -type l -print0 | while IFS= read -r -d '' link; do
        case "$(readlink -f "$link")" in
        "$prefix" | "$prefix"/*) ;;
        *) printf '%s\0' "$link" ;;
        esac
    done
}

# The project's Wine prefixes: every folder in the project that holds a
# prefix's system.reg (the main one, the code page 932 one, and those of
# other Wine versions), without looking inside a prefix's drive.
project_prefixes() {
    find "$root" -xdev \( -name drive_c -o -name dosdevices -o -path "$root/.git" \) -prune \
        -o -name system.reg -printf '%h\n' 2>/dev/null | sort
}

# For the test command's end: fails, naming each, when a link that leads out
# of a prefix is left in any of the project's prefixes.
check_prefix_sandboxes() {
    local prefix holes found=0
    while IFS= read -r prefix; do
        holes=$(links_leading_outside "$prefix" | tr '\0' '\n')
        [ -z "$holes" ] && continue
        echo "test: the prefix $prefix still links out of itself:"
        echo "$holes"
        found=1
    done < <(project_prefixes)
    [ "$found" -eq 0 ] && echo "test: no prefix of the project links out of itself"
    return "$found"
}

# What Wine could leave in the user's home folder: the visible files and
# folders, and the places where Wine writes menus, file types and caches.
# The project's own folder is left out when it lies in the home folder. One
# line per entry: type, size, modification time, path.
home_snapshot() {
    local place
    for place in .local/share/applications .local/share/mime .local/share/desktop-directories \
        .local/share/icons .config/menus .cache/wine .wine; do
        [ -e "$HOME/$place" ] && echo "present: ~/$place"
    done
    find "$HOME" -xdev -mindepth 1 \( -path "$root" -o -path "$HOME/.*" \) -prune \
        -o -printf '%y %s %T@ %p\n' 2>/dev/null | sort
    for place in .local/share/applications .local/share/mime .local/share/desktop-directories \
        .local/share/icons .config/menus .cache/wine .wine; do
        [ -e "$HOME/$place" ] && find "$HOME/$place" -xdev -printf '%y %s %T@ %p\n' 2>/dev/null | sort
    done
    return 0
}

# The second prefix, whose programs run with the ANSI code page 932 (Japanese
# Shift-JIS, where the second byte of a character may be 0x5C, the value of
# the backslash). Wine takes the code page from the locale of the process's
# environment, not from the registry (its Nls\CodePage ACP value is
# ignored), so the prefix comes with a Japanese locale compiled into it and
# used through LOCPATH: no system locale has to be installed.
CP932_WINEPREFIX="${VMSI_CP932_WINEPREFIX:-$root/.wine-prefix-cp932}"

# Made once from the main prefix, which takes seconds where a new prefix takes
# minutes, and kept; the marker says it finished.
ensure_cp932_prefix() {
    if [ -f "$CP932_WINEPREFIX/.vmsi-ready" ]; then
        sandbox_prefix "$CP932_WINEPREFIX"
        return 0
    fi
    echo "setup: creating the code page 932 prefix $CP932_WINEPREFIX"
    rm -rf "$CP932_WINEPREFIX"
    cp -a "$WINEPREFIX" "$CP932_WINEPREFIX"
    rm -f "$CP932_WINEPREFIX/.vmsi-ready"
    mkdir -p "$CP932_WINEPREFIX/locales"
    localedef -i ja_JP -f UTF-8 "$CP932_WINEPREFIX/locales/ja_JP.UTF-8"
    # The first program under the new locale records it in the prefix.
    (use_cp932_prefix && env "${CP932_LOCALE[@]}" "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 &&
        "$WINESERVER" -k) || true
    touch "$CP932_WINEPREFIX/.vmsi-ready"
}

# For the rest of the calling shell: programs run in the code page 932 prefix,
# each started with the locale: env "${CP932_LOCALE[@]}" program... (The shell
# itself keeps its own locale, which it could not load from LOCPATH.)
use_cp932_prefix() {
    export WINEPREFIX="$CP932_WINEPREFIX"
    export VMSI_WINEPREFIX="$CP932_WINEPREFIX"
    CP932_LOCALE=(LOCPATH="$CP932_WINEPREFIX/locales" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
}

# A persistent server keeps each Wine program start at a fraction of a second.
# The first program in a prefix also starts the prefix's services, which keep
# whatever output handles they inherit open: they are started here, with
# nothing to inherit, so that no caller reading a pipe waits on them. Words
# given go before that first program (env VAR=value...): the services keep
# its environment, and a service under another locale than the programs
# rewrites the prefix's locale settings while they run.
start_wine_server() {
    "$WINESERVER" -p >/dev/null 2>&1 || true # already running is fine
    "$@" "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
# Also ends what the shell left behind (opening a folder starts explorer.exe).
stop_wine_server() { "$WINESERVER" -k 2>/dev/null || true; }
