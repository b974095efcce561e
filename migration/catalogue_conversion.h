// Starting the catalogue conversion tool on an earlier catalogue and waiting
// for it to end.
#pragma once

#include "launch.h"
#include "text.h"

#include <windows.h>

namespace vmsi {

// VMSI_LaunchDbMigrate's routine (docs/actions.md), through launchAndWait,
// which hands out the exit code and takes the wait policy.
int convertCatalogue(HWND owner, const Text& toolFolder, const Text& oldCatalogue,
                     const Text& newFolder, const Text& newFileName, ExitCode* exitCode = nullptr,
                     WaitPolicy* waitPolicy = nullptr);

} // namespace vmsi
