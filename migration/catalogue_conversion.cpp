#include "catalogue_conversion.h"

#include "VardoMSICustomActions.h"
#include "command_lines.h"
#include "launch.h"
#include "paths.h"

namespace vmsi {

int convertCatalogue(HWND owner, const Text& toolFolder, const Text& oldCatalogue,
                     const Text& newFolder, const Text& newFileName, ExitCode* exitCode,
                     WaitPolicy* waitPolicy) {
    const Text parameters =
        catalogueConversionParameters(oldCatalogue, newFolder, newFileName, isAnsiLeadByte);
    // A double quote names no file, and inside the command line it would end
    // a path early and let the rest of the text become switches of the tool.
    bool holdsQuote = false;
    for (const Text* text : {&toolFolder, &oldCatalogue, &newFolder, &newFileName}) {
        holdsQuote = holdsQuote || text->find('"') != Text::npos;
    }
    // The same path as the VMSI_LaunchWait export: finding, starting, waiting
    // and reporting are all its work.
    return launchAndWait(owner, toolFolder, "DbMigrate.exe", parameters,
                         holdsQuote ? LaunchRequest::RefuseAsMissing : LaunchRequest::Start,
                         exitCode, waitPolicy) != 0
               ? 1
               : 0;
}

} // namespace vmsi

// VMSI_LaunchDbMigrate: runs DbMigrate.exe on the old catalogue; 1 when it ran.
extern "C" int __stdcall VMSI_LaunchDbMigrate(HWND owner, const char* toolFolder,
                                              const char* oldCatalogue, const char* newFolder,
                                              const char* newFileName) {
    return vmsi::convertCatalogue(
        owner, vmsi::textFromArgument(toolFolder), vmsi::textFromArgument(oldCatalogue),
        vmsi::textFromArgument(newFolder), vmsi::textFromArgument(newFileName));
}
