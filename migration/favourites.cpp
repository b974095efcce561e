#include "favourites.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
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

    // Not shared while open; a missing folder is not created. A link is
    // opened as the link, never as what it points at (which rules out
    // CREATE_ALWAYS: an existing file is emptied below, once it is known to
    // be one). A pipe's server may learn who opened it, but never act as the
    // installer.
    FileHandle file(fitsPlatform(location)
                        ? CreateFileA(location.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                                          SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                      nullptr)
                        : INVALID_HANDLE_VALUE);
    if (!file) {
        reportWarning(owner, "failed to write the file.  does the directory exist?");
        return 0;
    }
    // Only an ordinary file on a disk takes the line: a pipe, a device or a
    // link is closed untouched. The type comes first, as a pipe has no
    // attributes to read.
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

// VMSI_WriteFavorites: writes baseFolder\fileFolder\favorite.txt holding the
// line baseFolder\favourite. 1 when written; 0 when the favourite is not one
// line, or the file could not be created, is no ordinary file on a disk, or
// could not be written.
extern "C" int __stdcall VMSI_WriteFavorites(HWND owner, const char* baseFolder,
                                             const char* fileFolder, const char* favourite) {
    return vmsi::writeFavourites(owner, vmsi::textFromArgument(baseFolder),
                                 vmsi::textFromArgument(fileFolder),
                                 vmsi::textFromArgument(favourite));
}
