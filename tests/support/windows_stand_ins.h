// Stand-ins for Windows, for answers that Wine 8 cannot give: for the life of
// the object, one of the library's replaceable platform calls
// (windowsStandIns, entry_deletion.h) is the test's function, which replays
// what Windows answers.
#pragma once

#include "entry_deletion.h"

namespace vmsi::test {

template <typename Call>
class StandInForWindows {
public:
    StandInForWindows(Call& call, Call standIn) : call_(call), saved_(call) { call_ = standIn; }
    ~StandInForWindows() { call_ = saved_; }
    StandInForWindows(const StandInForWindows&) = delete;
    StandInForWindows& operator=(const StandInForWindows&) = delete;

private:
    Call& call_;
    Call saved_;
};

// A FAT or exFAT volume: the attribute and reparse tag query is refused with
// ERROR_INVALID_PARAMETER, every other query answered. Counts the refusals.
inline int fatVolumeRefusals = 0;
inline BOOL WINAPI fatVolume(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* into, DWORD size) {
    if (kind == FileAttributeTagInfo) {
        ++fatVolumeRefusals;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return GetFileInformationByHandleEx(file, kind, into, size);
}
// Nor has FAT the POSIX deletion: the request is refused as not understood.
inline BOOL WINAPI fatVolumeDeletion(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* from,
                                     DWORD size) {
    if (kind == static_cast<FILE_INFO_BY_HANDLE_CLASS>(21)) { // FileDispositionInfoEx
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return SetFileInformationByHandle(file, kind, from, size);
}

// Whether the platform under the tests deletes with POSIX semantics (Windows
// 10 1809 and later, Wine 10) or only the classic way (Windows 7, Wine 8):
// the first deletes a read-only name without touching its attributes, the
// second cannot. Asked once, of a scratch file in the temporary folder.
inline bool platformDeletesAsPosix() {
    static const bool posix = [] {
        char folder[MAX_PATH];
        char file[MAX_PATH];
        if (GetTempPathA(MAX_PATH, folder) == 0 || GetTempFileNameA(folder, "vpx", 0, file) == 0) {
            return false;
        }
        const HANDLE held = CreateFileA(file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        FILE_DISPOSITION_INFO_EX request = {FILE_DISPOSITION_FLAG_DELETE |
                                            FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
        const bool deleted =
            held != INVALID_HANDLE_VALUE &&
            SetFileInformationByHandle(held, static_cast<FILE_INFO_BY_HANDLE_CLASS>(21), &request,
                                       sizeof request);
        if (held != INVALID_HANDLE_VALUE) {
            CloseHandle(held);
        }
        DeleteFileA(file);
        return deleted;
    }();
    return posix;
}

} // namespace vmsi::test
