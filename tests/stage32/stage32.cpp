// The 32-bit conformance stage for the shipped library: loads it, calls every
// export with the argument bytes the table of exports declares for it
// (frame/export_table.h) and checks that each removes exactly those from the
// stack, and checks the library's identity. Every action is called once where it finds nothing and
// touches nothing, and once where it does its work, in a scratch folder and
// registry entries made here and removed after: a small smoke case of each
// on the 32-bit build. All in one process: a 32-bit Wine process start costs
// about a minute under emulation.
//
// The registration tool it starts is the 32-bit regsvr32.exe, which the
// action waits for only until it is idle for input (at most 30 s), never to
// its end: it is given the library itself, which has no registration entry
// points, and ends on its own, or with the Wine server at the end of the run.
// Arguments: <path of the DLL> <path of a program for the launch>
// (Unix paths are taken as Wine's Z: drive.)
#include "export_table.h"
#include "handles.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

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

// One call: the export, its arguments as 32-bit words (the owner window
// and a result buffer included), and the result it must give.
struct Call {
    const char* exportName;
    std::vector<unsigned> arguments;
    int expectedResult;
};

// Calls the export with its arguments and checks that it removes exactly
// the argument bytes the table declares; the export's result.
int callCheckingStack(HMODULE library, const char* exportName,
                      const std::vector<unsigned>& arguments) {
    const vmsi::ExportDescription* description = vmsi::findExport(exportName);
    void* function = vmsi::exportOf<void*>(library, exportName);
    check(description != nullptr && function != nullptr, std::string("exports ") + exportName);
    if (description == nullptr || function == nullptr) {
        return -1;
    }
    // A call of this table that does not match the export's description is
    // the stage's own fault, and fails.
    const std::size_t bytes = description->argumentBytes();
    if (arguments.size() * 4 != bytes) {
        check(false, std::string(exportName) + " is called with " +
                         std::to_string(arguments.size() * 4) + " of its " + std::to_string(bytes) +
                         " argument bytes");
        return -1;
    }
    int drift = -1;
    const int result =
        callMeasuringStack(function, arguments.data(), static_cast<int>(arguments.size()), &drift);
    check(drift == 0, std::string(exportName) + " removes its " + std::to_string(bytes) +
                          " argument bytes (stack pointer off by " + std::to_string(drift) + ")");
    return result;
}

void removeTree(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        for (int attempt = 0; !DeleteFileA(path.c_str()) && attempt < 100; ++attempt) {
            Sleep(50); // a program that has just ended may still hold its image
        }
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..") {
                removeTree(path + "\\" + name);
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

void writeFile(const std::string& path, const std::string& contents) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
}

std::string readFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    char data[4096];
    DWORD read = 0;
    ReadFile(file, data, sizeof data, &read, nullptr);
    CloseHandle(file);
    return std::string(data, read);
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void setRegistryString(HKEY root, const std::string& keyPath, const char* valueName,
                       const std::string& data) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
        RegCloseKey(key);
    }
}

std::string registryString(HKEY root, const std::string& keyPath, const char* valueName) {
    HKEY key = nullptr;
    char data[MAX_PATH * 2] = "";
    DWORD size = sizeof data - 1;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
    }
    return data;
}

const char* const shellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const userShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// The current user's Desktop and Programs folders point into the scratch
// folder while the object lives. A run that died before putting them back
// left them there; they are then put back as the shell would write them.
class ShellFoldersInScratch {
public:
    ShellFoldersInScratch(const std::string& desktop, const std::string& programs) {
        for (const char* name : {"Desktop", "Programs"}) {
            std::string value = registryString(HKEY_CURRENT_USER, shellFolders, name);
            if (value.find("vmsi-stage32") != std::string::npos) {
                char expanded[MAX_PATH] = "";
                ExpandEnvironmentStringsA(
                    registryString(HKEY_CURRENT_USER, userShellFolders, name).c_str(), expanded,
                    sizeof expanded);
                value = expanded;
            }
            saved_.emplace_back(name, value);
        }
        setRegistryString(HKEY_CURRENT_USER, shellFolders, "Desktop", desktop);
        setRegistryString(HKEY_CURRENT_USER, shellFolders, "Programs", programs);
    }
    ~ShellFoldersInScratch() {
        for (const auto& [name, value] : saved_) {
            setRegistryString(HKEY_CURRENT_USER, shellFolders, name.c_str(), value);
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> saved_;
};

// Keys under HKLM at the product's own paths (in this 32-bit process's view
// of the registry) for the life of the object.
class ProductKeys {
public:
    ProductKeys() { remove(); }
    ~ProductKeys() { remove(); }

private:
    static void remove() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Vardo");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Vardo");
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, appPathsEntry);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, appPathsEntry);
    }

