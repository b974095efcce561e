#include "processes.h"

#include "command_lines.h"

#include <vector>

namespace vmsi {

std::optional<ProcessInformation> startProcess(const Text& programPath, const Text& commandLine,
                                               int showCommand) {
    if (programPath.empty() || commandLine.size() >= commandLineLimit) {
        return std::nullopt;
    }
    // CreateProcessA may write into its command line.
    std::vector<char> commandLineBuffer(commandLine.begin(), commandLine.end());
    commandLineBuffer.push_back('\0');

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (showCommand != showAsTheProgramChooses) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(showCommand);
    }
    PROCESS_INFORMATION created = {};
    if (!CreateProcessA(programPath.c_str(), commandLineBuffer.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &created)) {
        return std::nullopt;
    }
    return ProcessInformation(created);
}

} // namespace vmsi
