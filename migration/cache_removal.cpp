#include "cache_removal.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
#include "entry_deletion.h"
#include "handles.h"
#include "paths.h"

#include <string>
#include <string_view>
#include <vector>

namespace vmsi {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Two separators at the start: a network path.
bool isNetworkPath(const Text& path) {
    return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

// The 8-bit form of a name, as the platform's 8-bit functions give it: a
// character the code page lacks becomes its nearest look-alike or "?".
Text narrowed(std::wstring_view name) {
    const int wideLength = static_cast<int>(name.size());
    Text narrow(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, name.data(), wideLength,
                                                             nullptr, 0, nullptr, nullptr)),
                '\0');
    narrow.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_ACP, 0, name.data(), wideLength, narrow.data(),
                            static_cast<int>(narrow.size()), nullptr, nullptr)));
    return narrow;
}

// The folder's search pattern: its path followed by "\*.*".
Text searchPatternIn(const Text& cacheFolder) {
    return normalisePath(cacheFolder + "\\*.*");
}

// The absolute form of the cache folder path, without a trailing backslash,
// taken from its search pattern: a cache folder name given with a trailing
// backslash still yields entry paths with one backslash before the name.
Text absoluteEntryFolder(const Text& cacheFolder) {
    const Text searchPattern = searchPatternIn(cacheFolder);
    Text full = searchPattern;
    const DWORD size = GetFullPathNameA(searchPattern.c_str(), 0, nullptr, nullptr);
    if (size != 0) {
        std::vector<char> buffer(size);
        const DWORD length = GetFullPathNameA(searchPattern.c_str(), size, buffer.data(), nullptr);
        if (length != 0 && length < size) {
            full.assign(buffer.data(), length);
        }
    }
    return full.substr(0, full.find_last_of('\\'));
}

void removeEntry(HWND owner, const Text& folder, HeldFolder& cacheFolder,
                 const FILE_ID_BOTH_DIR_INFO& entry, DeletionObserver* observer) {
    const std::wstring_view wideName(entry.FileName, entry.FileNameLength / sizeof(WCHAR));
    // The folder above the cache folder is not the action's to touch.
    if (wideName == L"..") {
        return;
    }
    const Text name = narrowed(wideName);
    const Text path = folder + "\\" + name;
    if (wideName == L".") {
        // The cache folder itself loses its read-only, hidden and system
        // attributes, through the handle that holds it; it cannot be deleted as a
        // file.
        if (cacheFolder.writeAttributes) {
            resetAttributesThrough(cacheFolder.handle.get());
        }
        // Kept on purpose: "." is reported as a file that could not be deleted.
        reportWarning(owner, "Unable to delete file: " + path);
        return;
    }
    // A name whose 8-bit form holds a separator, a drive colon, a wildcard or
    // a quote (two dots and U+FF0F read "../"), or is made only of dots and
    // spaces (the folder above), names something other than the entry: such
    // an entry is never acted on. Other entries are opened relative to the
    // held folder, under their own name, so that what is deleted lies in it.
    // Subfolders, links to folders and files in use stay; subfolders lose
    // their attributes; links are never followed.
    if (!isPlainEntryName(name) ||
        deleteEntryIn(cacheFolder, entry.FileName, entry.FileNameLength, path,
                      FolderAttributes::Reset, observer) != ERROR_SUCCESS) {
        reportWarning(owner, "Unable to delete file: " + path);
    }
}

} // namespace

bool namesAFolderBelow(const Text& cacheFolderName) {
    const char first = cacheFolderName.empty() ? '\0' : cacheFolderName[0];
    if (cacheFolderName.size() >= 2 && cacheFolderName[1] == ':' &&
        ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))) {
        return false;
    }
    bool namesAFolder = false;
    for (const Text& component : pathComponentsOf(cacheFolderName)) {
        if (climbs(component)) {
            return false;
        }
        namesAFolder = namesAFolder || (!component.empty() && component != ".");
    }
    return namesAFolder;
}

int removeCacheFolder(HWND owner, const Text& parentFolder, const Text& cacheFolderName,
                      DeletionObserver* observer) {
    if (parentFolder.empty() || cacheFolderName.empty()) {
        reportWarning(owner, "Empty Values Passed, Exiting");
        return 0;
    }
    const Text cacheFolder = joinPath(parentFolder, cacheFolderName);
    reportInformation(owner, "QLMK Cache Folder = " + cacheFolder);
    // The path normaliser makes a network path of a parent such as "\" (a
    // single leading backslash is doubled): a cache folder on another
    // machine does not lie below that parent.
    if (!namesAFolderBelow(cacheFolderName) ||
        (isNetworkPath(cacheFolder) && !isNetworkPath(parentFolder))) {
        reportWarning(owner, "Cache folder must lie below its parent, Exiting");
        return 0;
    }
    // Further attributes (read-only, hidden, archive) do not matter.
    const DWORD attributes = pathAttributes(cacheFolder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reportWarning(owner, "Directory Doesn't exist: " + cacheFolder);
        return 0;
    }
    // Held from here on (entry_deletion.h), so that it cannot be renamed or
    // replaced by a link while its entries are deleted; what it is, and
    // where, is read once it is held.
    HeldFolder held = holdFolder(cacheFolder);
    if (!held.handle) {
        reportWarning(owner, "Cache folder is in use, Exiting");
        return 0;
    }
    const FolderPlace place =
        heldEntryKind(held.handle.get(), cacheFolder) == EntryKind::Folder
            ? placeOfHeldFolder(held.handle.get(), parentFolder, cacheFolderName)
            : FolderPlace::Elsewhere;
    if (place == FolderPlace::Elsewhere) {
        reportWarning(owner, "Cache folder is a link, Exiting");
        return 0;
    }
    if (place == FolderPlace::Unverifiable) {
        reportWarning(owner, "Cache folder location cannot be verified, Exiting");
        return 0;
    }
    if (observer != nullptr) {
        observer->folderHeld(cacheFolder);
    }

    // One level only: subfolders are tried like files and stay. The entries
    // are listed through the held folder, which is what its path named when
    // it was checked, whatever the path names by now.
    const Text entryFolder = absoluteEntryFolder(cacheFolder);
    FolderListing listing(held.handle.get());
    while (const FILE_ID_BOTH_DIR_INFO* entry = listing.next()) {
        removeEntry(owner, entryFolder, held, *entry, observer);
    }
    // A listing the platform cut short or refused is no end of the entries:
    // what it did not list may still be there.
    if (listing.error() != ERROR_SUCCESS) {
        reportWarning(owner, "Unable to delete file: " + searchPatternIn(cacheFolder));
    }
    // Removed through the same hold, never by path; tried whatever was left
    // behind. The folder goes when the hold ends.
    if (!held.removable || deleteThrough(held.handle.get(), held.posixDeletion) != ERROR_SUCCESS) {
        // Kept on purpose: the text runs into the path without a space.
        reportWarning(owner, "Unable to remove directory" + cacheFolder);
    }
    return 0;
}

} // namespace vmsi

// VMSI_RemoveQLMKCache: empties and deletes the cache folder; always 0.
extern "C" int __stdcall VMSI_RemoveQLMKCache(HWND owner, const char* parentFolder,
                                              const char* cacheFolderName) {
    return vmsi::removeCacheFolder(owner, vmsi::textFromArgument(parentFolder),
                                   vmsi::textFromArgument(cacheFolderName));
}
