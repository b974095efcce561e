#include "runner.h"

#include "module_identity.h"

#include <cstdio>
#include <string>

namespace vmsi::runner {

int usageError(const Text& message) {
    std::fprintf(stderr, "vmsi-run: %s\n", message.c_str());
    return exitUsage;
}

Text besideThisProgram(const Text& fileName) {
    const Text program = readModuleIdentity(nullptr).path;
    return program.substr(0, program.find_last_of('\\') + 1) + fileName;
}

LoadedModule loadLibraryToRun(const Text& path) {
    LoadedModule library(LoadLibraryA(path.c_str()));
    if (library) {
        return library;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_BAD_EXE_FORMAT) {
        // The loader's only word for a library of the other bitness; the
        // dist folder of each build holds its own runner.
        const Text bits = sizeof(void*) == 8 ? "64" : "32";
        const Text other = sizeof(void*) == 8 ? "32" : "64";
        usageError("cannot load " + path + " (error 193): it is not a " + bits +
                   "-bit library, which this " + bits + "-bit vmsi-run needs; run a " + other +
                   "-bit library with the " + other + "-bit vmsi-run (dist/win" + other + ")");
    } else {
        usageError("cannot load " + path + " (error " + std::to_string(error) +
                   "); name the library with --dll PATH");
    }
    return library;
}

} // namespace vmsi::runner
