// Whether a file, found along the platform's search order or in a given
// folder, carries at least a given file version.
#pragma once

#include "text.h"

#include <windows.h>

#include <optional>

namespace vmsi {

int checkVersionOfFile(HWND owner, const Text& folder, const Text& fileName, int first, int second,
                       int third, int fourth);

// SearchPathA's shape. The search is given it so that a test can stand in for
// an answer that Wine never gives: a found path longer than MAX_PATH.
using SearchPathFunction = DWORD(WINAPI*)(LPCSTR folders, LPCSTR name, LPCSTR extension,
                                          DWORD bufferLength, LPSTR buffer, LPSTR* filePart);

// The full path of the file the platform's search finds for the name (a full
// path is only tested at its place), or nothing.
std::optional<Text> findFile(const Text& searchName, SearchPathFunction searchPath = SearchPathA);

// Whether the file's fixed file version is at least first.second.third.fourth,
// compared as two 32-bit words; false without readable version information.
bool hasMinimumVersion(const Text& foundPath, int first, int second, int third, int fourth);

} // namespace vmsi
