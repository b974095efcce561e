// Windows Installer packages for the entry point tests: a WiX source written
// by the test, built with wixl on the Unix side, installed with the prefix's
// own msiexec, and its verbose log read back.
//
// Composed packages register nothing (the product registration actions are
// conditioned out), so the same package may be installed again and again.
#pragma once

#include "scratch.h"

#include <msi.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vmsi::test {

using PropertyValues = std::vector<std::pair<Text, Text>>;

// One custom action of a package: its Id and the entry it runs.
struct PackageCall {
    Text id;
    Text entry;
};

struct InstallOutcome {
    DWORD exitCode = ~DWORD(0);
    Text log;

    // The property's value at the end of the installation, from the log's
    // closing list; "<unset>" when the list lacks it.
    Text property(const Text& name) const;
    // <ENTRY>_RESULT, or another property, as it was just after the call.
    Text resultAfter(const PackageCall& call, const Text& suffix = "RESULT") const;
    // The log lines the call's entry wrote, without the "<entry>: " in front;
    // a text that holds a line break is one item.
    std::vector<Text> linesOf(const PackageCall& call) const;
};

// What a package is built for: wixl's architecture, the folder that holds
// the entry points' DLL of that architecture (wixl runs there), and the one
// that holds VardoMSICustomActions.wxi.
struct PackageTarget {
    Text architecture; // "x64" or "x86"
    Text libraryFolder;
    Text includeFolder;
};

// A composed package defines its own custom actions, or takes those of the
// shipped include file.
enum class PackageActions { Own, FromInclude };

class TestPackage {
public:
    // The 64-bit entry points beside the test program, unless told otherwise.
    explicit TestPackage(const Text& name, std::optional<PackageTarget> target = std::nullopt,
                         PackageActions actions = PackageActions::Own);

    // Sets the properties (taken literally, never as formatted text), runs
    // the entry as an immediate action and keeps <ENTRY>_RESULT, and
    // <ENTRY>_<textSuffix> when given, for resultAfter. From the include,
    // the action is the entry's immediate form, which runs once at most.
    PackageCall immediate(const Text& entry, const PropertyValues& properties,
                          const Text& textSuffix = "");
    // Runs the entry as a deferred action whose CustomActionData a type-51
    // action sets from this formatted text, as packages do, or, given none,
    // whose data the package sets some other way.
    PackageCall deferred(const Text& entry, const std::optional<Text>& customActionData);
    // From the include: sets the private properties (literally) and runs the
    // entry's deferred form (<entry><form>), after its request and its data
    // action.
    PackageCall includedDeferred(const Text& entry, const PropertyValues& properties,
                                 const Text& form = "Deferred");

    // Builds the composed package, or a complete source in the package's
    // folder, where the files it names beside it are put; its path, or the
    // empty text after a failure (which the test is told of).
    Text build();
    Text build(const Text& source);

    // Builds the composed package and installs it silently with a verbose
    // log; the command line may add PROPERTY=value pairs, in the ANSI code
    // page or, for characters outside it, as wide text.
    InstallOutcome install(const Text& commandLineProperties = "");
    InstallOutcome install(const std::wstring& commandLineProperties);
    // The same for a complete source, built in the package's folder, where
    // the files it names beside it are put.
    InstallOutcome installSource(const Text& source, const Text& commandLineProperties = "");
    InstallOutcome installSource(const Text& source, const std::wstring& commandLineProperties);
    // Builds the composed package and installs it in this process, as
    // msiexec /qn /l*v would, with every message of the kinds in the filter
    // (INSTALLLOGMODE_...) shown to the handler first ("external UI"), which
    // may answer it: the installer's return code.
    InstallOutcome installAnswering(INSTALLUI_HANDLERA handler, void* context, DWORD filter);
    // Removes the package last installed; msiexec's exit code.
    DWORD uninstall();

    const ScratchFolder& folder() const { return folder_; }

private:
    void setProperty(const Text& name, const Text& formattedValue, int& sequence);
    void schedule(const Text& id, int& sequence);
    Text composedSource() const;

    Text name_;
    PackageTarget target_;
    PackageActions actionSource_;
    ScratchFolder folder_;
    Text actions_;
    Text sequence_;
    int immediateSequence_ = 1001; // after CostFinalize, before InstallValidate
    int deferredSequence_ = 4001;  // between InstallFiles and InstallFinalize
    int actionCount_ = 0;
};

// A session of a built package opened in this process, as the installer
// opens one for its immediate custom actions, with no user interface: a test
// calls an entry with it directly. The package's sequences do not run.
class OpenedPackage {
public:
    explicit OpenedPackage(const Text& packagePath);
    ~OpenedPackage();
    OpenedPackage(const OpenedPackage&) = delete;
    OpenedPackage& operator=(const OpenedPackage&) = delete;

    MSIHANDLE session() const { return session_; }
    void setProperty(const Text& name, const Text& value) const;
    Text property(const Text& name) const;

private:
    MSIHANDLE session_ = 0;
};

} // namespace vmsi::test
