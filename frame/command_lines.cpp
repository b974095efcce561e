#include "command_lines.h"

namespace vmsi {

std::string launchCommandLine(const std::string& programPath, const std::string& parameters) {
    const bool needsQuotes = programPath.find_first_of(" \t") != std::string::npos;
    std::string commandLine;
    commandLine.reserve(programPath.size() + parameters.size() + 3);
    if (needsQuotes) {
        commandLine += '"';
    }
    commandLine += programPath;
    if (needsQuotes) {
        commandLine += '"';
    }
    commandLine += ' ';
    commandLine += parameters;
    return commandLine;
}

std::string registrationCommandLine(const std::string& options, const std::string& componentPath) {
    std::string commandLine = "regsvr32 ";
    commandLine.reserve(commandLine.size() + options.size() + componentPath.size() + 3);
    commandLine += options;
    commandLine += " \"";
    commandLine += componentPath;
    commandLine += '"';
    return commandLine;
}

std::string catalogueConversionParameters(const std::string& oldCatalogue,
                                          const std::string& newFolder,
                                          const std::string& newFileName, LeadByteTest isLeadByte) {
    const std::string quotedOld = '"' + oldCatalogue + '"';
    const std::string quotedNew =
        normalisePath('"' + newFolder + '\\' + newFileName + '"', isLeadByte);
    return " -i -o " + quotedOld + " -n " + quotedNew;
}

} // namespace vmsi
