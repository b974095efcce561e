// The test programs are built twice from the same sources, 64-bit and
// 32-bit, and both run in the project's 64-bit prefix, where a 32-bit
// program runs under WoW64. WoW64 shows a 32-bit program another machine in
// a few places; there the tests name the answer each build must get.
#pragma once

#include "paths.h"
#include "text.h"

#include <windows.h>

namespace vmsi::test {

#ifdef _WIN64
inline constexpr bool underWow64 = false;
#else
inline constexpr bool underWow64 = true;
#endif

// The view of HKLM\Software that this program, and the library it tests,
// read and write: a 32-bit program's is Software\Wow6432Node of the 64-bit
// view, where a 32-bit installer registered what the library looks for.
inline constexpr REGSAM ownRegistryView = underWow64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
inline constexpr REGSAM otherRegistryView = underWow64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

// Where a key of this program's HKLM\Software lies seen from the 64-bit view.
inline Text machineKeyIn64BitView(const Text& softwareKeyPath) {
    const Text software = "Software\\";
    return underWow64 ? software + "Wow6432Node\\" + softwareKeyPath.substr(software.size())
                      : softwareKeyPath;
}

// The folder of a program started by its path in the system folder. Both
// builds are told system32 by GetSystemDirectoryA, but file system
// redirection starts a 32-bit program's child from syswow64: the 32-bit
// tool, which loads 32-bit components.
inline Text startedSystemProgramFolder() {
    char folder[MAX_PATH];
    if (underWow64) {
        const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
        return Text(folder, length) + "\\syswow64";
    }
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    return Text(folder, length);
}

// The prefix's Program Files folder (ProgramFilesDir), as this build reads it.
inline const char* const programFilesFolder =
    underWow64 ? "C:\\Program Files (x86)" : "C:\\Program Files";

// A stand-in for Windows: IsWow64Process as 64-bit Windows answers it for
// the shipped 32-bit library, which no 64-bit program under Wine can ask.
inline BOOL WINAPI wow64Process(HANDLE, PBOOL answer) {
    *answer = TRUE;
    return TRUE;
}

// The IsWow64Process to give the library to see 64-bit Windows as the
// shipped library sees it: the real one where this build runs under WoW64,
// else the stand-in.
inline Wow64Query wow64Answer() {
    return underWow64 ? &IsWow64Process : &wow64Process;
}

} // namespace vmsi::test
