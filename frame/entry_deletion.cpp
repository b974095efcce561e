#include "entry_deletion.h"

#include "paths.h"

#include <optional>
#include <string_view>

namespace vmsi {

WindowsStandIns windowsStandIns;

namespace {

// The SDK's headers declare FileDispositionInfoEx only for newer targets;
// its value is fixed (Windows 10 1607 and later answer it).
constexpr auto fileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

// ntstatus.h cannot be included beside windows.h.
constexpr NTSTATUS statusDeletePending = static_cast<NTSTATUS>(0xC0000056);

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

BOOL setFileInformation(HANDLE held, FILE_INFO_BY_HANDLE_CLASS kind, void* from, DWORD size) {
    const auto call = windowsStandIns.setFileInformation != nullptr
                          ? windowsStandIns.setFileInformation
                          : SetFileInformationByHandle;
    return call(held, kind, from, size);
}

// The answers of a platform that does not know the request at all.
bool notUnderstood(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION;
}

// A pipe's server may learn who opened it, but never act as the opener.
SECURITY_QUALITY_OF_SERVICE identificationOnly = {
    sizeof(SECURITY_QUALITY_OF_SERVICE), SecurityIdentification, SECURITY_STATIC_TRACKING, FALSE};

// Opens the entry of that name relative to a held folder; the platform's
// error otherwise, ERROR_DELETE_PENDING for an entry already pending
// deletion (which ntdll would give as ERROR_ACCESS_DENIED).
FileHandle openRelative(const HeldFolder& folder, UNICODE_STRING name, DWORD access, DWORD share,
                        ULONG disposition, ULONG options, ULONG attributes = 0) {
    if (folder.openRelative == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FileHandle();
    }
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, folder.handle.get(), nullptr);
    object.SecurityQualityOfService = &identificationOnly;
    IO_STATUS_BLOCK outcome = {};
    HANDLE opened = nullptr;
    const NTSTATUS status =
        folder.openRelative(&opened, access | SYNCHRONIZE, &object, &outcome, nullptr, attributes,
                            share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        SetLastError(status == statusDeletePending ? ERROR_DELETE_PENDING
                                                   : folder.errorOfStatus(status));
        return FileHandle();
    }
    return FileHandle(opened);
}

// An entry is opened for one of three things.
enum class Opening {
    // It is deleted when the handle is closed. The platform refuses this for
    // a folder (a link to one included), a read-only file and a file in use.
    ToDeleteWhenClosed,
    // It is deleted through the handle. The platform refuses a folder (a
    // link to one included) and a file in use.
    ToDeleteThrough,
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
    const bool fileOnly = opening != Opening::ToExamine;
    if (place.folder == nullptr) {
        if (!fitsPlatform(place.path)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return FileHandle();
        }
        // Without FILE_FLAG_BACKUP_SEMANTICS CreateFileA opens no folder.
        const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT |
                            (deleteWhenClosed ? FILE_FLAG_DELETE_ON_CLOSE : 0) |
                            (fileOnly ? 0 : FILE_FLAG_BACKUP_SEMANTICS);
        return FileHandle(createFile(place.path, access, share, flags));
    }
    const ULONG options = FILE_OPEN_REPARSE_POINT | (fileOnly ? FILE_NON_DIRECTORY_FILE : 0) |
                          (deleteWhenClosed ? FILE_DELETE_ON_CLOSE : 0);
    return openRelative(*place.folder, place.name, access, share, FILE_OPEN, options);
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

DWORD deleteAt(const EntryPlace& place, FolderAttributes folderAttributes, bool& posixDeletion,
               DeletionObserver* observer) {
    if (observer != nullptr) {
        observer->entryFound(place.path);
    }
    // Told once per entry, however many times it is opened.
    bool heldTold = false;
    const auto tellHeld = [&] {
        if (observer != nullptr && !heldTold) {
            observer->entryHeld(place.path);
        }
        heldTold = true;
    };
    // Most entries are plain files, and for them one open deletes the entry,
    // as DeleteFileA does: through the handle with POSIX semantics where the
    // platform has them (an indexer or antivirus holding the file then keeps
    // no name in the folder), otherwise when the handle is closed. A link to
    // a file is held, and so deleted, as the link; no attribute is touched.
    const bool throughHandle = posixDeletion;
    if (FileHandle doomed =
            openEntry(place, throughHandle ? Opening::ToDeleteThrough : Opening::ToDeleteWhenClosed,
                      DELETE)) {
        tellHeld();
        if (!throughHandle || deleteThrough(doomed.get(), posixDeletion) == ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
    } else if (GetLastError() == ERROR_DELETE_PENDING) {
        // Deleted by someone else while a program still holds it: the name
        // goes when that program lets go, and nothing here can hasten it.
        return ERROR_SUCCESS;
    }
    bool writeAttributes = false;
    FileHandle held = holdEntry(place, DELETE, writeAttributes);
    // Deletion is what is refused for an entry that someone holds without
    // sharing it, or whose access list forbids it; its attributes are reset all
    // the same, as they would be before DeleteFileA, through a handle that
    // asks for attributes alone (and so holds nothing against a rival: only
    // an ordinary file of one name or folder, as the handle and the path
    // both show it, has its attributes reset).
    const DWORD deletionRefused = held ? ERROR_SUCCESS : GetLastError();
    if (!held) {
        held = holdEntry(place, 0, writeAttributes);
    }
    if (!held) {
        return deletionRefused;
    }
    tellHeld();
    switch (heldEntryKind(held.get(), place.path)) {
    case EntryKind::File:
        if (writeAttributes) {
            resetAttributesThrough(held.get());
        }
        return deletionRefused != ERROR_SUCCESS ? deletionRefused
                                                : deleteThrough(held.get(), posixDeletion);
    case EntryKind::LinkedFile:
    case EntryKind::LinkToFile:
        // Deleted as this one name or as the link; resetting its attributes
        // would reset those of every other name, or the link's target's.
        return deletionRefused != ERROR_SUCCESS ? deletionRefused
                                                : deleteThrough(held.get(), posixDeletion);
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

EntryKind entryKindOf(DWORD heldAttributes, DWORD heldReparseTag, DWORD pathAttributes,
                      DWORD names) {
    const bool folder = (heldAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Only a file's count of names says anything: a folder has no hard links.
    const EntryKind ordinary =
        folder ? EntryKind::Folder : (names == 1 ? EntryKind::File : EntryKind::LinkedFile);
    if (heldAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The handle is the reparse point itself.
        if (IsReparseTagNameSurrogate(heldReparseTag)) {
            return folder ? EntryKind::LinkToFolder : EntryKind::LinkToFile;
        }
        return ordinary;
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
    return ordinary;
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
    if (windowsStandIns.openRelative != nullptr && folder.openRelative != nullptr) {
        folder.openRelative = windowsStandIns.openRelative;
    }
    if (folder.errorOfStatus == nullptr) {
        folder.openRelative = nullptr;
    }
    return folder;
}

namespace {

bool isWideSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::wstring withoutTrailingSeparators(std::wstring path) {
    while (!path.empty() && isWideSeparator(path.back())) {
        path.pop_back();
    }
    return path;
}

// The path that one of the platform's path calls writes into a buffer of
// the size given, (buffer, size) -> length; empty when it gives none.
template <typename PathCall>
std::wstring askForPath(PathCall call) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = call(path.data(), static_cast<DWORD>(path.size()));
    if (length >= path.size()) {
        // Too small: the answer is the size needed, which some calls and
        // versions give with the terminating zero and some without; one more
        // character is room for either.
        path.resize(length + 1);
        length = call(path.data(), static_cast<DWORD>(path.size()));
    }
    if (length == 0 || length >= path.size()) {
        return std::wstring();
    }
    path.resize(length);
    return path;
}

// The full path as the platform takes it from the text: "." and ".."
// resolved, the dots and spaces that end it dropped (GetFullPathNameW); with
// longForm also every short 8.3 name in its long form (GetLongPathNameW,
// which needs to list each folder on the way). Empty when the platform gives
// no answer.
std::wstring platformPathOf(const Text& path, bool longForm) {
    const std::wstring wide = widened(path);
    const std::wstring full = askForPath([&](wchar_t* into, DWORD size) {
        return GetFullPathNameW(wide.c_str(), size, into, nullptr);
    });
    if (!longForm || full.empty()) {
        return full;
    }
    return askForPath(
        [&](wchar_t* into, DWORD size) { return GetLongPathNameW(full.c_str(), into, size); });
}

bool sameIgnoringCase(const std::wstring& one, const std::wstring& other) {
    return CompareStringOrdinal(one.data(), static_cast<int>(one.size()), other.data(),
                                static_cast<int>(other.size()), TRUE) == CSTR_EQUAL;
}

// What the path adds to its parent's path in that form ("\Cache" for
// "C:\Data\Cache" below "C:\Data\"), nothing when it is the parent; none
// when the platform gives no answer or the path does not lie below.
std::optional<std::wstring> componentsBelow(const Text& parentPath, const Text& path,
                                            bool longForm) {
    const std::wstring parent = withoutTrailingSeparators(platformPathOf(parentPath, longForm));
    const std::wstring full = withoutTrailingSeparators(platformPathOf(path, longForm));
    if (parent.empty() || full.size() < parent.size() ||
        !sameIgnoringCase(full.substr(0, parent.size()), parent) ||
        (full.size() > parent.size() && !isWideSeparator(full[parent.size()]))) {
        return std::nullopt;
    }
    return full.substr(parent.size());
}

} // namespace

FolderPlace placeOfHeldFolder(HANDLE held, const Text& parentFolder, const Text& relativePath) {
    // The parent as the joined path begins, which "C:" and "C:\" both give
    // as the root of the drive.
    const Text parentPath = joinPath(parentFolder, "");
    const Text path = joinPath(parentFolder, relativePath);
    if (!fitsPlatform(parentPath) || !fitsPlatform(path)) {
        return FolderPlace::Elsewhere;
    }
    const FileHandle parent(CreateFileA(parentPath.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    if (!parent) {
        return FolderPlace::Elsewhere;
    }
    // The components below the parent as a normalised final path shows them
    // (long names), and as an opened name may (the names as given).
    std::vector<std::wstring> belowParent;
    for (const bool longForm : {true, false}) {
        if (std::optional<std::wstring> below = componentsBelow(parentPath, path, longForm)) {
            belowParent.push_back(*below);
        }
    }
    // A server that cannot give normalised names (SMB, where the user may not
    // list a folder on the way), or a volume mounted in a folder without a
    // drive letter, may still give the opened ones, in which links resolve
    // all the same.
    for (const DWORD form : {FILE_NAME_NORMALIZED, FILE_NAME_OPENED}) {
        const std::wstring parentFinal = finalPathOf(parent.get(), form);
        const std::wstring actual = finalPathOf(held, form);
        if (parentFinal.empty() || actual.empty()) {
            continue;
        }
        for (const std::wstring& below : belowParent) {
            if (sameIgnoringCase(actual, parentFinal + below)) {
                return FolderPlace::AsNamed;
            }
        }
        return FolderPlace::Elsewhere;
    }
    return FolderPlace::Unverifiable;
}

FileHandle openOrCreateFileIn(const HeldFolder& folder, const Text& name, DWORD access) {
    const std::wstring wideName = widened(name);
    if (wideName.empty() || wideName.size() * sizeof(wchar_t) > 0xFFFE) {
        SetLastError(ERROR_INVALID_NAME);
        return FileHandle();
    }
    const USHORT bytes = static_cast<USHORT>(wideName.size() * sizeof(wchar_t));
    const UNICODE_STRING relativeName{bytes, bytes, const_cast<PWSTR>(wideName.c_str())};
    return openRelative(folder, relativeName, access, 0, FILE_OPEN_IF,
                        FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, FILE_ATTRIBUTE_NORMAL);
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
    // A hard link is no reparse point: only the count of the file's names
    // tells it (unknown, it is taken for more than one).
    FILE_STANDARD_INFO standard = {};
    if (!fileInformation(held, FileStandardInfo, &standard, sizeof standard)) {
        standard.NumberOfLinks = 0;
    }
    // Read while the entry is held, so the path still names what is held,
    // unless the platform followed a link to open it.
    return entryKindOf(attributes.FileAttributes, attributes.ReparseTag, pathAttributes(path),
                       standard.NumberOfLinks);
}

void resetAttributesThrough(HANDLE held) {
    FILE_BASIC_INFO basic = {}; // zero times: left as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    setFileInformation(held, FileBasicInfo, &basic, sizeof basic);
}

DWORD deleteThrough(HANDLE held, bool& posixDeletion) {
    // Where the platform has it (Windows 10 1809 and later, on NTFS), this
    // deletes a read-only entry too, and the name leaves its folder at once
    // even while another program holds the entry with delete sharing, so
    // that the folder can go as well. A platform that does not know it
    // (Windows 7 and 8, earlier Windows 10, FAT volumes, Wine 8) says so,
    // and only then is the classic disposition asked for; any other refusal
    // is the answer, as the classic request would meet it too (145 for a
    // folder that is not empty).
    if (posixDeletion) {
        FILE_DISPOSITION_INFO_EX posix = {FILE_DISPOSITION_FLAG_DELETE |
                                          FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                          FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
        if (setFileInformation(held, fileDispositionInfoEx, &posix, sizeof posix)) {
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (!notUnderstood(error)) {
            return error;
        }
        posixDeletion = false;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!setFileInformation(held, FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

std::wstring finalPathOf(HANDLE held, DWORD form) {
    const auto call = windowsStandIns.finalPath != nullptr ? windowsStandIns.finalPath
                                                           : GetFinalPathNameByHandleW;
    // Only a volume's root ends in a backslash.
    return withoutTrailingSeparators(askForPath(
        [&](wchar_t* into, DWORD size) { return call(held, into, size, form | VOLUME_NAME_DOS); }));
}

const FILE_ID_BOTH_DIR_INFO* FolderListing::next() {
    if (entry_ != nullptr && entry_->NextEntryOffset != 0) {
        entry_ = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
            reinterpret_cast<const char*>(entry_) + entry_->NextEntryOffset);
        return entry_;
    }
    entry_ = nullptr;
    if (over_) {
        return nullptr;
    }
    // Each call fills the batch with as many entries as fit, the first from
    // the beginning; the call after the last entry fails with
    // ERROR_NO_MORE_FILES. These classes are Vista's; the full-directory ones
    // came only with Windows 8, and Windows 7 refuses them.
    const FILE_INFO_BY_HANDLE_CLASS kind =
        started_ ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo;
    started_ = true;
    if (!fileInformation(folder_, kind, batch_.data(),
                         static_cast<DWORD>(batch_.size() * sizeof(LONGLONG)))) {
        const DWORD error = GetLastError();
        error_ = error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
        over_ = true;
        return nullptr;
    }
    entry_ = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(batch_.data());
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
    bool posixDeletion = true;
    return deleteAt(EntryPlace{path}, folderAttributes, posixDeletion, observer);
}

DWORD deleteEntryIn(HeldFolder& folder, const wchar_t* name, DWORD nameBytes, const Text& path,
                    FolderAttributes folderAttributes, DeletionObserver* observer) {
    if (nameBytes == 0 || nameBytes > 0xFFFE) {
        return ERROR_INVALID_NAME; // no entry of the folder has such a name
    }
    const USHORT bytes = static_cast<USHORT>(nameBytes);
    const EntryPlace place{path, &folder, UNICODE_STRING{bytes, bytes, const_cast<PWSTR>(name)}};
    return deleteAt(place, folderAttributes, folder.posixDeletion, observer);
}

} // namespace vmsi
