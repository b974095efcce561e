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
