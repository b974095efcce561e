#include "cache_removal.h"

#include "VardoMSICustomActions.h"
#include "diagnostics.h"
#include "entry_deletion.h"
#include "handles.h"
#include "paths.h"

#include <vector>

namespace vmsi {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// The components of a relative path, stepping over double-byte characters
// whose second byte has the backslash's value.
std::vector<Text> componentsOf(const Text& path) {
    std::vector<Text> components(1);
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (isAnsiLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
            components.back() += path.substr(i++, 2);
        } else if (isSeparator(path[i])) {
            components.emplace_back();
        } else {
            components.back() += path[i];
        }
    }
    return components;
}

bool isLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether the cache folder, or a folder between it and its parent, is a
// junction or symbolic link: emptying it would empty whatever it points at.
// Each path is tested without a trailing separator: with one, the platform
// may answer for the link's target instead of the link.
bool isReachedThroughLink(const Text& parentFolder, const Text& cacheFolderName) {
    Text below;
    for (const Text& component : componentsOf(cacheFolderName)) {
        if (component.empty()) {
            continue;
        }
        below += below.empty() ? component : "\\" + component;
        if (isLink(pathAttributes(joinPath(parentFolder, below)))) {
            return true;
        }
    }
    return false;
}

// The absolute form of the folder a search pattern runs in, without a
// trailing backslash: a cache folder name given with a trailing backslash
// still yields entry paths with one backslash before the name.
Text absoluteSearchFolder(const Text& searchPattern) {
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

void removeEntry(HWND owner, const Text& folder, const HeldFolder& cacheFolder,
                 const WIN32_FIND_DATAA& entry, DeletionObserver* observer) {
    const Text name = entry.cFileName;
    // The folder above the cache folder is not the action's to touch.
    if (name == "..") {
        return;
    }
    const Text path = folder + "\\" + name;
    if (name == ".") {
        // The cache folder itself loses its read-only, hidden and system
        // marks, through the handle that holds it; it cannot be deleted as a
        // file.
        if (cacheFolder.writeAttributes) {
            resetAttributesThrough(cacheFolder.handle.get());
        }
        reportWarning(owner, "Unable to delete file: " + path);
        return;
    }
    // Fails for subfolders, links to folders and files in use, which stay.
    // Subfolders lose their marks; links are never followed.
    if (deleteEntry(path, FolderMarks::Reset, observer) != ERROR_SUCCESS) {
        reportWarning(owner, "Unable to delete file: " + path);
    }
}

} // namespace

bool namesAFolderBelow(const Text& cacheFolderName) {
    if (cacheFolderName.empty() || isSeparator(cacheFolderName[0])) {
        return false;
    }
    const char first = cacheFolderName[0];
    if (cacheFolderName.size() >= 2 && cacheFolderName[1] == ':' &&
        ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))) {
        return false;
    }
    bool namesAFolder = false;
    for (const Text& component : componentsOf(cacheFolderName)) {
        if (component.empty() || component == ".") {
            continue;
        }
        if (component.find_first_not_of(". ") == Text::npos) {
            return false;
        }
        namesAFolder = true;
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
    if (!namesAFolderBelow(cacheFolderName)) {
        reportWarning(owner, "Cache folder must lie below its parent, Exiting");
        return 0;
    }
    // Further marks (read-only, hidden, archive) do not matter.
    const DWORD attributes = pathAttributes(cacheFolder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reportWarning(owner, "Directory Doesn't exist: " + cacheFolder);
        return 0;
    }
    // Held from here on without delete sharing, so that it cannot be renamed
    // or replaced by a link while its entries are deleted; what it is, is
    // read once it is held.
    HeldFolder held = holdFolder(cacheFolder);
    if (!held.handle) {
        reportWarning(owner, "Cache folder is in use, Exiting");
        return 0;
    }
    if (heldEntryKind(held.handle.get(), cacheFolder) != EntryKind::Folder ||
        isReachedThroughLink(parentFolder, cacheFolderName)) {
        reportWarning(owner, "Cache folder is a link, Exiting");
        return 0;
    }
    if (observer != nullptr) {
        observer->folderHeld(cacheFolder);
    }

    // One level only: subfolders are tried like files and stay.
    const Text searchPattern = normalisePath(cacheFolder + "\\*.*");
    WIN32_FIND_DATAA entry;
    FindHandle search(FindFirstFileA(searchPattern.c_str(), &entry));
    if (search) {
        const Text entryFolder = absoluteSearchFolder(searchPattern);
        do {
            removeEntry(owner, entryFolder, held, entry, observer);
        } while (FindNextFileA(search.get(), &entry));
    }
    // The removal opens the folder for deletion, which the hold's sharing
    // would refuse, so the hold ends first. A link swapped in after that is
    // at worst removed as the link: RemoveDirectoryA never empties a folder.
    // Tried whatever was left behind; the search is closed only afterwards.
    held.handle.reset();
    if (!RemoveDirectoryA(cacheFolder.c_str())) {
        reportWarning(owner, "Unable to remove directory" + cacheFolder);
    }
    return 0;
}

} // namespace vmsi

// VMSI_RemoveQLMKCache: deletes the files directly in
// parentFolder\cacheFolderName and then the folder. Never follows a link and
// never reaches above the folder. Always 0.
extern "C" int __stdcall VMSI_RemoveQLMKCache(HWND owner, const char* parentFolder,
                                              const char* cacheFolderName) {
    return vmsi::removeCacheFolder(owner, vmsi::textFromArgument(parentFolder),
                                   vmsi::textFromArgument(cacheFolderName));
}
