// What the action runner's two ways of running share: its usage errors, and
// how it finds and loads the library it runs.
#pragma once

#include "handles.h"
#include "text.h"

#include <string>
#include <vector>

namespace vmsi::runner {

// The exit status of a usage error, and of a library that cannot be run.
constexpr int exitUsage = 2;

// Prints "vmsi-run: <message>" as one line on standard error; exitUsage.
int usageError(const Text& message);

// The path of a file of that name in this program's folder.
Text besideThisProgram(const Text& fileName);

// The library at the path, loaded; or none, after a usage error that says
// why and what to do about it.
LoadedModule loadLibraryToRun(const Text& path);

// The library at the path mapped for reading alone, its code never run, so
// that one of the other bitness can be read too; or none, after a usage
// error.
LoadedModule mapLibraryToRead(const Text& path);

// The names in the export directory of a library that mapLibraryToRead
// mapped, in its order (by name).
std::vector<Text> exportedNames(HMODULE mapped);

// A word of the command line in the system ANSI code page, converted as the
// system converts a program's command line for its 8-bit form.
Text ansiWord(const std::wstring& word);

} // namespace vmsi::runner
