// Opening a file through the shell, and starting a program and waiting for
// it. launchAndWait is also what the catalogue conversion relies on.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

int launchThroughShell(HWND owner, const Text& folder, const Text& fileName,
                       const Text& parameters);

int launchAndWait(HWND owner, const Text& folder, const Text& fileName, const Text& parameters);

} // namespace vmsi
