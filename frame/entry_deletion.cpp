#include "entry_deletion.h"

#include "paths.h"

namespace vmsi {

namespace {

bool isNameSurrogate(DWORD reparseTag) {
    return (reparseTag & 0x20000000) != 0; // IsReparseTagNameSurrogate
}

// Held without delete sharing, so that the entry cannot be renamed or
// replaced while it is held. Only a handle that asks for data or deletion
// access takes part in sharing; one that asks for attributes alone pins
// nothing. Without the right to write attributes the entry is still held,
// and only its attributes stay as they are.
FileHandle holdEntry(const Text& path, DWORD access, bool& writeAttributes) {
    writeAttributes = false;
    if (!fitsPlatform(path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FileHandle();
    }
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    FileHandle held(CreateFileA(path.c_str(), access | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                share, nullptr, OPEN_EXISTING, flags, nullptr));
    writeAttributes = held.valid();
    if (!held && GetLastError() == ERROR_ACCESS_DENIED) {
        held.reset(CreateFileA(path.c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr,
                               OPEN_EXISTING, flags, nullptr));
    }
    return held;
}

DWORD deleteThrough(HANDLE held) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(held, FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

} // namespace

EntryKind entryKindOf(DWORD heldAttributes, DWORD heldReparseTag, DWORD pathAttributes) {
    const bool folder = (heldAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (heldAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The handle is the reparse point itself.
        if (isNameSurrogate(heldReparseTag)) {
            return folder ? EntryKind::LinkToFolder : EntryKind::LinkToFile;
        }
        return folder ? EntryKind::Folder : EntryKind::File;
    }
    // The handle shows no link, yet the path reads as one (or not at all):
    // the platform opened what the link points at.
    if (pathAttributes == INVALID_FILE_ATTRIBUTES ||
        (pathAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return EntryKind::FollowedLink;
    }
    return folder ? EntryKind::Folder : EntryKind::File;
}

HeldFolder holdFolder(const Text& path) {
    HeldFolder folder;
    folder.handle = holdEntry(path, FILE_LIST_DIRECTORY, folder.writeAttributes);
    return folder;
}

EntryKind heldEntryKind(HANDLE held, const Text& path) {
    FILE_ATTRIBUTE_TAG_INFO attributes = {};
    if (!GetFileInformationByHandleEx(held, FileAttributeTagInfo, &attributes, sizeof attributes)) {
        return EntryKind::FollowedLink; // unknown: nothing is done through it
    }
    // Read while the entry is held, so the path still names what is held,
    // unless the platform followed a link to open it.
    return entryKindOf(attributes.FileAttributes, attributes.ReparseTag, pathAttributes(path));
}

void resetAttributesThrough(HANDLE held) {
    FILE_BASIC_INFO basic = {}; // zero times: left as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(held, FileBasicInfo, &basic, sizeof basic);
}

DWORD deleteEntry(const Text& path, FolderMarks folderMarks, DeletionObserver* observer) {
    if (observer != nullptr) {
        observer->entryFound(path);
    }
    bool writeAttributes = false;
    FileHandle held = holdEntry(path, DELETE, writeAttributes);
    // Deletion is what fails for an entry that someone holds without
    // sharing it; its marks are reset all the same, as they would be before
    // DeleteFileA, through a handle that asks for attributes alone (and so
    // holds nothing against a rival: only an ordinary file or folder, as the
    // handle and the path both show it, has its marks reset).
    const DWORD deletionRefused = held ? ERROR_SUCCESS : GetLastError();
    if (deletionRefused == ERROR_SHARING_VIOLATION) {
        held = holdEntry(path, 0, writeAttributes);
    }
    if (!held) {
        return deletionRefused;
    }
    if (observer != nullptr) {
        observer->entryHeld(path);
    }
    switch (heldEntryKind(held.get(), path)) {
    case EntryKind::File:
        if (writeAttributes) {
            resetAttributesThrough(held.get());
        }
        return deletionRefused != ERROR_SUCCESS ? deletionRefused : deleteThrough(held.get());
    case EntryKind::LinkToFile:
        // Deleted as the link; resetting its attributes would reset its
        // target's.
        return deletionRefused != ERROR_SUCCESS ? deletionRefused : deleteThrough(held.get());
    case EntryKind::Folder:
        if (folderMarks == FolderMarks::Reset && writeAttributes) {
            resetAttributesThrough(held.get());
        }
        return ERROR_ACCESS_DENIED;
    case EntryKind::LinkToFolder:
    case EntryKind::FollowedLink:
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_ACCESS_DENIED;
}

} // namespace vmsi
