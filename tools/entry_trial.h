// vmsi-run --msi: one entry point of the Windows Installer library, tried
// without a package of one's own. The entry is called as an immediate custom
// action, with the handle of a session on a throwaway package in the
// temporary folder, after the given properties are set in that session.
#pragma once

#include "text.h"

#include <vector>

namespace vmsi::runner {

// Prints the entry's log lines on standard error as they come, then on
// standard output the result properties that are set afterwards
// (<ENTRY>_RESULT, the text results, the exit code of a program it waited
// for) and the code the entry returned.
// The exit status: 0 when it returned ERROR_SUCCESS, 1 when it returned any
// other code, exitUsage when the assignments are not NAME=VALUE, the library
// cannot be loaded or has no such entry, or no session can be made.
int tryEntry(const Text& dllPath, const Text& entryName, const std::vector<Text>& assignments);

} // namespace vmsi::runner
