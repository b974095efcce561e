// Whether a given Quillmark version is installed, told by the registry marker
// that the version leaves under HKEY_LOCAL_MACHINE.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

// VMSI_CheckForQLMK's routine (docs/actions.md).
int checkInstalledVersion(HWND owner, int version, char* versionText);

} // namespace vmsi
