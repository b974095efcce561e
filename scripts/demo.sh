#!/usr/bin/env bash
# Builds the product and shows it working: the story of an install, told by
# the library's own diagnostic texts. It runs in a scratch Wine prefix (a
# fresh copy of the project's), seeds the traces of an earlier installation
# there, and runs each action through the action runner, vmsi-run, which
# loads the library's trace variant and prints every step and result. Then
# it takes the route a package takes: it builds the complete example of
# docs/msi.md with wixl, installs it with msiexec and prints the entries'
# lines of the install log.
#   scripts/demo.sh [--no-build]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/root.sh"
cd "$root"
if [ "${1:-}" != "--no-build" ]; then
    scripts/setup.sh
    echo "== Building the library, 32-bit and 64-bit: several minutes the first time, the compiler's lines follow =="
    scripts/build.sh --no-setup
fi
. scripts/wine-env.sh
ensure_wine_prefix

# The scratch prefix: what the story changes never reaches the project's own.
demo_prefix="$root/build/demo-prefix"
rm -rf "$demo_prefix"
cp -a "$WINEPREFIX" "$demo_prefix"
export WINEPREFIX="$demo_prefix"
start_wine_server
trap 'stop_wine_server; rm -rf "$demo_prefix"' EXIT

drive_c="$WINEPREFIX/drive_c"
user=$(whoami)
# The shipped 32-bit build, as the installer runs it, where 32-bit programs
# run natively. It sees what a 32-bit program sees on 64-bit Windows: the
# 32-bit registry view (Wow6432Node) and "C:\Program Files (x86)", so the
# earlier installation is seeded there.
if wine32_emulated; then
    platform=win64 view=/reg:64 program_files='Program Files' package_architecture=x64
    build_note="(the 64-bit test build of the same sources runs here: 32-bit programs run only emulated on this machine, about a minute each)"
else
    platform=win32 view=/reg:32 program_files='Program Files (x86)' package_architecture=x86
    build_note="(the shipped 32-bit build runs here, with the 32-bit registry view and Program Files folder)"
fi
runner=(env WINEDEBUG=-all "$WINE64" "$root/dist/$platform/vmsi-run.exe")
reg() { "$WINE64" reg "$@" "$view" >/dev/null 2>&1; }

if [ -t 1 ]; then
    say() { printf '\n\033[1m%s\033[0m\n' "$*"; }
else
    say() { printf '\n%s\n' "$*"; }
fi
# The runner's lines are the action's texts (info:, warning:), its result
# and what a started program prints. An action that starts no program prints
# nothing else, so any other line is the rest of the text before it, which
# held a line feed: it is shown under that text, and marked.
run() {
    local starts_program=0
    case $1 in VMSI_Launch | VMSI_LaunchWait | VMSI_LaunchDbMigrate | VMSI_Register) starts_program=1 ;; esac
    printf '$ vmsi-run'
    printf ' "%s"' "$@"
    printf '\n'
    "${runner[@]}" "$@" 2>&1 | tr -d '\r' | awk -v starts_program="$starts_program" '
        /^(info|warning|result|buffer|path|version): / { print "  " $0; text = /^(info|warning): /; next }
        text && !starts_program { print "        " $0 "   <- the same text, after its line feed"; next }
        { print "  " $0 }' || true
}

echo "== The story of an install, in a scratch Wine prefix =="
echo "$build_note"

say "The machine before the install:"
echo "  an earlier photo product, Lensmith, left its catalogue and its registry key;"
echo "  Quillmark 4 left its version marker; the Start menu has a Quillmark shortcut;"
echo "  the old version left a cache folder with three files, one of them read-only."
lensmith="$drive_c/$program_files/Vardo Software Inc/Vardo Lensmith"
mkdir -p "$lensmith/System"
echo "catalogue of 12,408 photos" > "$lensmith/System/pcdb.mdb"
reg add 'HKLM\Software\Vardo\Vardo Lensmith\1.0\Install' /v Directory /d "C:\\$program_files\\Vardo Software Inc\\Vardo Lensmith\\" /f
reg add 'HKLM\Software\Vardo\QLMKInternalVersion\Version4' /v Version /d '4.0.2' /f
programs="$drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
mkdir -p "$programs/Quillmark"
echo "[InternetShortcut]" > "$programs/Quillmark/Quillmark.lnk"
cache="$drive_c/users/$user/AppData/Local/Quillmark/Cache"
mkdir -p "$cache"
for i in 1 2 3; do echo "thumbnail $i" > "$cache/thumb$i.bin"; done
chmod a-w "$cache/thumb3.bin"
tools="$drive_c/$program_files/Quillmark/Tools"
mkdir -p "$tools" "$drive_c/users/$user/Documents/Quillmark/Settings"
# The conversion tool is a stand-in that prints the command line it received.
cp "$root/build/$platform/bin/recorder.exe" "$tools/DbMigrate.exe"

