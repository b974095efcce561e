// The table of exports, the export list, the public header and the built
// DLLs' export directories must describe the same functions.
#include "VardoMSICustomActions.h"
#include "export_table.h"
#include "shipped_library.h"
#include "unix_links.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

using namespace vmsi;

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

// What the table says the same function looks like.
std::string tableSignature(const ExportDescription& description) {
    if (description.kind == ExportKind::IdentityFunction) {
        return "void(rr)";
    }
    std::string codes = "w";
    for (std::size_t i = 0; i < description.argumentCount; ++i) {
        codes += description.arguments[i].kind == ArgumentKind::Text ? 's' : 'i';
    }
    if (description.kind == ExportKind::BufferAction) {
        codes += 'b';
    }
    return "int(" + codes + ")";
}

} // namespace

TEST(ExportTable, NamesExactlyWhatTheLibraryExports) {
    std::set<std::string> tableNames;
    for (const ExportDescription& description : exportTable) {
        tableNames.insert(description.name);
    }
    for (const char* dll : {"VardoMSICustomActions.dll", "VardoMSICustomActionsTrace.dll"}) {
        EXPECT_EQ(test::ShippedLibrary(dll).exportedNames(), tableNames) << dll;
    }
}

TEST(ExportTable, AgreesWithThePublicHeader) {
    EXPECT_EQ(headerSignatures.size(), exportCount);
    for (const ExportDescription& description : exportTable) {
        auto declared = headerSignatures.find(description.name);
        ASSERT_NE(declared, headerSignatures.end())
            << description.name << " is not declared in the public header";
        EXPECT_EQ(declared->second, tableSignature(description)) << description.name;
    }
}

// The export list names each function as Name@N, N its argument bytes; the
// 32-bit link fails where N is not what the function's prototype removes.
TEST(ExportTable, IsTheExportListInItsOrderWithItsArgumentBytes) {
    const auto list = test::readFile(test::windowsPathOf(VMSI_SOURCE_FOLDER "/frame/exports.def"));
    ASSERT_TRUE(list.has_value());
    std::vector<std::string> listed;
    std::istringstream lines(*list);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find('@');
        if (!line.empty() && line[0] == ' ' && at != std::string::npos) {
            listed.push_back(line.substr(line.find_first_not_of(' ')));
        }
    }
    std::vector<std::string> described;
    for (const ExportDescription& description : exportTable) {
        described.push_back(description.name + ("@" + std::to_string(description.argumentBytes())));
    }
    EXPECT_EQ(listed, described);
}
