# Sourced by the project's scripts: where the project's Wine prefix lives and
# how to start and stop its server. Never touches ~/.wine.
project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${VMSI_WINEPREFIX:-$project_root/.wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko install prompts: nothing here needs them, and a headless
# machine cannot answer them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
WINE64=/usr/lib/wine/wine64
WINE32_LOADER=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver

# A new 64-bit prefix takes minutes (its 32-bit half runs under emulation),
# so it is made once and kept; the marker says it finished.
ensure_wine_prefix() {
    if [ -f "$WINEPREFIX/.vmsi-ready" ]; then return 0; fi
    echo "setup: creating Wine prefix $WINEPREFIX (takes a few minutes)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER" -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "setup: wineboot did not create the prefix" >&2; return 1; }
    touch "$WINEPREFIX/.vmsi-ready"
}

# A persistent server keeps each Wine program start at a fraction of a second.
# The first program in a prefix also starts the prefix's services, which keep
# whatever output handles they inherit open: they are started here, with
# nothing to inherit, so that no caller reading a pipe waits on them.
start_wine_server() {
    "$WINESERVER" -p 2>/dev/null || true # already running is fine
    "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
# Also ends what the shell left behind (opening a folder starts explorer.exe).
stop_wine_server() { "$WINESERVER" -k 2>/dev/null || true; }
