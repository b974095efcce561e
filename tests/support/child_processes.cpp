#include "child_processes.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <string>

namespace vmsi::test {

namespace {

// Under Wine, the first window of a session starts explorer.exe for the
// desktop, as a child of the program that made it, and it runs until the
// server ends. COM's single-threaded apartment, which VMSI_Launch enters for
// the shell, has a window. On Windows the desktop is always there; here it
// is made before the first test, so that no test sees it start.
class DesktopFirst : public ::testing::Environment {
    void SetUp() override { GetDesktopWindow(); }
};
::testing::Environment* const desktopFirst = ::testing::AddGlobalTestEnvironment(new DesktopFirst);

struct Child {
    DWORD id;
    Text name;
};

std::vector<PROCESSENTRY32> allProcesses() {
    std::vector<PROCESSENTRY32> processes;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return processes;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        processes.push_back(entry);
    }
    CloseHandle(snapshot);
    return processes;
}

std::vector<Child> children() {
    std::vector<Child> result;
    const DWORD self = GetCurrentProcessId();
    for (const PROCESSENTRY32& entry : allProcesses()) {
        if (entry.th32ParentProcessID == self && entry.th32ProcessID != self) {
            result.push_back({entry.th32ProcessID, entry.szExeFile});
        }
    }
    return result;
}

} // namespace

std::vector<Text> runningChildren() {
    std::vector<Text> names;
    for (const Child& child : children()) {
        names.push_back(child.name);
    }
    return names;
}

int runningProcessesNamed(const Text& programName) {
    int count = 0;
    for (const PROCESSENTRY32& entry : allProcesses()) {
        count += lstrcmpiA(entry.szExeFile, programName.c_str()) == 0;
    }
    return count;
}

bool noneRunningWithin(const Text& programName, DWORD timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    while (runningProcessesNamed(programName) > 0) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

ReleaseEvent::ReleaseEvent() {
    static int made = 0;
    name_ = "vmsi-tests-release-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++made);
    event_ = CreateEventA(nullptr, TRUE, FALSE, name_.c_str());
}

ChildProcessWatch::ChildProcessWatch() {
    for (const Child& child : children()) {
        before_.insert(child.id);
    }
}

std::vector<Text> ChildProcessWatch::settle(DWORD timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    for (;;) {
        std::vector<Child> fresh;
        for (const Child& child : children()) {
            if (before_.count(child.id) == 0) {
                started_.insert(child.id);
                fresh.push_back(child);
            }
        }
        if (fresh.empty()) {
            return {};
        }
        if (GetTickCount64() > deadline) {
            std::vector<Text> ended;
            for (const Child& child : fresh) {
                HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, child.id);
                if (process != nullptr) {
                    TerminateProcess(process, 1);
                    WaitForSingleObject(process, 5000);
                    CloseHandle(process);
                }
                ended.push_back(child.name);
            }
            return ended;
        }
        Sleep(10);
    }
}

} // namespace vmsi::test
