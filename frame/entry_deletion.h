// Deleting one entry of a folder without ever acting on what a link points
// at, without a window in which a rival could swap the entry for a link, and
// without reaching outside the folder.
//
// Held, here and wherever the word is used: open without delete sharing,
// so that nobody can rename, delete or replace the entry while the handle
// lives. An entry is held once, without following a final link
// (FILE_FLAG_OPEN_REPARSE_POINT). Most entries are plain files,
// and for them that one open asks the platform to delete the entry when it
// is closed and to refuse folders, as DeleteFileA does; where the platform
// has POSIX deletion, that open deletes through the handle instead, so that
// the name leaves the folder at once. Anything else (read-only, a folder, in
// use) is opened again to be examined: what it is is read through the
// handle, and its attributes are reset (never those of a file with more
// than one name) and it is deleted through the same handle (FileBasicInfo,
// FileDispositionInfoEx or FileDispositionInfo). A link
// swapped in before the open is held as the link; none can be swapped in
// afterwards. The entries of a held folder are listed through its handle and
// opened relative to it, so that what is deleted lies in that folder
// whatever its path names by then. The favourites file is written the same
// way: into a held folder that lies where its path says, relative to it.
#pragma once

#include "handles.h"
#include "text.h"

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

namespace vmsi {

enum class EntryKind {
    File, // an ordinary file: attributes reset, then deleted
    // An ordinary file with more than one name (hard links), or whose count
    // of names is unknown: its attributes are every name's, so they are
    // never changed here; only this one name is deleted, where the platform
    // deletes it as it is.
    LinkedFile,
    Folder,       // an ordinary folder: never deleted here, like DeleteFileA
    LinkToFile,   // a link to a file, held as the link: deleted as the link
    LinkToFolder, // a junction or link to a folder, held as the link: kept
    // The path names a link, but the platform opened its target instead
    // (Wine 8 ignores FILE_FLAG_OPEN_REPARSE_POINT): nothing at all is done
    // through such a handle.
    FollowedLink,
};

// What a held entry is, from the attributes and reparse tag read through
// its handle and the attributes of its path read while it is held, and the
// count of the file's names (FILE_STANDARD_INFO.NumberOfLinks; 0 when
// unknown). Only name surrogates (symbolic links, junctions) are links;
// other reparse points, such as deduplicated or cloud files, are the data
// itself.
EntryKind entryKindOf(DWORD heldAttributes, DWORD heldReparseTag, DWORD pathAttributes,
                      DWORD names = 1);

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

// Platform calls whose answers on Windows Wine 8 cannot give: a FAT or
// exFAT volume refuses the tag query, and Windows 7 the listing classes
// that came with Windows 8; a folder reached through a link in the object
// namespace has a final path elsewhere, and one on a server may have none;
// a file whose access list refuses deletion cannot be opened for it (Wine
// keeps no access lists on files); Windows 10 deletes with POSIX semantics
// (FileDispositionInfoEx), which Wine 8 refuses; and an entry already
// pending deletion cannot be opened (Wine 8 opens it as any other). The
// library leaves these null and makes the platform's own call; a test sets
// one to a stand-in for Windows that replays its answer.
struct WindowsStandIns {
    decltype(&CreateFileA) createFile = nullptr;
    decltype(&GetFileInformationByHandleEx) fileInformation = nullptr;
    decltype(&GetFinalPathNameByHandleW) finalPath = nullptr;
    decltype(&SetFileInformationByHandle) setFileInformation = nullptr;
    decltype(&NtCreateFile) openRelative = nullptr;
};
extern WindowsStandIns windowsStandIns;

// A held folder, for the life of the object. Invalid when the folder
// could not be opened. writeAttributes says whether its attributes may be
// reset through it, removable whether it may be removed through it. Its
// entries are opened relative to its handle, which only ntdll's NtCreateFile
// does (null if ntdll has none). posixDeletion stays true until the
// platform answers that it does not understand POSIX deletion; its entries
// are then deleted the classic way without asking again.
struct HeldFolder {
    FileHandle handle;
    bool writeAttributes = false;
    bool removable = false;
    bool posixDeletion = true;
    decltype(&NtCreateFile) openRelative = nullptr;
    decltype(&RtlNtStatusToDosError) errorOfStatus = nullptr;
};
HeldFolder holdFolder(const Text& path);

// Where a held folder lies, against where its path relative to a parent
// folder says it lies.
enum class FolderPlace {
    AsNamed,      // its final path is the parent's followed by the path
    Elsewhere,    // a link on the way leads elsewhere, or no parent is there
    Unverifiable, // the platform gives a final path for neither form
};

// The held folder must have as its final path the parent's final path
// followed by the relative path's components as the platform opened them
// (dots and spaces that end the path dropped, short 8.3 names in their long
// form). A link between the two (a junction, a symbolic link, a link through
// the object namespace) resolves elsewhere and shows here, and so does a
// parent that names no folder, or a path that climbs out of it; links above
// the parent resolve alike for both and are allowed. Case is ignored, as the
// file system ignores it. Where either normalised final path is unavailable
// (a server that will not give it), the opened names are compared instead.
FolderPlace placeOfHeldFolder(HANDLE held, const Text& parentFolder, const Text& relativePath);

// Opens the ordinary file of that name in a held folder, relative to its
// handle, or creates it with normal attributes: not shared, never a folder,
// never through a final link, for identification only should it be a pipe.
// The platform's error otherwise.
FileHandle openOrCreateFileIn(const HeldFolder& folder, const Text& name, DWORD access);

// The kind of a held entry or folder, read through its handle and its path.
EntryKind heldEntryKind(HANDLE held, const Text& path);

// Resets the attributes of what the handle holds to FILE_ATTRIBUTE_NORMAL.
// The outcome is not examined.
void resetAttributesThrough(HANDLE held);

// Deletes what the handle holds (an empty folder too), with POSIX
// semantics while posixDeletion says the platform may have them, else the
// classic way; ERROR_SUCCESS or the platform's error.
DWORD deleteThrough(HANDLE held, bool& posixDeletion);

// The final path of what the handle holds ("\\?\C:\..."), without a
// trailing backslash; empty when the platform gives none. Normalised, every
// link on the way resolved; or with FILE_NAME_OPENED the name as opened,
// after the links on the way.
std::wstring finalPathOf(HANDLE held, DWORD form = FILE_NAME_NORMALIZED);

// The entries of a held folder, "." and ".." included, in the order the
// platform gives them, listed through the folder's handle.
class FolderListing {
public:
    explicit FolderListing(HANDLE folder) : folder_(folder) {}
    // The next entry, or null after the last one or once the listing failed.
    const FILE_ID_BOTH_DIR_INFO* next();
    // Once next() gave null: ERROR_SUCCESS when the listing came to its end,
    // else the platform's error, for a listing cut short or never begun.
    DWORD error() const { return error_; }

private:
    HANDLE folder_;
    std::vector<LONGLONG> batch_ = std::vector<LONGLONG>(8192); // 64 KiB, aligned
    const FILE_ID_BOTH_DIR_INFO* entry_ = nullptr;
    bool started_ = false;
    bool over_ = false;
    DWORD error_ = ERROR_SUCCESS;
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
// when asked). A file with more than one name keeps its attributes and only
// this name goes, where the platform deletes it as it is. An entry whose
// deletion is refused (in use, or by its access list) stays but still loses
// its attributes (those of a single name). An entry already pending
// deletion is on its way out and counts as deleted. Returns ERROR_SUCCESS, or
// the error the deletion met: the platform's own (ERROR_SHARING_VIOLATION
// for an entry in use), or ERROR_ACCESS_DENIED for a folder or a link to
// one, as DeleteFileA gives.
DWORD deleteEntry(const Text& path, FolderAttributes folderAttributes,
                  DeletionObserver* observer = nullptr);

// The same for the entry of that (UTF-16) name in a held folder, opened
// relative to the folder's handle; path is its path, for the observer and
// the check of what Wine opened.
DWORD deleteEntryIn(HeldFolder& folder, const wchar_t* name, DWORD nameBytes, const Text& path,
                    FolderAttributes folderAttributes, DeletionObserver* observer);

} // namespace vmsi
