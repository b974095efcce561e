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

// VMSI_CheckForQLMKDB's routine (docs/actions.md).
int findEarlierCatalogue(HWND owner, char* databasePath);

} // namespace vmsi
