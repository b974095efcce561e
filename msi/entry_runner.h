// What every Windows Installer entry point does around its action: reads the
// action's arguments from properties (immediate) or from CustomActionData
// (deferred), sends the action's reports to the install log, sets the result
// properties and tells the installer whether to go on.
#pragma once

#include "entry_table.h"
#include "launch.h"
#include "result_buffer.h"
#include "text.h"

#include <windows.h>

#include <msi.h>

#include <vector>

namespace vmsi::msi {

// The arguments of one call, in the order of the action's export.
class Arguments {
public:
    Arguments(std::vector<Text> texts, std::vector<int> integers)
        : texts_(std::move(texts)), integers_(std::move(integers)) {}

    const Text& text(std::size_t index) const { return texts_.at(index); }
    int integer(std::size_t index) const { return integers_.at(index); }

private:
    std::vector<Text> texts_;
    std::vector<int> integers_; // the value of each integer argument, 0 for texts
};

// What an action hands back besides its result.
struct ActionOutput {
    char text[resultBufferSize] = {}; // buffer actions: the result buffer
    ExitCode exitCode;                // actions that start a program and wait for it
};

// Runs the action with null as its owner window. An action that waits for a
// program it started gives it the wait policy: it asks the installer about a
// cancel, and ends the program at the package's time-out.
using ActionCall = int (*)(const Arguments& arguments, ActionOutput& output, WaitPolicy& wait);

// ERROR_SUCCESS; ERROR_INSTALL_FAILURE when the action gave 0, or the
// program it waited for a non-zero exit code, and the package asked for that
// to fail the installation, and when the program outlived the package's
// time-out and was ended; ERROR_INSTALL_USEREXIT when the installer answered
// a message of the entry with IDCANCEL. A cancel that comes before the
// action starts keeps it from running; a program the action waits for is
// ended; any other action under way finishes.
UINT runEntry(MSIHANDLE session, const EntryDescription& entry, ActionCall call) noexcept;

// The immediate entry that builds a deferred action's CustomActionData. The
// private property VmsiSetCustomActionData_Request names the deferred action
// (the property to set), then the properties whose values are its fields,
// in order, separated by semicolons; the data is joined so that it splits
// back into exactly those values. ERROR_INSTALL_FAILURE, with the deferred
// action's data removed, when a value cannot be read exactly or no action is
// named; ERROR_INSTALL_USEREXIT when the installer answered a message of the
// entry with IDCANCEL.
UINT setCustomActionData(MSIHANDLE session) noexcept;

} // namespace vmsi::msi
