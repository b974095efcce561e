#include "paths.h"

#include "path_normaliser.h"

#include <windows.h>

#include <vector>

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

DWORD pathAttributes(const Text& path) {
    return fitsPlatform(path) ? GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool pathExists(const Text& path) {
    return pathAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

Text systemFilePath(const Text& fileName) {
    std::vector<char> folder(MAX_PATH);
    UINT length = GetSystemDirectoryA(folder.data(), static_cast<UINT>(folder.size()));
    if (length >= folder.size()) {
        // Too small: the answer is the size needed, terminating zero included.
        folder.resize(length + 1);
        length = GetSystemDirectoryA(folder.data(), static_cast<UINT>(folder.size()));
    }
    if (length == 0 || length >= folder.size()) {
        return Text();
    }
    return Text(folder.data(), length) + "\\" + fileName;
}

} // namespace vmsi
