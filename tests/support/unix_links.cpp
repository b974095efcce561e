#include "unix_links.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace vmsi::test {

// Wine forks and executes a Unix program without giving the caller a
// process handle to wait on, so the command touches a marker file when it
// is done and the marker is waited for.
void runUnixShellCommand(const Text& command) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const Text marker = Text(temp) + "vmsi-unix-command.done";
    DeleteFileA(marker.c_str());

    Text commandLine = "sh -c \"" + command + "; touch '" + unixPathOf(marker) + "'\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created = {};
    ASSERT_TRUE(CreateProcessA("Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &created))
        << "cannot start /bin/sh: error " << GetLastError();
    if (created.hProcess != nullptr) {
        CloseHandle(created.hProcess);
        CloseHandle(created.hThread);
    }
    for (int attempt = 0; GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES;
         ++attempt) {
        ASSERT_LT(attempt, 400) << "the Unix command did not finish: " << command;
        Sleep(25);
    }
    DeleteFileA(marker.c_str());
}

Text unixPathOf(const Text& windowsPath) {
    using UnixFileName = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
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
    runUnixShellCommand("ln -sfn '" + unixTarget + "' '" + unixLinkPath_ + "'");
}

UnixSymbolicLink::~UnixSymbolicLink() {
    runUnixShellCommand("rm -f '" + unixLinkPath_ + "'");
}

} // namespace vmsi::test
