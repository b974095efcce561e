#include "paths.h"

#include "path_normaliser.h"

#include <windows.h>

namespace vmsi {

bool isAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

Text normalisePath(Text path) {
    return normalisePath(std::move(path), isAnsiLeadByte);
}

Text joinPath(const Text& folder, const Text& name) {
    return normalisePath(folder + "\\" + name);
}

bool pathExists(const Text& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace vmsi
