// Registering a component with the system's registration tool, and telling
// whether a program is registered under App Paths.
#pragma once

#include "launch.h"
#include "paths.h"
#include "text.h"

#include <windows.h>

namespace vmsi {

// How the action waits for the started tool: WaitForInputIdle. Under Wine 8
// it answers at once, so tests give a stand-in that answers as Windows does.
using InputIdleWait = DWORD(WINAPI*)(HANDLE process, DWORD milliseconds);

// The wait policy, when one is given, is asked while the tool is awaited and
// may end it: the action then gives 0 (launch.h).
int registerComponent(HWND owner, const Text& options, const Text& folder, const Text& fileName,
                      InputIdleWait waitForInputIdle = WaitForInputIdle,
                      WaitPolicy* waitPolicy = nullptr,
                      Wow64Query isWow64Process = IsWow64Process);

int checkIfAppInstalled(HWND owner, const Text& programName,
                        Wow64Query isWow64Process = IsWow64Process);

} // namespace vmsi
