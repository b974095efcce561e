#include "shortcuts.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
#include "entry_deletion.h"
#include "paths.h"
#include "registry.h"

#include <string>

namespace vmsi {

namespace {

enum AllUsersMode : int {
    currentUser = 0,
    allUsers = 1,
    allUsersWhenPermitted = 2,
};

struct ShortcutFolders {
    Text desktop;
    Text programs;
};

// The desktop and Programs folders of the mode. A folder still empty after
// the mode's choice (another mode, or no such registry value) is the current
// user's; the two fall back independently of each other.
ShortcutFolders shortcutFolders(int allUsersMode) {
    bool forAllUsers = allUsersMode == allUsers;
    if (allUsersMode == allUsersWhenPermitted) {
        forAllUsers = canWriteMachineSettings();
    }
    ShortcutFolders folders;
    if (forAllUsers) {
        folders.desktop = shellFolderPath(ShellFolderKind::CommonDesktop);
        folders.programs = shellFolderPath(ShellFolderKind::CommonPrograms);
    }
    if (folders.desktop.empty()) {
        folders.desktop = shellFolderPath(ShellFolderKind::Desktop);
    }
    if (folders.programs.empty()) {
        folders.programs = shellFolderPath(ShellFolderKind::Programs);
    }
    return folders;
}

Text allUsersReport(int allUsersMode) {
    return "Allusers: " + std::to_string(allUsersMode);
}

// A program group or shortcut file name is a path relative to its folder,
// and the action may be run elevated with names a user chose: one that
// climbs out ("..", or a component of dots and spaces only, which Windows
// strips to one), begins at a root or a drive, or holds a drive colon, a
// stream, a wildcard, a quote or a pipe would copy or delete a file
// elsewhere. Nested groups ("Vardo\Quillmark") stay below.
bool liesBelowItsFolder(const Text& relativePath) {
    if (!relativePath.empty() && (relativePath[0] == '\\' || relativePath[0] == '/')) {
        return false;
    }
    if (holdsAnyOf(relativePath, ":*?\"<>|")) {
        return false;
    }
    for (const Text& component : pathComponentsOf(relativePath)) {
        if (climbs(component)) {
            return false;
        }
    }
    return true;
}

const char* const outsideItsFolder = "Shortcut must lie below its folder";

} // namespace

int createDesktopShortcut(HWND owner, int allUsersMode, const Text& programGroup,
                          const Text& shortcutFileName) {
    const ShortcutFolders folders = shortcutFolders(allUsersMode);
    const Text source =
        normalisePath(folders.programs + "\\" + programGroup + "\\" + shortcutFileName);
    const Text destination = joinPath(folders.desktop, shortcutFileName);

    reportInformation(owner, allUsersReport(allUsersMode));
    reportInformation(owner,
                      "Desktop = " + folders.desktop + "\nStartmenuPrograms = " + folders.programs);
    reportInformation(owner, "ShortCut Source = " + source);
    reportInformation(owner, "ShortCut Dest = " + destination);

    if (!liesBelowItsFolder(programGroup) || !liesBelowItsFolder(shortcutFileName)) {
        reportWarning(owner, outsideItsFolder);
        return 0;
    }
    if (!pathExists(source)) {
        reportWarning(owner, "could not find source shortcut: " + source);
        return 0;
    }
    // An existing desktop file is never overwritten.
    if (!fitsPlatform(destination) || !CopyFileA(source.c_str(), destination.c_str(), TRUE)) {
        reportWarning(owner, "Could not copy shortcut: " + source);
        return 0;
    }
    reportInformation(owner, "Shortcut Copied");
    return 1;
}

int removeDesktopShortcut(HWND owner, int allUsersMode, const Text& shortcutFileName) {
    const Text desktop = shortcutFolders(allUsersMode).desktop;
    const Text target = joinPath(desktop, shortcutFileName);

    reportInformation(owner, allUsersReport(allUsersMode));
    reportInformation(owner, "Desktop = " + desktop);
    reportInformation(owner, "csShortCutToDelete = " + target);

    if (!liesBelowItsFolder(shortcutFileName)) {
        reportWarning(owner, outsideItsFolder);
        return 0;
    }
    if (!pathExists(target)) {
        reportWarning(owner, "Could not find shortcut");
        return 0;
    }
    // Read-only, hidden and system attributes are cleared so that such a file is
    // deleted like any other, and stay cleared when the deletion is refused.
    // A folder (the desktop itself, for an empty name) keeps its attributes:
    // it cannot be deleted here, and would otherwise be left changed by the
    // failure. A link is deleted as the link, and a link to a folder kept:
    // neither is ever followed.
    const DWORD error = deleteEntry(target, FolderAttributes::Keep);
    if (error != ERROR_SUCCESS) {
        reportWarning(owner, "Error Deleting Shortcut: GetLastError = " + std::to_string(error));
        return 0;
    }
    reportInformation(owner, "Shortcut deleted");
    return 1;
}

} // namespace vmsi

// VMSI_CreateDesktopShortcut: copies a Start-menu shortcut onto the desktop; 1 when copied.
extern "C" int __stdcall VMSI_CreateDesktopShortcut(HWND owner, int allUsersMode,
                                                    const char* programGroup,
                                                    const char* shortcutFileName) {
    return vmsi::createDesktopShortcut(owner, allUsersMode, vmsi::textFromArgument(programGroup),
                                       vmsi::textFromArgument(shortcutFileName));
}

// VMSI_RemoveDesktopShortcut: deletes a desktop shortcut; 1 when deleted.
extern "C" int __stdcall VMSI_RemoveDesktopShortcut(HWND owner, int allUsersMode,
                                                    const char* shortcutFileName) {
    return vmsi::removeDesktopShortcut(owner, allUsersMode,
                                       vmsi::textFromArgument(shortcutFileName));
}
