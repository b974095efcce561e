// The shipped library (or its trace variant, whose reports go to standard
// error), loaded by its path and called by export name as the installer calls
// it: with C strings that may be null.
#pragma once

#include "export_table.h"
#include "handles.h"
#include "scratch.h"
#include "unix_links.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>

namespace vmsi::test {

// A file of what ships (the libraries and the action runner): from the
// folder that VMSI_SHIPPED_FOLDER names, a Unix path, where the 32-bit suite
// is given the unpacked release bundle; else the build's own, beside the
// test program.
inline Text shippedFile(const Text& fileName) {
    char folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("VMSI_SHIPPED_FOLDER", folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) {
        return besideThisProgram(fileName);
    }
    return windowsPathOf(Text(folder, length)) + "\\" + fileName;
}

class ShippedLibrary {
public:
    explicit ShippedLibrary(const char* fileName = "VardoMSICustomActions.dll")
        : module_(LoadLibraryA(shippedFile(fileName).c_str())) {
        EXPECT_TRUE(module_) << "cannot load the shipped library: error " << GetLastError();
    }

    // The export of that name, or null (and a failure) when there is none.
    template <typename Function = FARPROC>
    Function exportOf(const char* name) const {
        const Function address = module_ ? vmsi::exportOf<Function>(module_.get(), name) : nullptr;
        EXPECT_NE(address, nullptr) << "no export " << name;
        return address;
    }

    // The names in the library's export directory, whatever its export
    // list said.
    std::set<Text> exportedNames() const {
        if (!module_) {
            return {};
        }
        const auto* base = reinterpret_cast<const unsigned char*>(module_.get());
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& entry =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        const auto* directory =
            reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
        const auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
        std::set<Text> result;
        for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
            result.insert(reinterpret_cast<const char*>(base + names[i]));
        }
        return result;
    }

private:
    LoadedModule module_;
};

// Texts of the lengths at which fixed 260-byte buffers would overflow or cut,
// and one far beyond the platform's path limits.
inline const std::size_t boundaryLengths[] = {259, 260, 261, 40000};

// The result buffer the public header asks callers for: MAX_PATH, 260 bytes.
// Spelled out here, not taken from the library, so that a library whose own
// size drifted would write into the tests' guard bytes.
inline constexpr std::size_t documentedResultBufferSize = 260;

} // namespace vmsi::test
