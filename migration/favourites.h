// The favourites file "favorite.txt": one line that holds one full path.
#pragma once

#include "entry_deletion.h"
#include "text.h"

#include <windows.h>

namespace vmsi {

// What the opened file is: heldEntryKind. Wine 8 opens what a link points at
// even when asked for the link itself, so tests give a stand-in that answers
// as Windows does for a link.
using HeldKindQuery = EntryKind (*)(HANDLE held, const Text& path);

// Creates or replaces baseFolder\fileFolder\favorite.txt holding
// baseFolder\favourite followed by CR LF. Creates no folder, and writes
// through no link (in the file folder's path below the base folder, or in
// the file's place), pipe, device or hard link: the folder is held and must
// lie where its path says (placeOfHeldFolder), and the file is opened
// relative to it. 1 when the whole line was written; 0 when the favourite
// holds a line break, or the file could not be created, does not lie where
// its path says, is no ordinary file on a disk of one name, or could not be
// written.
int writeFavourites(HWND owner, const Text& baseFolder, const Text& fileFolder,
                    const Text& favourite, HeldKindQuery kindOf = heldEntryKind);

} // namespace vmsi