say "1. The installer loads the library and asks who it is."
run GetDLLNameAndVersion

say "2. Is Quillmark 4 installed? Its version marker says so."
run VMSI_CheckForQLMK 4
run VMSI_CheckForQLMK 5

say "3. Where is the earlier catalogue? Five registered installations, then three default folders."
found=$("${runner[@]}" VMSI_CheckForQLMKDB 2>/dev/null | sed -n 's/^buffer: //p' | tr -d '\r')
run VMSI_CheckForQLMKDB

say "4. Start the conversion tool on it and wait until it has ended."
run VMSI_LaunchDbMigrate "C:\\$program_files\\Quillmark\\Tools\\" "$found" "C:\\users\\$user\\Documents\\Quillmark\\" 'catalog.qdb'

say "   A helper of the new version runs once, and the installer waits for it."
run VMSI_LaunchWait 'C:\windows\system32' cmd.exe '/c echo Quillmark settings are ready'

say "5. Write the favourites file: one line, the user's pictures folder."
run VMSI_WriteFavorites "C:\\users\\$user\\" 'Documents\Quillmark\Settings' 'Pictures'
printf '  favorite.txt holds (^M$ is CR LF): '
cat -A "$drive_c/users/$user/Documents/Quillmark/Settings/favorite.txt"

say "6. Put the program's Start-menu shortcut on the current user's desktop (mode 0)."
run VMSI_CreateDesktopShortcut 0 Quillmark Quillmark.lnk
say "   Running it again never overwrites what is there."
run VMSI_CreateDesktopShortcut 0 Quillmark Quillmark.lnk

say "7. Is the new program registered under App Paths yet? Not in this story."
run VMSI_CheckIfAppInstalled Quillmark.exe

say "8. At uninstall: remove the desktop shortcut, and the cache folder (its result is always 0)."
run VMSI_RemoveDesktopShortcut 0 Quillmark.lnk
run VMSI_RemoveQLMKCache "C:\\users\\$user\\AppData\\Local\\Quillmark" Cache
[ -e "$cache" ] && echo "  the cache folder is still there" || echo "  the cache folder is gone"
echo "  (every folder lists an entry \".\", which cannot be deleted as a file: that warning is expected)"

say "A refusal: a cache folder name that climbs out of its parent touches nothing."
run VMSI_RemoveQLMKCache "C:\\users\\$user\\AppData\\Local\\Quillmark" '..\..\Roaming'

say "9. The route a package takes: the complete example of docs/msi.md, built with wixl and installed with msiexec."
echo "  It installs the conversion tool (the same stand-in), finds the earlier catalogue,"
echo "  converts it, deferred, with the tool it has just installed, and removes the old cache folder"
echo "  where there is one."
package_folder="$drive_c/demo-package"
mkdir -p "$package_folder"
# The first XML block after the heading, as the package test takes it.
awk '/^## A complete example/ { section = 1 }
     section && !inside && /^```xml$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' docs/msi.md >"$package_folder/quillmark.wxs"
cp "$root/dist/$platform/VardoMSICustomActionsMsi.dll" msi/VardoMSICustomActions.wxi "$package_folder/"
cp "$root/build/$platform/bin/recorder.exe" "$package_folder/DbMigrate.exe"
echo "\$ wixl -a $package_architecture -o quillmark.msi quillmark.wxs"
(cd "$package_folder" && wixl -a "$package_architecture" -o quillmark.msi quillmark.wxs) 2>&1 | sed 's/^/  /'
echo '$ msiexec /i quillmark.msi /qn /l*v install.log'
status=0
"$WINE64" msiexec /i 'C:\demo-package\quillmark.msi' /qn /l*v 'C:\demo-package\install.log' \
    </dev/null >/dev/null 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    echo "  msiexec ended with $status: the installation failed"
    exit 1
fi
echo "  msiexec ended with 0: installed"
echo "  The entries' lines of install.log:"
tr -d '\r' <"$package_folder/install.log" | grep -a -E '^Vmsi[A-Za-z]+: (info|warning): ' | sed 's/^/    /'

echo
echo "Every export: $root/dist/$platform/vmsi-run.exe --list; every text: docs/actions.md; every entry: docs/msi.md"
