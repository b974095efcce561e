// Copying a Start-menu shortcut onto the desktop and deleting a desktop
// shortcut, for the current user or for all users.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

int createDesktopShortcut(HWND owner, int allUsersMode, const Text& programGroup,
                          const Text& shortcutFileName);

int removeDesktopShortcut(HWND owner, int allUsersMode, const Text& shortcutFileName);

} // namespace vmsi
