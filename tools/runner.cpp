#include "runner.h"

#include "module_identity.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace vmsi::runner {

int usageError(const Text& message) {
    std::fprintf(stderr, "vmsi-run: %s\n", message.c_str());
    return exitUsage;
}

Text besideThisProgram(const Text& fileName) {
    const Text program = readModuleIdentity(nullptr).path;
    return program.substr(0, program.find_last_of('\\') + 1) + fileName;
}

LoadedModule loadLibraryToRun(const Text& path) {
    LoadedModule library(LoadLibraryA(path.c_str()));
    if (library) {
        return library;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_BAD_EXE_FORMAT) {
        // The loader's only word for a library of the other bitness; the
        // dist folder of each build holds its own runner.
        const Text bits = sizeof(void*) == 8 ? "64" : "32";
        const Text other = sizeof(void*) == 8 ? "32" : "64";
        usageError("cannot load " + path + " (error 193): it is not a " + bits +
                   "-bit library, which this " + bits + "-bit vmsi-run needs; run a " + other +
                   "-bit library with the " + other + "-bit vmsi-run (dist/win" + other + ")");
    } else {
        usageError("cannot load " + path + " (error " + std::to_string(error) +
                   "); name the library with --dll PATH");
    }
    return library;
}

LoadedModule mapLibraryToRead(const Text& path) {
    LoadedModule library(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!library) {
        const DWORD error = GetLastError();
        usageError("cannot read " + path + " (error " + std::to_string(error) +
                   "); name the library with --dll PATH");
    }
    return library;
}

std::vector<Text> exportedNames(HMODULE mapped) {
    // The handle of an image mapped as a resource is its address with the
    // low bits set. The headers differ between the bitnesses from the
    // optional header on, so the export directory is found by its kind.
    const auto* base = reinterpret_cast<const unsigned char*>(
        reinterpret_cast<std::uintptr_t>(mapped) & ~static_cast<std::uintptr_t>(3));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& exports =
        headers->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
            ? reinterpret_cast<const IMAGE_NT_HEADERS64*>(headers)
                  ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT]
            : headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<Text> names;
    if (exports.VirtualAddress == 0 || exports.Size == 0) {
        return names;
    }
    const auto* directory =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exports.VirtualAddress);
    const auto* nameAddresses = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        names.emplace_back(reinterpret_cast<const char*>(base + nameAddresses[i]));
    }
    return names;
}

Text ansiWord(const std::wstring& word) {
    if (word.empty()) {
        return Text();
    }
    const int length = WideCharToMultiByte(CP_ACP, 0, word.data(), static_cast<int>(word.size()),
                                           nullptr, 0, nullptr, nullptr);
    Text text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_ACP, 0, word.data(), static_cast<int>(word.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

} // namespace vmsi::runner
