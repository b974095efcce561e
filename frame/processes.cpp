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

void endProgram(HANDLE process) {
    // Termination is asynchronous: the handle is signalled once the process
    // has gone. It fails when the program has just ended by itself.
    constexpr UINT endedByTheAction = 1;
    constexpr DWORD goneWithin = 5000;
    if (TerminateProcess(process, endedByTheAction)) {
        WaitForSingleObject(process, goneWithin);
    }
}

} // namespace vmsi