public:
    static constexpr const char* appPathsEntry =
        "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vmsi-stage32.exe";
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

    // The smoke cases' places: a scratch folder, the current user's Desktop
    // and Programs folders in it, and the product's registry entries.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string scratch = std::string(temp) + "vmsi-stage32";
    removeTree(scratch);
    for (const char* folder :
         {"", "\\Tools", "\\Old", "\\Old\\system", "\\Fav", "\\Fav\\Cfg", "\\Cache",
          "\\Cache\\Cache", "\\Desktop", "\\Programs", "\\Programs\\Quillmark"}) {
        CreateDirectoryA((scratch + folder).c_str(), nullptr);
    }
    writeFile(scratch + "\\notes.vmsi-no-such-type", "a document of no known type");
    writeFile(scratch + "\\Old\\system\\pcdb.mdb", "catalogue");
    writeFile(scratch + "\\Cache\\Cache\\a.dat", "a");
    writeFile(scratch + "\\Cache\\Cache\\b.dat", "b");
    SetFileAttributesA((scratch + "\\Cache\\Cache\\b.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    writeFile(scratch + "\\Programs\\Quillmark\\Quillmark.lnk", "shortcut");
    CopyFileA(programPath.c_str(), (scratch + "\\Tools\\DbMigrate.exe").c_str(), FALSE);
    ShellFoldersInScratch shellFoldersInScratch(scratch + "\\Desktop", scratch + "\\Programs");
    ProductKeys productKeys;
    setRegistryString(HKEY_LOCAL_MACHINE, ProductKeys::appPathsEntry, "", programPath);
    setRegistryString(HKEY_LOCAL_MACHINE, "Software\\Vardo\\Quillmark\\4.0", "InstallLocation",
                      scratch + "\\Old");
    setRegistryString(HKEY_LOCAL_MACHINE, "Software\\Vardo\\QLMKInternalVersion\\Version987654",
                      "Version", "9.8.7");
    // The texts outlive the table of calls that points at them.
    const std::string toolFolder = scratch + "\\Tools";
    const std::string favouritesBase = scratch + "\\Fav";
    const std::string cacheParent = scratch + "\\Cache";
    const std::string dllFolder = dllPath.substr(0, dllPath.find_last_of('\\'));
    const std::string dllName = dllPath.substr(dllPath.find_last_of('\\') + 1);

    // First every action where it finds nothing and touches nothing, then
    // where it does its work.
    const char* missing = "C:\\vmsi-stage32-missing";
    char resultBuffer[MAX_PATH] = "untouched";
    char databasePath[MAX_PATH] = "";
    char versionText[MAX_PATH] = "";
    const Call calls[] = {
        {"VMSI_Launch", {0, text(missing), text("setup.exe"), text("")}, 0},
        {"VMSI_LaunchWait", {0, text(missing), text("setup.exe"), text("")}, 0},
        {"VMSI_Register", {0, text("/s"), text(missing), text("comp.dll")}, 0},
        {"VMSI_CheckIfAppInstalled", {0, text("vmsi-stage32-missing.exe")}, 0},
        {"VMSI_CheckVersionOfFile", {0, text(missing), text("comp.dll"), 1, 2, 3, 4}, 0},
        {"VMSI_CreateDesktopShortcut", {0, 0, text("vmsi-stage32-missing"), text("a.lnk")}, 0},
        {"VMSI_RemoveDesktopShortcut", {0, 0, text("vmsi-stage32-missing.lnk")}, 0},
        {"VMSI_CheckForQLMK", {0, 987655, text(resultBuffer)}, 0},
        {"VMSI_LaunchDbMigrate", {0, text(missing), text(""), text(""), text("")}, 0},
        {"VMSI_WriteFavorites", {0, text(missing), text("Cfg"), text("Pics")}, 0},
        {"VMSI_RemoveQLMKCache", {0, text(missing), text("Cache")}, 0},

        {"VMSI_Launch", {0, text(scratch.c_str()), text("notes.vmsi-no-such-type"), text("")}, 1},
        {"VMSI_LaunchWait",
         {0, text(programFolder.c_str()), text(programName.c_str()), text("--exit=7")},
         1},
        {"VMSI_CheckIfAppInstalled", {0, text("vmsi-stage32.exe")}, 1},
        // Reads the 32-bit system folder's kernel32.dll through version.dll,
        // which the library loads for the call.
        {"VMSI_CheckVersionOfFile", {0, text(""), text("kernel32.dll"), 0, 0, 0, 0}, 1},
        // The removal finds the copy on the scratch desktop, or gives 0.
        {"VMSI_CreateDesktopShortcut", {0, 0, text("Quillmark"), text("Quillmark.lnk")}, 1},
        {"VMSI_RemoveDesktopShortcut", {0, 0, text("Quillmark.lnk")}, 1},
        {"VMSI_CheckForQLMKDB", {0, text(databasePath)}, 1},
        {"VMSI_CheckForQLMK", {0, 987654, text(versionText)}, 1},
        {"VMSI_LaunchDbMigrate",
         {0, text(toolFolder.c_str()), text("old.mdb"), text("C:\\New\\"), text("cat.mdb")},
         1},
        {"VMSI_WriteFavorites", {0, text(favouritesBase.c_str()), text("Cfg"), text("Pics")}, 1},
        {"VMSI_RemoveQLMKCache", {0, text(cacheParent.c_str()), text("Cache")}, 0},
        // Last: the tool goes on beside the stage, and as it loads the
        // library, Wine's shell writes the real Desktop and Programs folders
        // back into the Shell Folders values that the shortcut calls read.
        {"VMSI_Register", {0, text("/s"), text(dllFolder.c_str()), text(dllName.c_str())}, 1},
    };
    for (const Call& call : calls) {
        const int result = callCheckingStack(library, call.exportName, call.arguments);
        check(result == call.expectedResult, std::string(call.exportName) + " returns " +
                                                 std::to_string(result) + ", expected " +
                                                 std::to_string(call.expectedResult));
    }

    check(std::string(resultBuffer) == "untouched",
          "actions that found nothing left the result buffer alone");

    // What the calls that did their work left behind.
    check(!exists(scratch + "\\Desktop\\Quillmark.lnk"), "the copied shortcut is gone");
    check(std::string(databasePath) == scratch + "\\Old\\system\\pcdb.mdb",
          "the catalogue found is " + std::string(databasePath));
    check(std::string(versionText) == "9.8.7",
          "the version marker read is " + std::string(versionText));
    const std::string conversion = readFile(scratch + "\\Tools\\DbMigrate.exe.record");
    check(conversion.find("commandLine=" + scratch +
                          "\\Tools\\DbMigrate.exe  -i -o \"old.mdb\" "
                          "-n \"C:\\New\\cat.mdb\"\n") != std::string::npos,
          "the conversion tool ran with its switches and paths");
    check(readFile(scratch + "\\Fav\\Cfg\\favorite.txt") == scratch + "\\Fav\\Pics\r\n",
          "the favourites file holds the favourite's path");
    check(!exists(scratch + "\\Cache\\Cache"), "the cache folder was removed");
    check(exists(scratch + "\\Cache"), "the cache folder's parent stays");

    // GetDLLNameAndVersion takes two references to texts: two pointers.
    std::string path = "unset";
    std::string version = "unset";
    callCheckingStack(library, "GetDLLNameAndVersion",
                      {text(reinterpret_cast<const char*>(&path)),
                       text(reinterpret_cast<const char*>(&version))});
    check(lstrcmpiA(path.c_str(), dllPath.c_str()) == 0, "module path is " + path);
    check(version == VMSI_EXPECTED_VERSION, "module version is " + version);

    const std::string record = programPath + ".record";
    check(GetFileAttributesA(record.c_str()) != INVALID_FILE_ATTRIBUTES,
          "the launched program ran before VMSI_LaunchWait returned");
    DeleteFileA(record.c_str());

    FreeLibrary(library);
    removeTree(scratch);
    std::printf("[figures] stage32: %d checks passed, %d failed\n", checks - failures, failures);
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
