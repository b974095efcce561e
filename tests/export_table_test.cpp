// The action runner's table of exports, the public header and the DLL's
// export table must describe the same functions.
#include "VardoMSICustomActions.h"
#include "export_table.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

using namespace vmsi::tools;

namespace {

template <typename T>
constexpr char typeCode() {
    if constexpr (std::is_same_v<T, HWND>) {
        return 'w';
    } else if constexpr (std::is_same_v<T, const char*>) {
        return 's';
    } else if constexpr (std::is_same_v<T, int>) {
        return 'i';
    } else if constexpr (std::is_same_v<T, char*>) {
        return 'b';
    } else if constexpr (std::is_same_v<T, std::string&>) {
        return 'r';
    } else {
        return '?';
    }
}

template <typename Function>
struct Signature;

template <typename Result, typename... Arguments>
struct Signature<Result __stdcall(Arguments...)> {
    static std::string text() {
        return std::string(std::is_void_v<Result> ? "void(" : "int(") +
               std::string{typeCode<Arguments>()...} + ")";
    }
};

// What the header declares, by name.
const std::map<std::string, std::string> headerSignatures = {
    {"GetDLLNameAndVersion", Signature<decltype(GetDLLNameAndVersion)>::text()},
    {"VMSI_Launch", Signature<decltype(VMSI_Launch)>::text()},
    {"VMSI_LaunchWait", Signature<decltype(VMSI_LaunchWait)>::text()},
    {"VMSI_Register", Signature<decltype(VMSI_Register)>::text()},
    {"VMSI_CheckIfAppInstalled", Signature<decltype(VMSI_CheckIfAppInstalled)>::text()},
    {"VMSI_CheckVersionOfFile", Signature<decltype(VMSI_CheckVersionOfFile)>::text()},
    {"VMSI_CreateDesktopShortcut", Signature<decltype(VMSI_CreateDesktopShortcut)>::text()},
    {"VMSI_RemoveDesktopShortcut", Signature<decltype(VMSI_RemoveDesktopShortcut)>::text()},
    {"VMSI_CheckForQLMKDB", Signature<decltype(VMSI_CheckForQLMKDB)>::text()},
    {"VMSI_CheckForQLMK", Signature<decltype(VMSI_CheckForQLMK)>::text()},
    {"VMSI_LaunchDbMigrate", Signature<decltype(VMSI_LaunchDbMigrate)>::text()},
    {"VMSI_WriteFavorites", Signature<decltype(VMSI_WriteFavorites)>::text()},
    {"VMSI_RemoveQLMKCache", Signature<decltype(VMSI_RemoveQLMKCache)>::text()},
};

// What the runner's table says the same function looks like.
std::string tableSignature(const ExportDescription& description) {
    if (description.kind == ExportKind::IdentityFunction) {
        return "void(rr)";
    }
    std::string codes = "w";
    for (std::size_t i = 0; i < description.argumentCount; ++i) {
        codes += description.arguments[i].type == ArgumentType::Text ? 's' : 'i';
    }
    if (description.kind == ExportKind::BufferAction) {
        codes += 'b';
    }
    return "int(" + codes + ")";
}

// The names in a loaded module's export directory.
std::set<std::string> exportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* directory =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    std::set<std::string> result;
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        result.insert(reinterpret_cast<const char*>(base + names[i]));
    }
    return result;
}

} // namespace

TEST(ExportTable, NamesExactlyWhatTheLibraryExports) {
    for (const char* dll : {"VardoMSICustomActions.dll", "VardoMSICustomActionsTrace.dll"}) {
        HMODULE module = LoadLibraryA(vmsi::test::besideThisProgram(dll).c_str());
        ASSERT_NE(module, nullptr) << dll;
        std::set<std::string> tableNames;
        for (const ExportDescription& description : exportTable) {
            tableNames.insert(description.name);
        }
        EXPECT_EQ(exportedNames(module), tableNames) << dll;
        FreeLibrary(module);
    }
}

TEST(ExportTable, AgreesWithThePublicHeader) {
    EXPECT_EQ(headerSignatures.size(), exportCount);
    for (const ExportDescription& description : exportTable) {
        auto declared = headerSignatures.find(description.name);
        ASSERT_NE(declared, headerSignatures.end())
            << description.name << " is not declared in the public header";
        EXPECT_EQ(declared->second, tableSignature(description)) << description.name;
        EXPECT_LE(description.argumentCount, maximumArguments);
    }
}
