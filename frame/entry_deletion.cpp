#include "entry_deletion.h"

#include "paths.h"

#include <string_view>

namespace vmsi {

WindowsStandIns windowsStandIns;

namespace {

// The SDK's headers declare FileDispositionInfoEx only for newer targets;
// its value is fixed (Windows 10 1607 and later answer it).
constexpr auto fileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

HANDLE createFile(const Text& path, DWORD access, DWORD share, DWORD flags) {
    const auto call =
        windowsStandIns.createFile != nullptr ? windowsStandIns.createFile : CreateFileA;
    return call(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

BOOL fileInformation(HANDLE held, FILE_INFO_BY_HANDLE_CLASS kind, void* into, DWORD size) {
    const auto call = windowsStandIns.fileInformation != nullptr ? windowsStandIns.fileInformation
                                                                 : GetFileInformationByHandleEx;
    return call(held, kind, into, size);
}

// An entry is opened for one of two things.
enum class Opening {
    // It is deleted when the handle is closed. The platform refuses this for
    // a folder (a link to one included), a read-only file and a file in use.
    ToDeleteWhenClosed,
    // It is held, folders included, to be examined.
    ToExamine,
};

// Where an entry is opened from: its full path, or its name in a held
// folder, relative to the folder's handle.
struct EntryPlace {
    const Text& path;
    const HeldFolder* folder = nullptr;
    UNICODE_STRING name = {};
};

// Never follows a final link, and never shares deletion, so that the entry
// cannot be renamed or replaced while it is held.
FileHandle openEntry(const EntryPlace& place, Opening opening, DWORD access) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const bool deleteWhenClosed = opening == Opening::ToDeleteWhenClosed;
    if (place.folder == nullptr) {
        if (!fitsPlatform(place.path)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return FileHandle();
        }
        // Without FILE_FLAG_BACKUP_SEMANTICS CreateFileA opens no folder.
        const DWORD flags =
            FILE_FLAG_OPEN_REPARSE_POINT |
            (deleteWhenClosed ? FILE_FLAG_DELETE_ON_CLOSE : FILE_FLAG_BACKUP_SEMANTICS);
        return FileHandle(createFile(place.path, access, share, flags));
    }
    const HeldFolder& folder = *place.folder;
    if (folder.openRelative == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FileHandle();
    }
    UNICODE_STRING name = place.name;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, folder.handle.get(),
                               nullptr);
    IO_STATUS_BLOCK outcome = {};
    HANDLE opened = nullptr;
    const ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
                          (deleteWhenClosed ? FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE : 0);
    const NTSTATUS status =
        folder.openRelative(&opened, access | SYNCHRONIZE, &attributes, &outcome, nullptr, 0, share,
                            FILE_OPEN, options, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        SetLastError(folder.errorOfStatus(status));
        return FileHandle();
    }
    return FileHandle(opened);
}

// Only a handle that asks for data or deletion access takes part in
// sharing; one that asks for attributes alone pins nothing. Without the
// right to write attributes the entry is still held, and only its
// attributes stay as they are.
FileHandle holdEntry(const EntryPlace& place, DWORD access, bool& writeAttributes) {
    FileHandle held =
        openEntry(place, Opening::ToExamine, access | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    writeAttributes = held.valid();
    if (!held && GetLastError() == ERROR_ACCESS_DENIED) {
        held = openEntry(place, Opening::ToExamine, access | FILE_READ_ATTRIBUTES);
    }
    return held;
}

DWORD deleteAt(const EntryPlace& place, FolderAttributes folderAttributes,
               DeletionObserver* observer) {
    if (observer != nullptr) {
        observer->entryFound(place.path);
    }
    // Most entries are plain files, and for them this one open deletes the
    // entry when it is closed: the two round trips that DeleteFileA makes.
    // A link to a file is held, and so deleted, as the link.
    if (FileHandle doomed = openEntry(place, Opening::ToDeleteWhenClosed, DELETE)) {
        if (observer != nullptr) {
            observer->entryHeld(place.path);
        }
        return ERROR_SUCCESS;
    }
    bool writeAttributes = false;
    FileHandle held = holdEntry(place, DELETE, writeAttributes);
    // Deletion is what is refused for an entry that someone holds without
    // sharing it, or whose access list forbids it; its attributes are reset all
    // the same, as they would be before DeleteFileA, through a handle that
    // asks for attributes alone (and so holds nothing against a rival: only
    // an ordinary file or folder, as the handle and the path both show it,
    // has its attributes reset).
    const DWORD deletionRefused = held ? ERROR_SUCCESS : GetLastError();
    if (!held) {
        held = holdEntry(place, 0, writeAttributes);
    }
    if (!held) {
        return deletionRefused;
    }
    if (observer != nullptr) {
        observer->entryHeld(place.path);
    }
    switch (heldEntryKind(held.get(), place.path)) {
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
        if (folderAttributes == FolderAttributes::Reset && writeAttributes) {
            resetAttributesThrough(held.get());
        }
        return ERROR_ACCESS_DENIED;
    case EntryKind::LinkToFolder:
    case EntryKind::FollowedLink:
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_ACCESS_DENIED;
}

} // namespace

EntryKind entryKindOf(DWORD heldAttributes, DWORD heldReparseTag, DWORD pathAttributes) {
    const bool folder = (heldAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (heldAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The handle is the reparse point itself.
        if (IsReparseTagNameSurrogate(heldReparseTag)) {
            return folder ? EntryKind::LinkToFolder : EntryKind::LinkToFile;
        }
        return folder ? EntryKind::Folder : EntryKind::File;
    }
    // The handle shows no reparse point, yet the path reads as one (or not
    // at all): the handle is not the entry, and the platform opened what a
    // link points at. This is no test of what a link is (Wine shows a link
    // with the tag 0); on Windows a handle opened on any reparse point shows
    // it, so this never holds there.
    if (pathAttributes == INVALID_FILE_ATTRIBUTES ||
        (pathAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return EntryKind::FollowedLink;
    }
    return folder ? EntryKind::Folder : EntryKind::File;
}

HeldFolder holdFolder(const Text& path) {
    HeldFolder folder;
    const EntryPlace place{path};
    // With the right to delete it, so that it is removed through this handle
    // and never by its path, which by then may name another folder. A
    // program that has it open without delete sharing (its current folder)
    // refuses that right; it is then held without it, its files still go and
    // its removal fails.
    folder.handle = holdEntry(place, FILE_LIST_DIRECTORY | DELETE, folder.writeAttributes);
    const DWORD removalRefused = folder.handle ? ERROR_SUCCESS : GetLastError();
    folder.removable = folder.handle.valid();
    if (removalRefused == ERROR_SHARING_VIOLATION || removalRefused == ERROR_ACCESS_DENIED) {
        folder.handle = holdEntry(place, FILE_LIST_DIRECTORY, folder.writeAttributes);
    }
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll != nullptr) {
        folder.openRelative = exportOf<decltype(&NtCreateFile)>(ntdll, "NtCreateFile");
        folder.errorOfStatus =
            exportOf<decltype(&RtlNtStatusToDosError)>(ntdll, "RtlNtStatusToDosError");
    }
    if (folder.errorOfStatus == nullptr) {
        folder.openRelative = nullptr;
    }
    return folder;
}

EntryKind heldEntryKind(HANDLE held, const Text& path) {
    FILE_ATTRIBUTE_TAG_INFO attributes = {};
    if (!fileInformation(held, FileAttributeTagInfo, &attributes, sizeof attributes)) {
        // FAT and exFAT volumes refuse this query. They have no reparse
        // points, so the basic attributes say all there is.
        FILE_BASIC_INFO basic = {};
        if (GetLastError() != ERROR_INVALID_PARAMETER ||
            !fileInformation(held, FileBasicInfo, &basic, sizeof basic)) {
            return EntryKind::FollowedLink; // unknown: nothing is done through it
        }
        attributes.FileAttributes = basic.FileAttributes;
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

DWORD deleteThrough(HANDLE held) {
    // Where the platform has it (Windows 10 1809 and later, on NTFS), this
    // deletes a read-only entry too, and the name leaves its folder at once
    // even while another program holds the entry with delete sharing, so
    // that the folder can go as well. Elsewhere it is refused (Wine 8 among
    // them), and the classic disposition does the rest.
    FILE_DISPOSITION_INFO_EX posixDeletion = {FILE_DISPOSITION_FLAG_DELETE |
                                              FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                              FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
    if (SetFileInformationByHandle(held, fileDispositionInfoEx, &posixDeletion,
                                   sizeof posixDeletion)) {
        return ERROR_SUCCESS;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(held, FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

std::wstring finalPathOf(HANDLE held) {
    const auto call = windowsStandIns.finalPath != nullptr ? windowsStandIns.finalPath
                                                           : GetFinalPathNameByHandleW;
    const DWORD form = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = call(held, path.data(), static_cast<DWORD>(path.size()), form);
    if (length >= path.size()) {
        // Too small: the answer is the size needed, terminating zero included.
        path.resize(length);
        length = call(held, path.data(), static_cast<DWORD>(path.size()), form);
    }
    if (length == 0 || length >= path.size()) {
        return std::wstring();
    }
    path.resize(length);
    // Only a volume's root ends in a backslash.
    if (path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

const FILE_FULL_DIR_INFO* FolderListing::next() {
    if (entry_ != nullptr && entry_->NextEntryOffset != 0) {
        entry_ = reinterpret_cast<const FILE_FULL_DIR_INFO*>(reinterpret_cast<const char*>(entry_) +
                                                             entry_->NextEntryOffset);
        return entry_;
    }
    // Each call fills the batch with as many entries as fit, the first from
    // the beginning; the call after the last entry fails.
    const FILE_INFO_BY_HANDLE_CLASS kind =
        started_ ? FileFullDirectoryInfo : FileFullDirectoryRestartInfo;
    started_ = true;
    const bool filled = fileInformation(folder_, kind, batch_.data(),
                                        static_cast<DWORD>(batch_.size() * sizeof(LONGLONG)));
    entry_ = filled ? reinterpret_cast<const FILE_FULL_DIR_INFO*>(batch_.data()) : nullptr;
    return entry_;
}

std::vector<Text> pathComponentsOf(const Text& path) {
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

bool climbs(const Text& component) {
    return !component.empty() && component != "." &&
           component.find_first_not_of(". ") == Text::npos;
}

bool holdsAnyOf(const Text& text, const char* bytes) {
    const std::string_view wanted(bytes);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isAnsiLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
            ++i;
        } else if (wanted.find(text[i]) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

bool isPlainEntryName(const Text& name) {
    return name.find_first_not_of(". ") != Text::npos && !holdsAnyOf(name, "\\/:*?\"<>|");
}

DWORD deleteEntry(const Text& path, FolderAttributes folderAttributes, DeletionObserver* observer) {
    return deleteAt(EntryPlace{path}, folderAttributes, observer);
}

DWORD deleteEntryIn(const HeldFolder& folder, const wchar_t* name, DWORD nameBytes,
                    const Text& path, FolderAttributes folderAttributes,
                    DeletionObserver* observer) {
    if (nameBytes == 0 || nameBytes > 0xFFFE) {
        return ERROR_INVALID_NAME; // no entry of the folder has such a name
    }
    const USHORT bytes = static_cast<USHORT>(nameBytes);
    const EntryPlace place{path, &folder, UNICODE_STRING{bytes, bytes, const_cast<PWSTR>(name)}};
    return deleteAt(place, folderAttributes, observer);
}

} // namespace vmsi
