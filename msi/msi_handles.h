// The owner of a Windows Installer handle (records, views, databases):
// closed with MsiCloseHandle whatever path a routine leaves by. The session
// handle an entry point is given is the installer's and is never closed.
#pragma once

#include "handles.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

namespace vmsi::msi {

struct InstallerHandleTraits {
    using Value = MSIHANDLE;
    static Value invalid() { return 0; }
    static void close(Value handle) { MsiCloseHandle(handle); }
};

using InstallerHandle = UniqueHandle<InstallerHandleTraits>;

} // namespace vmsi::msi
