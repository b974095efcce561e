// vmsi-bench: the library's load and its heaviest actions, each timed side by
// side with the platform work that it cannot avoid (its floor), in this one
// process, with QueryPerformanceCounter.
//
//   vmsi-bench [--rounds N]
//
// Loads VardoMSICustomActions.dll and VmsiBenchEmpty.dll from its own folder
// and calls the exports by name, as an installer does. Prints one RESULT line
// per comparison (see side_by_side.h); exit status 1 when a run did not do
// what it is measured doing.
#include "side_by_side.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using vmsi::bench::compareSideBySide;
using vmsi::bench::printResult;
using vmsi::bench::secondsNow;

namespace {

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "vmsi-bench: %s (error %lu)\n", message.c_str(), GetLastError());
    std::exit(1);
}

template <typename Work>
double timeBatch(int count, Work&& work) {
    const double start = secondsNow();
    for (int i = 0; i < count; ++i) {
        work();
    }
    return secondsNow() - start;
}

std::string thisProgramFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        fail("cannot tell this program's folder");
    }
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\'));
}

template <typename Function>
Function exportOf(HMODULE module, const char* name) {
    auto function =
        reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (function == nullptr) {
        fail(std::string("the library does not export ") + name);
    }
    return function;
}

// 1. LoadLibrary + FreeLibrary of the library against the empty DLL. The
// system libraries that the library imports are loaded beforehand, as they
// are in an installer's process; each load then maps the file, binds the
// imports and runs the start-up.
void compareLoad(const std::string& libraryPath, const std::string& emptyPath, int rounds) {
    for (const char* system : {"advapi32.dll", "shell32.dll"}) {
        if (LoadLibraryA(system) == nullptr) {
            fail(std::string("cannot load ") + system);
        }
    }
    if (GetModuleHandleA(libraryPath.c_str()) != nullptr) {
        fail("the library is already loaded");
    }
    constexpr int perRound = 40;
    auto loadAndUnload = [](const std::string& path) {
        return timeBatch(perRound, [&] {
            HMODULE module = LoadLibraryA(path.c_str());
            if (module == nullptr) {
                fail("cannot load " + path);
            }
            FreeLibrary(module);
        });
    };
    printResult("load",
                compareSideBySide(
                    rounds, [&] { return loadAndUnload(libraryPath); },
                    [&] { return loadAndUnload(emptyPath); }),
                perRound);
}

// 2. VMSI_RemoveQLMKCache on a folder of small files against a bare
// FindFirstFile/DeleteFile loop over an identical folder. Each round fills
// the two folders anew, untimed.
using RemoveCacheFunction = int(__stdcall*)(HWND, const char*, const char*);

constexpr int cacheFileCount = 2000;

void fillCacheFolder(const std::string& folder) {
    if (!CreateDirectoryA(folder.c_str(), nullptr)) {
        fail("cannot create " + folder);
    }
    const std::string contents(100, 'c');
    char name[32];
    for (int i = 0; i < cacheFileCount; ++i) {
        std::snprintf(name, sizeof name, "\\thumb%05d.cache", i);
        const std::string path = folder + name;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fail("cannot create " + path);
        }
        DWORD written = 0;
        WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
        CloseHandle(file);
    }
}

void removeBare(const std::string& folder) {
    char path[MAX_PATH];
    const std::size_t prefix = folder.size() + 1;
    std::memcpy(path, folder.c_str(), folder.size());
    std::strcpy(path + folder.size(), "\\*.*");
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) {
                continue;
            }
            std::strcpy(path + prefix, entry.cFileName);
            DeleteFileA(path);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

void compareCacheRemoval(HMODULE library, int rounds) {
    auto removeCache = exportOf<RemoveCacheFunction>(library, "VMSI_RemoveQLMKCache");
    char temporary[MAX_PATH];
    if (GetTempPathA(MAX_PATH, temporary) == 0) {
        fail("no temporary folder");
    }
    const std::string parent = std::string(temporary) + "vmsi-bench";
    CreateDirectoryA(parent.c_str(), nullptr);
    const std::string libraryFolder = parent + "\\cache-library";
    const std::string floorFolder = parent + "\\cache-floor";
    removeBare(libraryFolder);
    removeBare(floorFolder);

    auto gone = [](const std::string& folder) {
        if (GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
            fail(folder + " was not removed");
        }
    };
    auto timeLibrary = [&] {
        fillCacheFolder(libraryFolder);
        const double seconds =
            timeBatch(1, [&] { removeCache(nullptr, parent.c_str(), "cache-library"); });
        gone(libraryFolder);
        return seconds;
    };
    auto timeFloor = [&] {
        fillCacheFolder(floorFolder);
        const double seconds = timeBatch(1, [&] { removeBare(floorFolder); });
        gone(floorFolder);
        return seconds;
    };
    printResult("cache-removal", compareSideBySide(rounds, timeLibrary, timeFloor), 1);
    RemoveDirectoryA(parent.c_str());
}

// 3. VMSI_CheckForQLMKDB when no earlier catalogue exists, against the
// registry opens and attribute tests that the search must make: five
// installation keys, the Program Files value and three default folders.
using CheckForCatalogueFunction = int(__stdcall*)(HWND, char*);

