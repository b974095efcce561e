// The shipped library beside the test program (or its trace variant, whose
// reports go to standard error), loaded by its path and called by export
// name as the installer calls it: with C strings that may be null.
#pragma once

#include "scratch.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace vmsi::test {

class ShippedLibrary {
public:
    explicit ShippedLibrary(const char* fileName = "VardoMSICustomActions.dll")
        : module_(LoadLibraryA(besideThisProgram(fileName).c_str())) {
        EXPECT_NE(module_, nullptr) << "cannot load the shipped library: error " << GetLastError();
    }
    ~ShippedLibrary() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    ShippedLibrary(const ShippedLibrary&) = delete;
    ShippedLibrary& operator=(const ShippedLibrary&) = delete;

    // The export of that name, or null (and a failure) when there is none.
    template <typename Function>
    Function exportOf(const char* name) const {
        FARPROC address = module_ != nullptr ? GetProcAddress(module_, name) : nullptr;
        EXPECT_NE(address, nullptr) << "no export " << name;
        return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    }

private:
    HMODULE module_;
};

// Texts of the lengths at which fixed 260-byte buffers would overflow or cut,
// and one far beyond the platform's path limits.
inline const std::size_t boundaryLengths[] = {259, 260, 261, 40000};

// The result buffer the public header asks callers for: MAX_PATH, 260 bytes.
// Spelled out here, not taken from the library, so that a library whose own
// size drifted would write into the tests' guard bytes.
inline constexpr std::size_t documentedResultBufferSize = 260;

} // namespace vmsi::test
