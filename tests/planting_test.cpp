// Programs and libraries planted where the platform's search would find them
// first are never run or loaded by the shipped library: a program at the
// unquoted prefix of a path with spaces (C:\Program.exe for
// C:\Program Files\...), and a version.dll beside the installer or in its
// current folder. (A planted regsvr32.exe: registration_test.cpp. The
// import table: check_binary_tables.sh.)
#include "child_processes.h"
#include "scratch.h"
#include "shipped_library.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <functional>

using namespace vmsi;
using test::PlantedFile;

namespace {

using LaunchFunction = int(__stdcall*)(HWND, const char*, const char*, const char*);
using ConversionFunction = int(__stdcall*)(HWND, const char*, const char*, const char*,
                                           const char*);

} // namespace

TEST(Planting, NoLaunchStartsAProgramPlantedAtAnUnquotedPrefixOfItsPath) {
    test::ScratchFolder scratch("planting-prefix");
    test::makeFolders(scratch / "My Tools\\Sub Dir");
    const std::string recorder = test::besideThisProgram("recorder.exe");
    // Tried first, in this order, were the path given unquoted to the
    // platform: ...\My.exe, then ...\My Tools\Sub.exe.
    PlantedFile atFirstSpace(recorder, scratch / "My.exe");
    PlantedFile atSecondSpace(recorder, scratch / "My Tools\\Sub.exe");
    const std::string folder = scratch / "My Tools\\Sub Dir";
    PlantedFile program(recorder, folder + "\\recorder.exe");
    PlantedFile tool(recorder, folder + "\\DbMigrate.exe");

    test::ShippedLibrary library;
    const auto launch = library.exportOf<LaunchFunction>("VMSI_Launch");
    const auto launchWait = library.exportOf<LaunchFunction>("VMSI_LaunchWait");
    const auto convert = library.exportOf<ConversionFunction>("VMSI_LaunchDbMigrate");
    ASSERT_TRUE(launch && launchWait && convert);
    const std::pair<const char*, std::function<int()>> launches[] = {
        {"VMSI_Launch", [&] { return launch(nullptr, folder.c_str(), "recorder.exe", "-a"); }},
        {"VMSI_LaunchWait",
         [&] { return launchWait(nullptr, folder.c_str(), "recorder.exe", "-a"); }},
        {"VMSI_LaunchDbMigrate", [&] { return convert(nullptr, folder.c_str(), "o", "n", "f"); }},
    };
    for (const auto& [name, start] : launches) {
        SCOPED_TRACE(name);
        test::ChildProcessWatch children;
        EXPECT_EQ(start(), 1);
        // The shell's start is not waited for by the action.
        EXPECT_EQ(children.settle(20000), std::vector<std::string>{});
        const PlantedFile& started = std::string(name) == "VMSI_LaunchDbMigrate" ? tool : program;
        EXPECT_TRUE(started.ran()) << "the program itself did not run";
        EXPECT_FALSE(atFirstSpace.ran()) << atFirstSpace.path() << " was started";
        EXPECT_FALSE(atSecondSpace.ran()) << atSecondSpace.path() << " was started";
        test::removeTree(started.path() + ".record");
    }
}

namespace {

// What the shipped library asks the loader for: its own import entries for
// kernel32's LoadLibrary functions are pointed, for the life of the object,
// at recorders that note the name asked for and pass it on.
//
// The loaded modules themselves cannot show a planted version.dll under
// Wine: Wine's user32 imports version.dll, so every process that has the
// library (which imports shell32, which imports user32) holds the system's
// copy already, and a load by bare name would be given that copy.
class LibraryRequests {
public:
    explicit LibraryRequests(HMODULE module) : module_(module) {
        requested().clear();
        replace("LoadLibraryA", reinterpret_cast<void*>(&loadA));
        replace("LoadLibraryExA", reinterpret_cast<void*>(&loadExA));
        replace("LoadLibraryW", reinterpret_cast<void*>(&loadW));
        replace("LoadLibraryExW", reinterpret_cast<void*>(&loadExW));
    }
    ~LibraryRequests() {
        for (const auto& [entry, original] : replaced_) {
            write(entry, original);
        }
    }
    static std::vector<std::string>& requested() {
        static std::vector<std::string> names;
        return names;
    }
    std::size_t entriesReplaced() const { return replaced_.size(); }

private:
    static std::string narrow(LPCWSTR name) {
        char text[MAX_PATH * 2] = "";
        WideCharToMultiByte(CP_ACP, 0, name, -1, text, sizeof text - 1, nullptr, nullptr);
        return text;
    }
    static HMODULE WINAPI loadA(LPCSTR name) {
        requested().push_back(name);
        return LoadLibraryA(name);
    }
    static HMODULE WINAPI loadExA(LPCSTR name, HANDLE file, DWORD flags) {
        requested().push_back(name);
        return LoadLibraryExA(name, file, flags);
    }
    static HMODULE WINAPI loadW(LPCWSTR name) {
        requested().push_back(narrow(name));
        return LoadLibraryW(name);
    }
    static HMODULE WINAPI loadExW(LPCWSTR name, HANDLE file, DWORD flags) {
        requested().push_back(narrow(name));
        return LoadLibraryExW(name, file, flags);
    }

