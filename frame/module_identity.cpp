#include "module_identity.h"

#include "grown_text.h"

#include <cstring>
#include <string>

namespace vmsi {

namespace {

ModuleIdentity theLibraryIdentity;

// GetModuleFileNameA cuts the name to the buffer and says so only by filling
// it (a length equal to the size); the buffer grows until the whole name fits.
Text moduleFileName(HMODULE module) {
    return grownText<char>([module](char* into, std::size_t size) {
        return BufferAnswer::ofLength(GetModuleFileNameA(module, into, static_cast<DWORD>(size)),
                                      size);
    });
}

// The version resource is already mapped with the module: reading it there
// avoids loading version.dll from inside the loader lock.
Text moduleFileVersion(HMODULE module) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO),
                                   MAKEINTRESOURCEA(16) /* RT_VERSION */);
    if (resource == nullptr) {
        return Text();
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        return Text();
    }
    return fixedFileVersionText(data, SizeofResource(module, resource));
}

} // namespace

Text fixedFileVersionText(const void* versionInfo, std::size_t size) {
    // VS_VERSIONINFO: three WORDs (length, value length, type), the key
    // L"VS_VERSION_INFO" with its terminator, padding to 32 bits, then the
    // VS_FIXEDFILEINFO value.
    const auto* bytes = static_cast<const unsigned char*>(versionInfo);
    if (versionInfo == nullptr || size < 6) {
        return Text();
    }
    WORD length = 0;
    WORD valueLength = 0;
    std::memcpy(&length, bytes, sizeof length);
    std::memcpy(&valueLength, bytes + 2, sizeof valueLength);
    if (length < size) {
        size = length;
    }
    std::size_t offset = 6;
    for (;;) {
        if (offset + 2 > size) {
            return Text();
        }
        const bool terminator = bytes[offset] == 0 && bytes[offset + 1] == 0;
        offset += 2;
        if (terminator) {
            break;
        }
    }
    offset = (offset + 3) & ~static_cast<std::size_t>(3);
    VS_FIXEDFILEINFO fixed;
    if (valueLength < sizeof fixed || offset + sizeof fixed > size) {
        return Text();
    }
    std::memcpy(&fixed, bytes + offset, sizeof fixed);
    if (fixed.dwSignature != 0xFEEF04BD) {
        return Text();
    }
    return versionText(fixed.dwFileVersionMS, fixed.dwFileVersionLS);
}

Text versionText(DWORD mostSignificant, DWORD leastSignificant) {
    // What "%d.%d.%d.%d" makes of the four 16-bit numbers, without the C
    // runtime's printf: mingw-w64's own, which std::snprintf is, weighs
    // some 25 KiB with its floating-point conversions.
    return std::to_string(HIWORD(mostSignificant)) + '.' + std::to_string(LOWORD(mostSignificant)) +
           '.' + std::to_string(HIWORD(leastSignificant)) + '.' +
           std::to_string(LOWORD(leastSignificant));
}

ModuleIdentity readModuleIdentity(HMODULE module) {
    ModuleIdentity identity;
    identity.path = moduleFileName(module);
    identity.version = moduleFileVersion(module);
    return identity;
}

const ModuleIdentity& libraryIdentity() {
    return theLibraryIdentity;
}

void startUpLibrary(HMODULE module) {
    theLibraryIdentity = readModuleIdentity(module);
}

} // namespace vmsi
