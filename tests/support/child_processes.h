// The programs this test program starts, directly or through the shell or
// the library: waited for, and ended if they outlive their welcome, so that
// no test leaves one behind.
#pragma once

#include "text.h"

#include <windows.h>

#include <set>
#include <vector>

namespace vmsi::test {

// Names of the running processes whose parent is this process.
std::vector<Text> runningChildren();

// Running processes of that program file name, whoever started them.
int runningProcessesNamed(const Text& programName);

// Waits until no process of that program file name runs; false when some
// still run after the time-out.
bool noneRunningWithin(const Text& programName, DWORD timeoutMilliseconds);

// A named event that a started program waits for before it leaves its record
// (the recorder's --wait-for=NAME, the self-registering component's
// VMSI_COMPONENT_WAIT_FOR): no record can exist before release(), so a
// caller that waited for the program is seen to have waited, however slow
// the machine.
class ReleaseEvent {
public:
    ReleaseEvent();
    ~ReleaseEvent() { CloseHandle(event_); }
    ReleaseEvent(const ReleaseEvent&) = delete;
    ReleaseEvent& operator=(const ReleaseEvent&) = delete;

    const Text& name() const { return name_; }
    void release() const { SetEvent(event_); }

private:
    Text name_;
    HANDLE event_;
};

// Remembers the children running when it is made. settle() waits until every
// child started since has ended; any still running after the time-out is
// ended, and their names are returned.
class ChildProcessWatch {
public:
    ChildProcessWatch();
    std::vector<Text> settle(DWORD timeoutMilliseconds);
    // How many children have been seen start since the watch was made.
    std::size_t startedCount() const { return started_.size(); }

private:
    std::set<DWORD> before_;
    std::set<DWORD> started_;
};

} // namespace vmsi::test
