// The library's own file path and version, computed once when the library
// is attached to a process and read-only afterwards.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

struct ModuleIdentity {
    Text path;    // full path of the library's own file, however long
    Text version; // "%d.%d.%d.%d" of the fixed file version, or empty
};

// Fills the identity of the given module. Never fails: a module without a
// version resource gets an empty version, and without a name an empty path.
ModuleIdentity readModuleIdentity(HMODULE module);

// The file version of a VS_VERSIONINFO block as "a.b.c.d", or empty when the
// block holds no valid fixed file information. Never reads past size bytes.
Text fixedFileVersionText(const void* versionInfo, std::size_t size);

// A file version, given as the two words of VS_FIXEDFILEINFO, as "a.b.c.d":
// each 16-bit number in decimal, without leading zeros.
Text versionText(DWORD mostSignificant, DWORD leastSignificant);

// The identity of this library, filled by the start-up.
const ModuleIdentity& libraryIdentity();
void startUpLibrary(HMODULE module);

} // namespace vmsi
