// Paths as the actions build and test them.
#pragma once

#include "text.h"

#include <windows.h>

#include <cstddef>
#include <optional>
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

// Whether two texts are the same without regard to case, compared in UTF-16
// as the file system and the environment compare names.
bool equalIgnoringCase(const Text& one, const Text& other);

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

// How the library asks whether a process runs under WoW64: IsWow64Process.
// No 64-bit program under Wine ever does, so tests give a stand-in that
// answers as 64-bit Windows answers the shipped 32-bit library.
using Wow64Query = BOOL(WINAPI*)(HANDLE process, PBOOL underWow64);

// Whether this is a 32-bit process on 64-bit Windows (WoW64): there the
// system folder it names is redirected to the 32-bit one, SysWOW64, and
// %ProgramFiles% names Program Files (x86). False when the platform cannot
// say.
bool runsUnderWow64(Wow64Query isWow64Process = IsWow64Process);

// The path by which a 32-bit process under WoW64 reaches what a 64-bit
// program finds at a path in or below the system folder: the system folder
// (in any case) replaced by "<Windows>\Sysnative", the alias that WoW64
// gives 32-bit processes for the real system folder (Windows Vista and
// later; 64-bit processes have no such folder). Empty for a path outside
// the system folder.
std::optional<Text> throughSysnative(const Text& path);

} // namespace vmsi
