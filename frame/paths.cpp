#include "paths.h"

#include "grown_text.h"
#include "path_normaliser.h"

#include <windows.h>

namespace vmsi {

std::wstring widened(const Text& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    return wide;
}

bool isAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

Text normalisePath(Text path) {
    return normalisePath(std::move(path), isAnsiLeadByte);
}

Text joinPath(const Text& folder, const Text& name) {
    return normalisePath(folder + "\\" + name);
}

bool equalIgnoringCase(const Text& one, const Text& other) {
    const std::wstring first = widened(one);
    const std::wstring second = widened(other);
    return CompareStringOrdinal(first.data(), static_cast<int>(first.size()), second.data(),
                                static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

DWORD pathAttributes(const Text& path) {
    return fitsPlatform(path) ? GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool pathExists(const Text& path) {
    return pathAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// The system folder (GetSystemDirectoryA), or the empty text when the
// platform names none.
Text systemFolder() {
    return grownText<char>([](char* into, std::size_t size) {
        return BufferAnswer::ofLength(GetSystemDirectoryA(into, static_cast<UINT>(size)), size);
    });
}

} // namespace

Text systemFilePath(const Text& fileName) {
    const Text folder = systemFolder();
    return folder.empty() ? Text() : folder + "\\" + fileName;
}

bool runsUnderWow64(Wow64Query isWow64Process) {
    BOOL underWow64 = FALSE;
    return isWow64Process(GetCurrentProcess(), &underWow64) && underWow64;
}

std::optional<Text> throughSysnative(const Text& path) {
    const Text folder = systemFolder();
    const std::size_t windowsFolderEnd = folder.rfind('\\');
    if (windowsFolderEnd == Text::npos || path.size() < folder.size() ||
        (path.size() > folder.size() && path[folder.size()] != '\\')) {
        return std::nullopt;
    }
    if (!equalIgnoringCase(path.substr(0, folder.size()), folder)) {
        return std::nullopt;
    }
    return folder.substr(0, windowsFolderEnd) + "\\Sysnative" + path.substr(folder.size());
}

} // namespace vmsi
