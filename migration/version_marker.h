// Whether a given Quillmark version is installed, told by the registry marker
// that the version leaves under HKEY_LOCAL_MACHINE.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

// 1 when the marker value "Version" exists; its text then goes into the
// result buffer (MAX_PATH bytes, cut to fit; a null buffer is not written).
// 0 when it does not, and the buffer is left alone.
int checkInstalledVersion(HWND owner, int version, char* versionText);

} // namespace vmsi
