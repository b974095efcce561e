// Deleting one entry of a folder without ever acting on what a link points
// at, without a window in which a rival could swap the entry for a link, and
// without reaching outside the folder.
//
// Held, here and wherever the word is used: open without delete sharing,
// so that nobody can rename, delete or replace the entry while the handle
// lives. An entry is held once, without following a final link
// (FILE_FLAG_OPEN_REPARSE_POINT). Most entries are plain files,
// and for them that one open asks the platform to delete the entry when it
// is closed and to refuse folders, as DeleteFileA does. Anything else
// (read-only, a folder, in use) is opened again to be examined: what it is
// is read through the handle, and its attributes are reset and it is deleted
// through the same handle (FileBasicInfo, FileDispositionInfo). A link
// swapped in before the open is held as the link; none can be swapped in
// afterwards. The entries of a held folder are listed through its handle and
// opened relative to it, so that what is deleted lies in that folder
// whatever its path names by then.
#pragma once

#include "handles.h"
#include "text.h"

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

namespace vmsi {

enum class EntryKind {
    File,         // an ordinary file: attributes reset, then deleted
    Folder,       // an ordinary folder: never deleted here, like DeleteFileA
    LinkToFile,   // a link to a file, held as the link: deleted as the link
    LinkToFolder, // a junction or link to a folder, held as the link: kept
    // The path names a link, but the platform opened its target instead
    // (Wine 8 ignores FILE_FLAG_OPEN_REPARSE_POINT): nothing at all is done
    // through such a handle.
    FollowedLink,
};

// What a held entry is, from the attributes and reparse tag read through
// its handle and the attributes of its path read while it is held. Only
// name surrogates (symbolic links, junctions) are links; other reparse
// points, such as deduplicated or cloud files, are the data itself.
EntryKind entryKindOf(DWORD heldAttributes, DWORD heldReparseTag, DWORD pathAttributes);

// The moments at which a rival could change what a path names. The actions
// pass none; tests use them to make a rival act at exactly that moment.
class DeletionObserver {
public:
    virtual ~DeletionObserver() = default;
    // The cache folder is held and found to be no link; its listing is next.
    virtual void folderHeld(const Text&) {}
    // The entry has been found but not yet opened.
    virtual void entryFound(const Text&) {}
    // The entry is held; its attributes and deletion are next.
    virtual void entryHeld(const Text&) {}
};

// Three platform calls whose answers on Windows Wine 8 cannot give: a
// FAT or exFAT volume refuses the tag query, a folder reached through a link
// in the object namespace has a final path elsewhere, and a file whose
// access list refuses deletion cannot be opened for it (Wine keeps no access
// lists on files). The library leaves these null and makes the platform's own
// call; a test sets one to a stand-in for Windows that replays its answer.
struct WindowsStandIns {
    decltype(&CreateFileA) createFile = nullptr;
    decltype(&GetFileInformationByHandleEx) fileInformation = nullptr;
    decltype(&GetFinalPathNameByHandleW) finalPath = nullptr;
};
extern WindowsStandIns windowsStandIns;

// A held folder, for the life of the object. Invalid when the folder
// could not be opened. writeAttributes says whether its attributes may be
// reset through it, removable whether it may be removed through it. Its
// entries are opened relative to its handle, which only ntdll's NtCreateFile
// does (null if ntdll has none).
struct HeldFolder {
    FileHandle handle;
    bool writeAttributes = false;
    bool removable = false;
    decltype(&NtCreateFile) openRelative = nullptr;
    decltype(&RtlNtStatusToDosError) errorOfStatus = nullptr;
};
HeldFolder holdFolder(const Text& path);

// The kind of a held entry or folder, read through its handle and its path.
EntryKind heldEntryKind(HANDLE held, const Text& path);

// Resets the attributes of what the handle holds to FILE_ATTRIBUTE_NORMAL.
// The outcome is not examined.
void resetAttributesThrough(HANDLE held);

// Deletes what the handle holds (an empty folder too); ERROR_SUCCESS or the
// platform's error.
DWORD deleteThrough(HANDLE held);

// The final path of what the handle holds ("\\?\C:\..."), every link on the
// way resolved, without a trailing backslash; empty when the platform gives
// none.
std::wstring finalPathOf(HANDLE held);

// The entries of a held folder, "." and ".." included, in the order the
// platform gives them, listed through the folder's handle.
class FolderListing {
public:
    explicit FolderListing(HANDLE folder) : folder_(folder) {}
    // The next entry, or null after the last one.
    const FILE_FULL_DIR_INFO* next();

private:
    HANDLE folder_;
    std::vector<LONGLONG> batch_ = std::vector<LONGLONG>(8192); // 64 KiB, aligned
    const FILE_FULL_DIR_INFO* entry_ = nullptr;
    bool started_ = false;
};

// Names that stay inside their folder. The 8-bit form of a name is what the
// platform is given, and Windows turns some Unicode characters into "\",
// "/", ":" or "\"" in it (U+FF0F becomes "/"), so a name is judged in that
// form, stepping over double-byte characters.
//
// The components of a relative path, split at "\" and "/".
std::vector<Text> pathComponentsOf(const Text& path);
// A component that names the folder above: ".." and, as Windows strips
// trailing dots and spaces, any other made only of dots and spaces ("."
// excepted).
bool climbs(const Text& component);
// Whether the text holds one of the bytes (outside double-byte characters).
bool holdsAnyOf(const Text& text, const char* bytes);
// A name for an entry directly in a folder: one component, not climbing,
// without separators, drive colons, wildcards, quotes or pipes.
bool isPlainEntryName(const Text& name);

enum class FolderAttributes {
    Reset, // a folder entry has its attributes reset before it is kept
    Keep,  // a folder entry is left exactly as it is
};

// Deletes the entry at path as DeleteFileA would, after resetting its
// attributes to normal (so read-only, hidden and system files go like any
// other), but never through a link: a link to a file is deleted as the link,
// a link to a folder and a folder are kept (and a folder's attributes reset
// when asked). An entry whose deletion is refused (in use, or by its access
// list) stays but still loses its attributes. Returns ERROR_SUCCESS, or the error the
// deletion met: the platform's own (ERROR_SHARING_VIOLATION for an entry in
// use), or ERROR_ACCESS_DENIED for a folder or a link to one, as DeleteFileA
// gives.
DWORD deleteEntry(const Text& path, FolderAttributes folderAttributes,
                  DeletionObserver* observer = nullptr);

// The same for the entry of that (UTF-16) name in a held folder, opened
// relative to the folder's handle; path is its path, for the observer and
// the check of what Wine opened.
DWORD deleteEntryIn(const HeldFolder& folder, const wchar_t* name, DWORD nameBytes,
                    const Text& path, FolderAttributes folderAttributes,
                    DeletionObserver* observer);

} // namespace vmsi
