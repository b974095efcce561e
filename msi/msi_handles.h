// The owner of a Windows Installer handle (records, views, databases):
// closed with MsiCloseHandle whatever path a routine leaves by. The session
// handle an entry point is given is the installer's and is never closed.
#pragma once

#include "handles.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

namespace vmsi::msi {

// Closed through the import of msi.dll, or, in a program that loads msi.dll
// only when it needs it (vmsi-run --msi), through the function it found.
template <typename Closer>
struct InstallerHandleTraits {
    using Value = MSIHANDLE;
    static Value invalid() { return 0; }
    static void close(Value handle) { Closer::close(handle); }
};

struct ImportedCloser {
    static void close(MSIHANDLE handle) { MsiCloseHandle(handle); }
};

using InstallerHandle = UniqueHandle<InstallerHandleTraits<ImportedCloser>>;

} // namespace vmsi::msi
