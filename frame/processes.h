// Starting programs: one place for process creation, shared by the launch
// and the registration.
#pragma once

#include "handles.h"
#include "text.h"

#include <optional>

namespace vmsi {

// No show-window request: the started program decides how it appears.
constexpr int showAsTheProgramChooses = -1;

// Starts exactly programPath (given as the application name, so the platform
// never searches for it or guesses among the pieces of an unquoted path)
// with the command line, in the caller's working folder and environment,
// inheriting no handles. A command line at or over the platform's limit is
// refused as process creation would refuse it. Empty when nothing started.
std::optional<ProcessInformation> startProcess(const Text& programPath, const Text& commandLine,
                                               int showCommand = showAsTheProgramChooses);

// Ends a program that startProcess started (the process alone, not what it
// started in turn) and waits, a few seconds at most, until it has gone.
void endProgram(HANDLE process);

} // namespace vmsi
