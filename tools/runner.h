// What the action runner's two ways of running share: its usage errors, and
// how it finds and loads the library it runs.
#pragma once

#include "handles.h"
#include "text.h"

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

} // namespace vmsi::runner
