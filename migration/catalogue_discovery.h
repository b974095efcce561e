// Finding the catalogue database of an earlier photo product of the same
// maker, so that the installation can carry the user's catalogue over.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

// One registered earlier installation: the key under HKEY_LOCAL_MACHINE, the
// value that holds its install folder, and where the database lies below
// that folder. The label only names it in the first report of its probe.
struct RegistryCatalogueCandidate {
    const char* label;
    const char* keyPath;
    const char* valueName;
    const char* relativePath;
};

// The database path of one registered installation when that file (or a
// folder of its name) exists, otherwise the empty text.
Text probeRegistryCatalogue(HWND owner, const RegistryCatalogueCandidate& candidate);

// Probes the registered installations, then the default folders under the
// Program Files folder, in their fixed order; the first database that exists
// is copied into the result buffer (MAX_PATH bytes; a null buffer is not
// written) and gives 1. Nothing found, or a path too long for the buffer,
// gives 0 and leaves the buffer alone.
int findEarlierCatalogue(HWND owner, char* databasePath);

} // namespace vmsi
