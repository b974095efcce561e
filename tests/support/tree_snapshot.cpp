#include "tree_snapshot.h"

#include "scratch.h"

#include <windows.h>

namespace vmsi::test {

namespace {

// Files up to this size are kept whole; larger ones (programs and libraries
// copied in for a test, which no action writes) by their size and the time
// they were last written, which takes no reading.
constexpr unsigned long long wholeContentsLimit = 64 * 1024;

Text contentsOf(const Text& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return "<unreadable>";
    }
    const unsigned long long size =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size > wholeContentsLimit) {
        return "<" + std::to_string(size) + " bytes, written " +
               std::to_string(data.ftLastWriteTime.dwHighDateTime) + ":" +
               std::to_string(data.ftLastWriteTime.dwLowDateTime) + ">";
    }
    return readFile(path).value_or("<unreadable>");
}

void addTree(const Text& root, const Text& relative, TreeSnapshot& snapshot) {
    const Text path = relative.empty() ? root : root + "\\" + relative;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    Text& entry = snapshot[relative];
    entry = "attributes " + std::to_string(attributes);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        entry += ", contents " + contentsOf(path);
        return;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const Text name = found.cFileName;
        if (name != "." && name != "..") {
            addTree(root, relative.empty() ? name : relative + "\\" + name, snapshot);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

TreeSnapshot snapshotOf(const Text& root) {
    TreeSnapshot snapshot;
    addTree(root, "", snapshot);
    return snapshot;
}

TreeSnapshot listingOf(const Text& folder) {
    TreeSnapshot listing;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        listing[""] = "unreadable";
        return listing;
    }
    do {
        const Text name = found.cFileName;
        if (name != "." && name != "..") {
            listing[name] = "attributes " + std::to_string(found.dwFileAttributes) + ", size " +
                            std::to_string(found.nFileSizeLow) + ", written " +
                            std::to_string(found.ftLastWriteTime.dwLowDateTime);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return listing;
}

TreeSnapshot without(TreeSnapshot snapshot, const Text& relativePath) {
    for (auto entry = snapshot.begin(); entry != snapshot.end();) {
        const Text& path = entry->first;
        const bool below = path == relativePath ||
                           path.compare(0, relativePath.size() + 1, relativePath + "\\") == 0;
        entry = below ? snapshot.erase(entry) : std::next(entry);
    }
    return snapshot;
}

} // namespace vmsi::test
