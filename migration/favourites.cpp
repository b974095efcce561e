#include "favourites.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
#include "entry_deletion.h"
#include "handles.h"
#include "paths.h"

namespace vmsi {

int writeFavourites(HWND owner, const Text& baseFolder, const Text& fileFolder,
                    const Text& favourite, HeldKindQuery kindOf) {
    reportInformation(owner, "Writing favorite file");

    const Text location = normalisePath(baseFolder + "\\" + fileFolder + "\\favorite.txt");
    const Text contents = joinPath(baseFolder, favourite);
    reportWarning(owner, "Path to write file to: " + location);
    reportWarning(owner, "Contents to write: " + contents);
    // The file holds one line, which whatever reads it takes as one path.
    if (contents.find_first_of("\r\n") != Text::npos) {
        reportWarning(owner, "The favourite must be one line, nothing written");
        return 0;
    }
    // Bytes of the ANSI code page as they are: no byte-order mark, no
    // terminating zero.
    const Text line = contents + "\r\n";

    // The folder is held, so that it cannot be swapped for a link while the
    // file is written, and must lie where its path says below the base
    // folder: a link on the way (a junction to "\\RPC Control" among them)
    // would have the installer create or overwrite a file elsewhere. A
    // missing folder is not created.
    const Text folderPath = normalisePath(baseFolder + "\\" + fileFolder);
    const HeldFolder folder = holdFolder(folderPath);
    if (!folder.handle) {
        reportWarning(owner, "failed to write the file.  does the directory exist?");
        return 0;
    }
    if (heldEntryKind(folder.handle.get(), folderPath) != EntryKind::Folder ||
        placeOfHeldFolder(folder.handle.get(), baseFolder, fileFolder) != FolderPlace::AsNamed) {
        reportWarning(owner, "failed to write the file contents");
        return 0;
    }
    // Opened relative to the held folder, not shared while open, and, when
    // it exists, as the link rather than what a link points at (which rules
    // out truncating on opening: an existing file is emptied below, once it
    // is known to be one).
    FileHandle file = openOrCreateFileIn(folder, "favorite.txt", GENERIC_READ | GENERIC_WRITE);
    if (!file) {
        reportWarning(owner, "failed to write the file.  does the directory exist?");
        return 0;
    }
    // Only an ordinary file on a disk, of one name, takes the line: a pipe,
    // a device, a link or a hard link (whose other name may be any file of
    // the machine) is closed untouched. The type comes first, as a pipe has
    // no attributes to read.
    DWORD written = 0;
    if (GetFileType(file.get()) != FILE_TYPE_DISK ||
        kindOf(file.get(), location) != EntryKind::File || !SetEndOfFile(file.get()) ||
        !WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        reportWarning(owner, "failed to write the file contents");
        return 0;
    }
    return 1;
}

} // namespace vmsi

// VMSI_WriteFavorites: writes the favourites file; 1 when written.
extern "C" int __stdcall VMSI_WriteFavorites(HWND owner, const char* baseFolder,
                                             const char* fileFolder, const char* favourite) {
    return vmsi::writeFavourites(owner, vmsi::textFromArgument(baseFolder),
                                 vmsi::textFromArgument(fileFolder),
                                 vmsi::textFromArgument(favourite));
}
