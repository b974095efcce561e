// Deleting the product's cache folder: the files directly inside it, then
// the folder itself. One level only; nothing outside the folder is touched.
#pragma once

#include "entry_deletion.h"
#include "text.h"

#include <windows.h>

namespace vmsi {

// Whether the cache folder's name names a folder strictly below its parent:
// not drive-qualified, no component that climbs (".." and, as the platform
// strips trailing dots and spaces, any other name made only of dots and
// spaces), and not the parent itself ("."). A leading backslash or slash
// joins below the parent like any other separator.
bool namesAFolderBelow(const Text& cacheFolderName);

// Deletes every file directly in parentFolder\cacheFolderName, then the
// folder; reports what could not be deleted. Always 0. The folder is held
// while its entries are listed and deleted, and removed through that hold;
// each entry is opened relative to it and deleted through a handle that
// holds it (entry_deletion.h): no link is followed, nothing outside the
// folder is reached, and no link can be swapped in between the check of an
// entry and its deletion. The observer is for tests that act as a rival at
// those moments.
int removeCacheFolder(HWND owner, const Text& parentFolder, const Text& cacheFolderName,
                      DeletionObserver* observer = nullptr);

} // namespace vmsi
