// vmsi-run --msi: one entry point of the Windows Installer library, tried
// without a package of one's own. The entry is called as an immediate custom
// action, with the handle of a session on a throwaway package in the
// temporary folder, after the given properties are set in that session.
#pragma once

#include "export_table.h"
#include "text.h"

#include <optional>
#include <string>
#include <vector>

namespace vmsi::runner {

// What an entry of the Windows Installer library reads: each is named after
// the action it runs, Vmsi and the export's name without VMSI_, and reads
// <ENTRY>_<ARGUMENT> for each of the action's arguments, <ENTRY>_FAILONZERO,
// and, where it waits for a program it starts, <ENTRY>_FAILONEXITCODE.
struct EntryReads {
    const ExportDescription* action;
    std::vector<Text> properties; // in that order
};

// None for a name that is no entry of an action (VmsiSetCustomActionData
// reads the properties its request names).
std::optional<EntryReads> entryReads(const Text& entryName);

// Sets the properties as given, in UTF-16 as a package sets them, after a
// warning on standard error for each that the entry does not read. Prints
// the entry's log lines on standard error as they come, then on
// standard output the result properties that are set afterwards
// (<ENTRY>_RESULT, the text results, the exit code of a program it waited
// for) and the code the entry returned.
// The exit status: 0 when it returned ERROR_SUCCESS, 1 when it returned any
// other code, exitUsage when the assignments are not NAME=VALUE, the library
// cannot be loaded or has no such entry, or no session can be made.
int tryEntry(const Text& dllPath, const Text& entryName,
             const std::vector<std::wstring>& assignments);

} // namespace vmsi::runner
