#include "tree_snapshot.h"

#include "scratch.h"

#include <windows.h>

namespace vmsi::test {

namespace {

void addTree(const Text& root, const Text& relative, TreeSnapshot& snapshot) {
    const Text path = relative.empty() ? root : root + "\\" + relative;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    Text& entry = snapshot[relative];
    entry = "attributes " + std::to_string(attributes);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        entry += ", contents " + readFile(path).value_or("<unreadable>");
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