    static void write(void** entry, void* value) {
        DWORD protection = 0;
        VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection);
        *entry = value;
        VirtualProtect(entry, sizeof *entry, protection, &protection);
    }

    void replace(const char* functionName, void* recorder) {
        auto* base = reinterpret_cast<unsigned char*>(module_);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* library =
                 reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             library->Name != 0; ++library) {
            if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "kernel32.dll") !=
                0) {
                continue;
            }
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
            auto* entries = reinterpret_cast<void**>(base + library->FirstThunk);
            for (std::size_t i = 0; names[i].u1.AddressOfData != 0; ++i) {
                if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) {
                    continue;
                }
                const auto* byName =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
                if (std::string(reinterpret_cast<const char*>(byName->Name)) == functionName) {
                    replaced_.emplace_back(&entries[i], entries[i]);
                    write(&entries[i], recorder);
                }
            }
        }
    }

    HMODULE module_;
    std::vector<std::pair<void**, void*>> replaced_;
};

std::string systemFolder() {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    return std::string(folder, length);
}

// Whether a module of this full path is loaded in this process.
bool isLoaded(const std::string& path) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no module snapshot";
        return false;
    }
    bool found = false;
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot, &entry); more && !found;
         more = Module32Next(snapshot, &entry)) {
        found = lstrcmpiA(entry.szExePath, path.c_str()) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

} // namespace

TEST(Planting, TheVersionCheckAsksForTheSystemsVersionLibraryOnly) {
    test::ScratchFolder scratch("planting-version");
    test::makeFolders(scratch / "Current");
    // A library without the version functions: loaded in place of the
    // system's, it would also turn the action's answer to 0.
    const std::string impostor = test::besideThisProgram("VmsiNoVersion.dll");
    PlantedFile besideProgram(impostor, test::besideThisProgram("version.dll"));
    PlantedFile inCurrentFolder(impostor, scratch / "Current\\version.dll");
    test::CurrentFolder current(scratch / "Current");

    HMODULE module = LoadLibraryA(test::shippedFile("VardoMSICustomActions.dll").c_str());
    ASSERT_NE(module, nullptr);
    using CheckVersionOfFile = int(__stdcall*)(HWND, const char*, const char*, int, int, int, int);
    const auto check = exportOf<CheckVersionOfFile>(module, "VMSI_CheckVersionOfFile");
    ASSERT_NE(check, nullptr);
    {
        LibraryRequests requests(module);
        ASSERT_GT(requests.entriesReplaced(), 0u) << "the library does not import LoadLibrary";
        EXPECT_EQ(
            check(nullptr, test::thisProgramFolder().c_str(), "VmsiVersion5123.dll", 5, 1, 2, 3),
            1);
    }
    const std::vector<std::string> requested = LibraryRequests::requested();
    ASSERT_EQ(requested.size(), 1u)
        << "libraries asked for: " << ::testing::PrintToString(requested);
    EXPECT_EQ(lstrcmpiA(requested[0].c_str(), (systemFolder() + "\\version.dll").c_str()), 0)
        << "asked for " << requested[0];
    EXPECT_FALSE(isLoaded(besideProgram.path()));
    EXPECT_FALSE(isLoaded(inCurrentFolder.path()));
    FreeLibrary(module);
}
