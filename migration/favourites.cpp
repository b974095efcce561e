#include "favourites.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
#include "handles.h"
#include "paths.h"

namespace vmsi {

int writeFavourites(HWND owner, const Text& baseFolder, const Text& fileFolder,
                    const Text& favourite) {
    reportInformation(owner, "Writing favorite file");

    const Text location = normalisePath(baseFolder + "\\" + fileFolder + "\\favorite.txt");
    const Text contents = joinPath(baseFolder, favourite);
    reportWarning(owner, "Path to write file to: " + location);
    reportWarning(owner, "Contents to write: " + contents);
    // Bytes of the ANSI code page as they are: no byte-order mark, no
    // terminating zero.
    const Text line = contents + "\r\n";

    // Not shared while open; an existing file is replaced, a missing folder
    // is not created.
    FileHandle file(fitsPlatform(location)
                        ? CreateFileA(location.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                        : INVALID_HANDLE_VALUE);
    if (!file) {
        reportWarning(owner, "failed to write the file.  does the directory exist?");
        return 0;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        reportWarning(owner, "failed to write the file contents");
        return 0;
    }
    return 1;
}

} // namespace vmsi

// VMSI_WriteFavorites: writes baseFolder\fileFolder\favorite.txt holding the
// line baseFolder\favourite. 1 when written; 0 when the file could not be
// created or written.
extern "C" int __stdcall VMSI_WriteFavorites(HWND owner, const char* baseFolder,
                                             const char* fileFolder, const char* favourite) {
    return vmsi::writeFavourites(owner, vmsi::textFromArgument(baseFolder),
                                 vmsi::textFromArgument(fileFolder),
                                 vmsi::textFromArgument(favourite));
}
