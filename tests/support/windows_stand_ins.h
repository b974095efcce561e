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

} // namespace vmsi::test
