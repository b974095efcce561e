// Opening a file through the shell, and starting a program and waiting for
// it. launchAndWait is also what the catalogue conversion relies on.
#pragma once

#include "text.h"

#include <windows.h>

#include <optional>

namespace vmsi {

// How the action asks the shell to open the path: ShellExecuteA. Tests give
// the real call behind a wrapper that notes the thread's COM apartment
// during it, which nothing else can observe.
using ShellOpen = decltype(&ShellExecuteA);

int launchThroughShell(HWND owner, const Text& folder, const Text& fileName, const Text& parameters,
                       ShellOpen shellOpen = ShellExecuteA);

// A caller inside the library that has found a text it cannot pass to the
// program whole asks for RefuseAsMissing: the launch reports as ever, then
// "That file doesn't exist", and starts nothing.
enum class LaunchRequest { Start, RefuseAsMissing };

// The exit code of a program that was started and has ended; empty when none
// was started. The exports' result never depends on it; the Windows
// Installer entry points hand it to the package.
using ExitCode = std::optional<DWORD>;

int launchAndWait(HWND owner, const Text& folder, const Text& fileName, const Text& parameters,
                  LaunchRequest request = LaunchRequest::Start, ExitCode* exitCode = nullptr);

} // namespace vmsi
