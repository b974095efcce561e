// A short demonstration for a newcomer: loads the trace variant of the
// library that lies beside this program, asks it for its identity and runs
// the launch actions, printing each action's trace and result.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using IdentityFunction = void(__stdcall*)(std::string&, std::string&);
using LaunchFunction = int(__stdcall*)(HWND, const char*, const char*, const char*);

std::string folderOfThisProgram() {
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length);
    return text.substr(0, text.find_last_of('\\'));
}

void runLaunch(HMODULE library, const char* exportName, const char* folder, const char* fileName,
               const char* parameters) {
    auto launch = reinterpret_cast<LaunchFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, exportName)));
    std::printf("\n> %s(folder \"%s\", file \"%s\", parameters \"%s\")\n", exportName, folder,
                fileName, parameters);
    std::fflush(stdout);
    int result = launch(nullptr, folder, fileName, parameters);
    std::printf("result: %d\n", result);
    std::fflush(stdout);
}

} // namespace

int main() {
    const std::string dllPath = folderOfThisProgram() + "\\VardoMSICustomActionsTrace.dll";
    HMODULE library = LoadLibraryA(dllPath.c_str());
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", dllPath.c_str(), GetLastError());
        return 2;
    }
    auto identity = reinterpret_cast<IdentityFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetDLLNameAndVersion")));
    std::string path, version;
    identity(path, version);
    std::printf("> GetDLLNameAndVersion\npath: %s\nversion: %s\n", path.c_str(), version.c_str());

    char systemFolder[MAX_PATH];
    GetSystemDirectoryA(systemFolder, sizeof systemFolder);

    std::printf("\nStart a program and wait for it; the folder may end in a backslash:");
    runLaunch(library, "VMSI_LaunchWait", (std::string(systemFolder) + "\\").c_str(), "cmd.exe",
              "/c echo Hello from a program started by VMSI_LaunchWait");
    std::printf("\nA program that is not there is reported and nothing is started:");
    runLaunch(library, "VMSI_LaunchWait", "C:\\Missing Folder", "setup.exe", "/quiet");
    std::printf("\nOpen a file through the shell (a document without a registered type still "
                "gives 1):");
    runLaunch(library, "VMSI_Launch", folderOfThisProgram().c_str(), "VardoMSICustomActions.h", "");
    FreeLibrary(library);
    return 0;
}
