#include "registration.h"

#include "VardoMSICustomActions.h"
#include "command_lines.h"
#include "diagnostics.h"
#include "grown_text.h"
#include "handles.h"
#include "paths.h"
#include "processes.h"
#include "registry.h"

#include <cstring>

namespace vmsi {

namespace {

constexpr const char* appPathsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";

// The time WinExec gives a started program to become idle for input.
constexpr DWORD inputIdleTimeout = 30000;

// The text with its environment references expanded, or the empty text when
// the platform cannot expand it.
Text expandedReferences(const Text& text) {
    // The answer is the size needed, terminating zero included, whether or
    // not it fitted; the 8-bit call may name more than it writes.
    return grownText<char>([&text](char* into, std::size_t size) {
        const DWORD needed =
            ExpandEnvironmentStringsA(text.c_str(), into, static_cast<DWORD>(size));
        if (needed == 0) {
            return BufferAnswer::failed();
        }
        return needed <= size ? BufferAnswer::written(strnlen(into, size))
                              : BufferAnswer::tooSmall(needed);
    });
}

// As WinExec does: until the tool first waits for input, ends, or 30 seconds
// have passed; with a policy, in slices, asking it between them. True unless
// the policy asked to end the tool, and it was ended.
bool waitUntilIdle(HANDLE tool, InputIdleWait waitForInputIdle, WaitPolicy* policy) {
    if (policy == nullptr) {
        waitForInputIdle(tool, inputIdleTimeout);
        return true;
    }
    for (DWORD waited = 0; waited < inputIdleTimeout; waited += waitPolicyInterval) {
        if (waitForInputIdle(tool, waitPolicyInterval) != WAIT_TIMEOUT) {
            return true;
        }
        if (policy->endsTheProgram()) {
            endProgram(tool);
            return false;
        }
    }
    return true;
}

// A path that lies wholly inside one pair of double quotes, without them;
// any other text as it is.
Text withoutEnclosingQuotes(const Text& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"' &&
        text.find('"', 1) == text.size() - 1) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

// The text with every reference to %ProgramFiles% and %CommonProgramFiles%
// (in any case) made one to %ProgramW6432% and %CommonProgramW6432%, which
// name the 64-bit folders in a 32-bit process too. Each pair of percent
// signs, read from the left, encloses one name.
Text withNativeProgramFolders(const Text& text) {
    Text result;
    std::size_t done = 0;
    for (;;) {
        const std::size_t open = text.find('%', done);
        const std::size_t close = open == Text::npos ? Text::npos : text.find('%', open + 1);
        if (close == Text::npos) {
            return result + text.substr(done);
        }
        const Text name = text.substr(open + 1, close - open - 1);
        result += text.substr(done, open - done);
        if (equalIgnoringCase(name, "ProgramFiles")) {
            result += "%ProgramW6432%";
        } else if (equalIgnoringCase(name, "CommonProgramFiles")) {
            result += "%CommonProgramW6432%";
        } else {
            result += text.substr(open, close - open + 1);
        }
        done = close + 1;
    }
}

} // namespace

int registerComponent(HWND owner, const Text& options, const Text& folder, const Text& fileName,
                      InputIdleWait waitForInputIdle, WaitPolicy* waitPolicy,
                      Wow64Query isWow64Process) {
    const Text componentPath = joinPath(folder, fileName);
    const Text commandLine = registrationCommandLine(options, componentPath);
    reportInformation(owner, "Commandline to Register: " + commandLine);
    // Anything but the tool's own switches could name a second component,
    // whose registration code the tool would run with the installer's rights.
    if (!areRegistrationSwitches(options, isAnsiLeadByte)) {
        reportWarning(owner, "Options must be regsvr32 switches: " + options);
        return 0;
    }
    // The tool is named by its full path in the system folder: found by the
    // program search, a regsvr32.exe planted in the installer's folder or the
    // current folder would run with the installer's rights. The command line
    // still names it "regsvr32", as the tool expects to see itself.
    Text toolPath = systemFilePath("regsvr32.exe");
    Text testedPath = componentPath;
    // Under WoW64 a component in the system folder would be looked for in
    // the 32-bit one: reported missing, or a 32-bit namesake registered. It
    // is tested through Sysnative and registered by the tool that lives
    // there, the 64-bit one, which finds it where the command line names it.
    if (runsUnderWow64(isWow64Process)) {
        if (const std::optional<Text> native = throughSysnative(componentPath)) {
            testedPath = *native;
            toolPath = throughSysnative(toolPath).value_or(toolPath);
        }
    }
    if (!pathExists(testedPath)) {
        reportWarning(owner, "That file doesn't exist");
        return 0;
    }
    std::optional<ProcessInformation> tool = startProcess(toolPath, commandLine, SW_SHOW);
    if (!tool) {
        reportWarning(owner, "CreateProcess failed.");
        return 0;
    }
    // A silent regsvr32 never waits for input, so it has done its work by
    // the time the package goes on to use the component. What the wait and
    // the tool give is not examined.
    return waitUntilIdle(tool->process.get(), waitForInputIdle, waitPolicy) ? 1 : 0;
}

int checkIfAppInstalled(HWND owner, const Text& programName, Wow64Query isWow64Process) {
    reportInformation(owner, "Searching in AppPaths for: " + programName);

    RegistryKey appPaths;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, appPathsKey, 0, registryReadAccess, appPaths.receive()) !=
        ERROR_SUCCESS) {
        return 0;
    }
    // An empty name opens the App Paths key itself once more.
    RegistryKey entry;
    if (!fitsPlatform(programName) ||
        RegOpenKeyExA(appPaths.get(), programName.c_str(), 0, registryReadAccess,
                      entry.receive()) != ERROR_SUCCESS) {
        return 0;
    }
    // Read into MAX_PATH bytes: longer data fails the read like a missing
    // value.
    const std::optional<RegistryText> value = readRegistryText(entry.get(), "", MAX_PATH);
    if (!value) {
        return 0;
    }
    // Entries name their program as a command would: Windows' own often
    // through %ProgramFiles% (REG_EXPAND_SZ), some in double quotes. Any
    // other type is taken as it stands.
    const bool expandable = value->type == REG_EXPAND_SZ;
    const auto programPathOf = [expandable](const Text& data) {
        return withoutEnclosingQuotes(expandable ? expandedReferences(data) : data);
    };
    bool located = pathExists(programPathOf(value->text));
    // Under WoW64, %ProgramFiles% names Program Files (x86), where a 64-bit
    // program that registered itself through it does not lie: its entry is
    // tried once more with the variables that name the 64-bit folders.
    if (!located && expandable && runsUnderWow64(isWow64Process)) {
        const Text native = withNativeProgramFolders(value->text);
        located = native != value->text && pathExists(programPathOf(native));
    }

    if (!located) {
        reportWarning(owner, "Program not located");
        return 0;
    }
    reportInformation(owner, "Program located");
    return 1;
}

} // namespace vmsi

// VMSI_Register: starts regsvr32 on the component; 1 when it started.
extern "C" int __stdcall VMSI_Register(HWND owner, const char* options, const char* folder,
                                       const char* fileName) {
    return vmsi::registerComponent(owner, vmsi::textFromArgument(options),
                                   vmsi::textFromArgument(folder),
                                   vmsi::textFromArgument(fileName));
}

// VMSI_CheckIfAppInstalled: whether the program's App Paths entry exists; 1 or 0.
extern "C" int __stdcall VMSI_CheckIfAppInstalled(HWND owner, const char* programName) {
    return vmsi::checkIfAppInstalled(owner, vmsi::textFromArgument(programName));
}
