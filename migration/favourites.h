// The favourites file "favorite.txt": one line that holds one full path.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

// Creates or replaces baseFolder\fileFolder\favorite.txt holding
// baseFolder\favourite followed by CR LF. Creates no folder. 1 when the
// whole line was written; 0 when the file could not be created or the write
// failed.
int writeFavourites(HWND owner, const Text& baseFolder, const Text& fileFolder,
                    const Text& favourite);

} // namespace vmsi
