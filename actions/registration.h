// Registering a component with the system's registration tool, and telling
// whether a program is registered under App Paths.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

int registerComponent(HWND owner, const Text& options, const Text& folder, const Text& fileName);

int checkIfAppInstalled(HWND owner, const Text& programName);

} // namespace vmsi
