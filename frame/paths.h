// Paths as the actions build and test them.
#pragma once

#include "text.h"

#include <windows.h>

#include <cstddef>
#include <string>

namespace vmsi {

// No path or name that the platform takes is as long as 32,767 characters,
// its terminating zero included. A longer text names nothing and is never
// handed to the platform: Wine 8 wraps the length of such a text and answers
// for a shorter path, which may well exist.
constexpr std::size_t platformPathLimit = 32767;

inline bool fitsPlatform(const Text& pathOrName) {
    return pathOrName.size() < platformPathLimit;
}

// The text in UTF-16, read in the system ANSI code page as the platform's
// 8-bit functions read it: for the calls that only have a wide form.
std::wstring widened(const Text& text);

// The path's attributes, or INVALID_FILE_ATTRIBUTES when it names nothing.
DWORD pathAttributes(const Text& path);

// Whether the byte begins a double-byte character of the system ANSI code
// page.
bool isAnsiLeadByte(unsigned char byte);

// The path normaliser with the lead-byte test of the system ANSI code page.
Text normalisePath(Text path);

// Folder, one backslash, name, through the normaliser: a folder given with or
// without a trailing backslash yields one backslash before the name.
Text joinPath(const Text& folder, const Text& name);

// A path exists when the platform can read its attributes; a folder passes as
// well as a file, and nothing is said about whether it can be read or run.
bool pathExists(const Text& path);

// The full path of a file in the system folder (GetSystemDirectoryA; a 32-bit
// process on 64-bit Windows is redirected to the 32-bit system folder). System
// programs and libraries are named by it, never found through the search
// order, which looks in the installer's folder and the current folder first
// and so would run a planted copy. Empty when the platform names no folder.
Text systemFilePath(const Text& fileName);

} // namespace vmsi
