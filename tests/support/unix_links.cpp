#include "unix_links.h"

#include "handles.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace vmsi::test {

namespace {
// ln and rm start in milliseconds; a loaded machine may take seconds.
constexpr DWORD linkCommandLimit = 10000;
} // namespace

// Wine forks and executes a Unix program without giving the caller a
// process handle to wait on, so a marker file is made first, the command
// removes it when it is done, and its going is waited for. The marker is
// this process's and this command's own, so that no other command ends the
// wait; one whose wait gave up removes a marker that is already gone.
void runUnixShellCommand(const Text& command, DWORD timeoutMilliseconds) {
    static int commands = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const Text marker = Text(temp) + "vmsi-unix-command-" + std::to_string(GetCurrentProcessId()) +
                        "-" + std::to_string(++commands) + ".running";
    writeFile(marker, command);

    Text commandLine = "sh -c \"" + command + "; rm -f '" + unixPathOf(marker) + "'\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created = {};
    if (!CreateProcessA("Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &created)) {
        const DWORD error = GetLastError();
        DeleteFileA(marker.c_str());
        FAIL() << "cannot start /bin/sh: error " << error;
    }
    // A Unix program comes with no handles: hProcess is null then, and
    // hThread is left holding whatever value, which must not be closed.
    if (created.hProcess != nullptr) {
        CloseHandle(created.hProcess);
        CloseHandle(created.hThread);
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    while (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() > deadline) {
            DeleteFileA(marker.c_str());
            FAIL() << "the Unix command did not finish in " << timeoutMilliseconds
                   << " ms: " << command;
        }
        Sleep(10);
    }
}

Text unixPathOf(const Text& windowsPath) {
    using UnixFileName = char*(CDECL*)(const WCHAR*);
    auto toUnix =
        exportOf<UnixFileName>(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (toUnix == nullptr) {
        ADD_FAILURE() << "not running under Wine";
        return Text();
    }
    std::wstring wide(windowsPath.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(),
                                    static_cast<int>(wide.size())));
    char* unixPath = toUnix(wide.c_str());
    if (unixPath == nullptr) {
        ADD_FAILURE() << "no Unix path for " << windowsPath;
        return Text();
    }
    Text result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

Text windowsPathOf(const Text& unixPath) {
    Text path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

UnixSymbolicLink::UnixSymbolicLink(const Text& linkPath, const Text& unixTarget)
    : unixLinkPath_(unixPathOf(linkPath)) {
    runUnixShellCommand("ln -sfn '" + unixTarget + "' '" + unixLinkPath_ + "'", linkCommandLimit);
}

UnixSymbolicLink::~UnixSymbolicLink() {
    runUnixShellCommand("rm -f '" + unixLinkPath_ + "'", linkCommandLimit);
}

} // namespace vmsi::test
