// The 32-bit conformance stage for the shipped library: loads it, calls every
// export through GetProcAddress with its declared number of 32-bit arguments
// and checks that each removes exactly those from the stack, checks the
// library's identity, reads one system file's version, and starts one program
// and waits for it. The other actions are given arguments under which they
// find nothing and touch nothing.
// Arguments: <path of the DLL> <path of a program for the launch>
// (Unix paths are taken as Wine's Z: drive.)
#include <windows.h>

#include <cstdio>
#include <string>

extern "C" int callMeasuringStack(void* function, const unsigned* arguments, int count, int* drift);

namespace {

int failures = 0;
int checks = 0;

void check(bool condition, const std::string& what) {
    ++checks;
    if (!condition) {
        ++failures;
    }
    std::printf("%s: %s\n", condition ? "ok" : "FAILED", what.c_str());
    std::fflush(stdout);
}

std::string windowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

unsigned text(const char* value) {
    return static_cast<unsigned>(reinterpret_cast<UINT_PTR>(value));
}

struct Call {
    const char* exportName;
    int argumentCount;
    unsigned arguments[8];
    int expectedResult;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vmsi-stage32 LIBRARY.dll PROGRAM.exe\n");
        return 2;
    }
    const std::string dllPath = windowsPath(argv[1]);
    const std::string programPath = windowsPath(argv[2]);
    const std::string programFolder = programPath.substr(0, programPath.find_last_of('\\'));
    const std::string programName = programPath.substr(programPath.find_last_of('\\') + 1);

    HMODULE library = LoadLibraryA(dllPath.c_str());
    check(library != nullptr, "loads " + dllPath);
    if (library == nullptr) {
        return 1;
    }

    // Every action that reaches the platform is given a path that does not
    // exist, except the one version read and the one launch of a real program.
    const char* missing = "C:\\vmsi-stage32-missing";
    char resultBuffer[MAX_PATH] = "untouched";
    const Call calls[] = {
        {"VMSI_Launch", 4, {0, text(missing), text("setup.exe"), text("")}, 0},
        {"VMSI_LaunchWait", 4, {0, text(missing), text("setup.exe"), text("")}, 0},
        {"VMSI_Register", 4, {0, text("/s"), text(missing), text("comp.dll")}, 0},
        {"VMSI_CheckIfAppInstalled", 2, {0, text("vmsi-stage32-missing.exe")}, 0},
        {"VMSI_CheckVersionOfFile", 7, {0, text(missing), text("comp.dll"), 1, 2, 3, 4}, 0},
        // Reads the 32-bit system folder's kernel32.dll through version.dll,
        // which the library loads for the call.
        {"VMSI_CheckVersionOfFile", 7, {0, text(""), text("kernel32.dll"), 0, 0, 0, 0}, 1},
        {"VMSI_CreateDesktopShortcut", 4, {0, 0, text("vmsi-stage32-missing"), text("a.lnk")}, 0},
        {"VMSI_RemoveDesktopShortcut", 3, {0, 0, text("vmsi-stage32-missing.lnk")}, 0},
        {"VMSI_LaunchWait",
         4,
         {0, text(programFolder.c_str()), text(programName.c_str()), text("--exit=7")},
         1},
        {"VMSI_CheckForQLMKDB", 2, {0, text(resultBuffer)}, 0},
        {"VMSI_CheckForQLMK", 3, {0, 987654, text(resultBuffer)}, 0},
        {"VMSI_LaunchDbMigrate", 5, {0, text(missing), text(""), text(""), text("")}, 0},
        {"VMSI_WriteFavorites", 4, {0, text(missing), text("Cfg"), text("Pics")}, 0},
        {"VMSI_RemoveQLMKCache", 3, {0, text(missing), text("Cache")}, 0},
    };
    for (const Call& call : calls) {
        void* function = reinterpret_cast<void*>(GetProcAddress(library, call.exportName));
        check(function != nullptr, std::string("exports ") + call.exportName);
        if (function == nullptr) {
            continue;
        }
        int drift = -1;
        const int result = callMeasuringStack(function, call.arguments, call.argumentCount, &drift);
        check(drift == 0, std::string(call.exportName) + " removes its " +
                              std::to_string(call.argumentCount * 4) +
                              " argument bytes (stack pointer off by " + std::to_string(drift) +
                              ")");
        check(result == call.expectedResult, std::string(call.exportName) + " returns " +
                                                 std::to_string(result) + ", expected " +
                                                 std::to_string(call.expectedResult));
    }

    check(std::string(resultBuffer) == "untouched",
          "actions that found nothing left the result buffer alone");

    // GetDLLNameAndVersion takes two references to texts: two pointers.
    void* identityExport = reinterpret_cast<void*>(GetProcAddress(library, "GetDLLNameAndVersion"));
    check(identityExport != nullptr, "exports GetDLLNameAndVersion");
    if (identityExport != nullptr) {
        std::string path, version;
        const unsigned arguments[] = {text(reinterpret_cast<const char*>(&path)),
                                      text(reinterpret_cast<const char*>(&version))};
        int drift = -1;
        callMeasuringStack(identityExport, arguments, 2, &drift);
        check(drift == 0,
              "GetDLLNameAndVersion removes its 8 argument bytes (stack pointer off by " +
                  std::to_string(drift) + ")");
        check(lstrcmpiA(path.c_str(), dllPath.c_str()) == 0, "module path is " + path);
        check(version == VMSI_EXPECTED_VERSION, "module version is " + version);
    }

    const std::string record = programPath + ".record";
    check(GetFileAttributesA(record.c_str()) != INVALID_FILE_ATTRIBUTES,
          "the launched program ran before VMSI_LaunchWait returned");
    DeleteFileA(record.c_str());

    FreeLibrary(library);
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
