// Starting the catalogue conversion tool on an earlier catalogue and waiting
// for it to end.
#pragma once

#include "launch.h"
#include "text.h"

#include <windows.h>

namespace vmsi {

// Starts toolFolder\DbMigrate.exe with " -i -o "<old>" -n "<new>"" through
// the launch-and-wait action, which reports every step. A text that holds a
// double quote is reported as a missing tool and starts nothing. 1 when the
// tool was started and has ended, whatever its exit code; 0 otherwise. The
// exit code, when the tool ran, goes to exitCode when one is given; the wait
// policy, when one is given, may end the tool (launchAndWait).
int convertCatalogue(HWND owner, const Text& toolFolder, const Text& oldCatalogue,
                     const Text& newFolder, const Text& newFileName, ExitCode* exitCode = nullptr,
                     WaitPolicy* waitPolicy = nullptr);

} // namespace vmsi
