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

// The longest an action that waits for a program it started goes without
// asking its wait policy: the installer expects a custom action to answer
// a cancel within about half a second.
constexpr DWORD waitPolicyInterval = 250;

// What a caller asks while an action waits for the program it started. The
// Windows Installer entries ask the installer whether the user has
// cancelled, and end a program that runs longer than the package allows;
// the exports give none and wait as long as the program runs.
class WaitPolicy {
public:
    virtual ~WaitPolicy() = default;
    // Asked at least every waitPolicyInterval milliseconds while the program
    // runs; true ends it, and the action gives 0.
    virtual bool endsTheProgram() { return false; }
};

// Without a wait policy, waits as long as the program runs. With one, a
// program that the policy ends gives 0 and no exit code.
int launchAndWait(HWND owner, const Text& folder, const Text& fileName, const Text& parameters,
                  LaunchRequest request = LaunchRequest::Start, ExitCode* exitCode = nullptr,
                  WaitPolicy* waitPolicy = nullptr);

} // namespace vmsi
