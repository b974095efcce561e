// Deleting one entry of a folder without ever acting on what a link points
// at, and without a window in which a rival could swap the entry for a link.
//
// The entry is opened once, without following a final link
// (FILE_FLAG_OPEN_REPARSE_POINT, with FILE_FLAG_BACKUP_SEMANTICS so that
// folders open too) and without delete sharing, so that nobody can rename or
// replace it while it is held. What it is is read through that handle; its
// attributes are reset and it is deleted through the same handle
// (FileBasicInfo, FileDispositionInfo). A link swapped in before the open is
// held as the link; none can be swapped in afterwards.
#pragma once

#include "handles.h"
#include "text.h"

#include <windows.h>

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
    // The cache folder is held and found to be no link; its search is next.
    virtual void folderHeld(const Text&) {}
    // The entry has been found but not yet opened.
    virtual void entryFound(const Text&) {}
    // The entry is held; its attributes and deletion are next.
    virtual void entryHeld(const Text&) {}
};

// A folder held open without delete sharing: it cannot be renamed, deleted
// or replaced by a link while the object lives. Invalid when the folder
// could not be opened. writeAttributes says whether its attributes may be
// reset through it.
struct HeldFolder {
    FileHandle handle;
    bool writeAttributes = false;
};
HeldFolder holdFolder(const Text& path);

// The kind of a held entry or folder, read through its handle and its path.
EntryKind heldEntryKind(HANDLE held, const Text& path);

// Resets the attributes of what the handle holds to FILE_ATTRIBUTE_NORMAL.
// The outcome is not examined.
void resetAttributesThrough(HANDLE held);

enum class FolderMarks {
    Reset, // a folder entry has its attributes reset before it is kept
    Keep,  // a folder entry is left exactly as it is
};

// Deletes the entry at path as DeleteFileA would, after resetting its
// attributes to normal (so read-only, hidden and system files go like any
// other), but never through a link: a link to a file is deleted as the link,
// a link to a folder and a folder are kept (and a folder's marks reset when
// asked). An entry that someone holds without delete sharing stays but
// still loses its marks. Returns ERROR_SUCCESS, or the error the deletion
// met: the platform's own (ERROR_SHARING_VIOLATION for an entry in use), or
// ERROR_ACCESS_DENIED for a folder or a link to one, as DeleteFileA gives.
DWORD deleteEntry(const Text& path, FolderMarks folderMarks, DeletionObserver* observer = nullptr);

} // namespace vmsi
