#include "launch.h"

#include "VardoMSICustomActions.h"
#include "command_lines.h"
#include "diagnostics.h"
#include "handles.h"
#include "paths.h"
#include "processes.h"

#include <objbase.h>

namespace vmsi {

namespace {

// COM on the calling thread for the life of the object: the single-threaded
// apartment, without OLE1 DDE, as the shell's documentation asks of a
// ShellExecute caller (some of its extensions need COM). A thread already in
// an apartment stays in it: one of the same kind counts one more
// initialisation (S_FALSE), undone here as well; one in the multi-threaded
// apartment is refused (RPC_E_CHANGED_MODE) and left as it was.
class ComForTheShell {
public:
    ComForTheShell()
        : initialised_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComForTheShell() {
        if (initialised_) {
            CoUninitialize();
        }
    }
    ComForTheShell(const ComForTheShell&) = delete;
    ComForTheShell& operator=(const ComForTheShell&) = delete;

private:
    bool initialised_;
};

// The steps both launch actions begin with: join and normalise the path,
// report it and the parameters, test that it exists. Yields the path, or
// the empty text when nothing is to be started.
Text locateLaunchTarget(HWND owner, const Text& folder, const Text& fileName,
                        const Text& parameters, LaunchRequest request = LaunchRequest::Start) {
    Text path = joinPath(folder, fileName);
    reportInformation(owner, "File to Launch: " + path);
    reportInformation(owner, "Launch Params: " + parameters);
    if (request == LaunchRequest::RefuseAsMissing || !pathExists(path)) {
        reportWarning(owner, "That file doesn't exist");
        return Text();
    }
    return path;
}

// Waits until the program has ended by itself, or until the policy asks to
// end it: then ends it. True when it ended by itself.
bool waitForTheProgram(HANDLE process, WaitPolicy* policy) {
    if (policy == nullptr) {
        WaitForSingleObject(process, INFINITE);
        return true;
    }
    while (WaitForSingleObject(process, waitPolicyInterval) == WAIT_TIMEOUT) {
        if (policy->endsTheProgram()) {
            endProgram(process);
            return false;
        }
    }
    return true;
}

} // namespace

int launchThroughShell(HWND owner, const Text& folder, const Text& fileName, const Text& parameters,
                       ShellOpen shellOpen) {
    const Text path = locateLaunchTarget(owner, folder, fileName, parameters);
    if (path.empty()) {
        return 0;
    }
    // The folder goes to the shell as given: neither normalised nor tested.
    // What the shell answers is not examined.
    const ComForTheShell com;
    shellOpen(owner, "open", path.c_str(), parameters.c_str(), folder.c_str(), SW_SHOWNORMAL);
    return 1;
}

int launchAndWait(HWND owner, const Text& folder, const Text& fileName, const Text& parameters,
                  LaunchRequest request, ExitCode* exitCode, WaitPolicy* waitPolicy) {
    const Text path = locateLaunchTarget(owner, folder, fileName, parameters, request);
    if (path.empty()) {
        return 0;
    }

    // The path that was tested is the program started.
    std::optional<ProcessInformation> process =
        startProcess(path, launchCommandLine(path, parameters));
    if (!process) {
        reportWarning(owner, "CreateProcess failed.");
        return 0;
    }
    if (!waitForTheProgram(process->process.get(), waitPolicy)) {
        return 0;
    }
    DWORD code = 0;
    if (exitCode != nullptr && GetExitCodeProcess(process->process.get(), &code)) {
        *exitCode = code;
    }
    process->close();
    return 1;
}

} // namespace vmsi

// VMSI_Launch: opens the file through the shell; 1 when it exists.
extern "C" int __stdcall VMSI_Launch(HWND owner, const char* folder, const char* fileName,
                                     const char* parameters) {
    return vmsi::launchThroughShell(owner, vmsi::textFromArgument(folder),
                                    vmsi::textFromArgument(fileName),
                                    vmsi::textFromArgument(parameters));
}

// VMSI_LaunchWait: starts the program and waits for its end; 1 when it ran.
extern "C" int __stdcall VMSI_LaunchWait(HWND owner, const char* folder, const char* fileName,
                                         const char* parameters) {
    return vmsi::launchAndWait(owner, vmsi::textFromArgument(folder),
                               vmsi::textFromArgument(fileName),
                               vmsi::textFromArgument(parameters));
}