const char* const installationKeys[] = {
    "Software\\Vardo\\Quillmark\\4.0",
    "Software\\Vardo\\Quillmark Orvil Edition\\4.0",
    "Software\\Vardo\\Vardo Stillwell\\1.0\\Install",
    "Software\\Vardo\\Vardo Lensmith\\1.0\\Install",
    "Software\\Vardo\\Orvil Snapdesk\\3.4\\Install",
};
const char* const defaultFolderCatalogues[] = {
    "\\Vardo Software Inc\\Vardo Stillwell\\System\\pcdb.mdb",
    "\\Orvil Computer\\Orvil Snapdesk\\System\\pcdb.mdb",
    "\\Vardo Software Inc\\Vardo Lensmith\\System\\pcdb.mdb",
};
const char* const currentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";

std::string programFilesFolder() {
    HKEY key;
    char folder[MAX_PATH] = "";
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, currentVersionKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof folder - 1;
        RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(folder),
                         &size);
        RegCloseKey(key);
    }
    return folder;
}

void searchCataloguesBare(const std::vector<std::string>& defaultPaths) {
    for (const char* keyPath : installationKeys) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
        }
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, currentVersionKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char folder[MAX_PATH];
        DWORD size = sizeof folder;
        RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(folder),
                         &size);
        RegCloseKey(key);
    }
    for (const std::string& path : defaultPaths) {
        GetFileAttributesA(path.c_str());
    }
}

void compareCatalogueDiscovery(HMODULE library, int rounds) {
    auto checkForCatalogue = exportOf<CheckForCatalogueFunction>(library, "VMSI_CheckForQLMKDB");
    for (const char* keyPath : installationKeys) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            fail(std::string("an earlier installation is registered: ") + keyPath);
        }
    }
    const std::string programFiles = programFilesFolder();
    std::vector<std::string> defaultPaths;
    for (const char* below : defaultFolderCatalogues) {
        defaultPaths.push_back(programFiles + below);
        if (GetFileAttributesA(defaultPaths.back().c_str()) != INVALID_FILE_ATTRIBUTES) {
            fail("an earlier catalogue exists: " + defaultPaths.back());
        }
    }
    constexpr int perRound = 200;
    char databasePath[MAX_PATH];
    auto timeLibrary = [&] {
        return timeBatch(perRound, [&] {
            if (checkForCatalogue(nullptr, databasePath) != 0) {
                fail("VMSI_CheckForQLMKDB found a catalogue");
            }
        });
    };
    auto timeFloor = [&] {
        return timeBatch(perRound, [&] { searchCataloguesBare(defaultPaths); });
    };
    printResult("catalogue-discovery", compareSideBySide(rounds, timeLibrary, timeFloor), perRound);
}

// 4. VMSI_CheckVersionOfFile against SearchPathA, GetFileVersionInfoSizeA,
// GetFileVersionInfoA and VerQueryValueA on the same file. This program
// imports version.dll, as an installer's process has it loaded.
using CheckVersionFunction = int(__stdcall*)(HWND, const char*, const char*, int, int, int, int);

bool hasVersionBare(const std::string& searchName) {
    char found[MAX_PATH];
    if (SearchPathA(nullptr, searchName.c_str(), nullptr, MAX_PATH, found, nullptr) == 0) {
        return false;
    }
    const DWORD size = GetFileVersionInfoSizeA(found, nullptr);
    if (size == 0) {
        return false;
    }
    std::vector<unsigned char> block(size);
    void* value = nullptr;
    UINT valueSize = 0;
    return GetFileVersionInfoA(found, 0, size, block.data()) &&
           VerQueryValueA(block.data(), "\\", &value, &valueSize) &&
           valueSize >= sizeof(VS_FIXEDFILEINFO);
}

void compareVersionCheck(HMODULE library, const std::string& folder, const char* fileName,
                         int rounds) {
    auto checkVersion = exportOf<CheckVersionFunction>(library, "VMSI_CheckVersionOfFile");
    const std::string searchName = folder + "\\" + fileName;
    constexpr int perRound = 100;
    auto timeLibrary = [&] {
        return timeBatch(perRound, [&] {
            if (checkVersion(nullptr, folder.c_str(), fileName, 0, 0, 0, 0) != 1) {
                fail("VMSI_CheckVersionOfFile did not find the version of " + searchName);
            }
        });
    };
    auto timeFloor = [&] {
        return timeBatch(perRound, [&] {
            if (!hasVersionBare(searchName)) {
                fail("no version found in " + searchName);
            }
        });
    };
    printResult("version-check", compareSideBySide(rounds, timeLibrary, timeFloor), perRound);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = vmsi::bench::roundsFromArguments(argc, argv, "vmsi-bench");
    if (rounds < 0) {
        return 2;
    }
    const std::string folder = thisProgramFolder();
    const std::string libraryPath = folder + "\\VardoMSICustomActions.dll";
    const std::string emptyPath = folder + "\\VmsiBenchEmpty.dll";

    // First, while the library is not loaded in this process.
    compareLoad(libraryPath, emptyPath, rounds);

    HMODULE library = LoadLibraryA(libraryPath.c_str());
    if (library == nullptr) {
        fail("cannot load " + libraryPath);
    }
    // Each cache round creates and removes thousands of files: fewer rounds.
    compareCacheRemoval(library, rounds < 15 ? rounds : 15);
    compareCatalogueDiscovery(library, rounds);
    compareVersionCheck(library, folder, "VmsiBenchEmpty.dll", rounds);
    FreeLibrary(library);
    return 0;
}
