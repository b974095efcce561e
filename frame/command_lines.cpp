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

} // namespace vmsi
