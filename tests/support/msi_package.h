// Windows Installer packages for the entry point tests: a WiX source written
// by the test, built with wixl on the Unix side, installed with the prefix's
// own msiexec, and its verbose log read back.
//
// The packages register nothing (the product registration actions are
// conditioned out), so the same package may be installed again and again.
#pragma once

#include "scratch.h"

#include <utility>
#include <vector>

namespace vmsi::test {

using PropertyValues = std::vector<std::pair<Text, Text>>;

// One custom action of a package, by its Id.
struct PackageCall {
    Text id;
    Text entry;
};

struct InstallOutcome {
    DWORD exitCode = 0;
    Text log;

    // The property's value at the end of the installation, from the log's
    // closing list; "<unset>" when the list lacks it.
    Text property(const Text& name) const;
    // A property as it was just after the call (see TestPackage::immediate).
    Text propertyAfter(const PackageCall& call, const Text& name) const;
    // The log lines the call's entry wrote, without the "<entry>: " in front;
    // a text that holds a line break is one item.
    std::vector<Text> linesOf(const PackageCall& call) const;
    bool started(const PackageCall& call) const;
};

class TestPackage {
public:
    explicit TestPackage(const Text& name);

    // Sets the properties (taken literally, never as formatted text), runs
    // the entry as an immediate action and copies each property of
    // `remembered` for propertyAfter.
    PackageCall immediate(const Text& entry, const PropertyValues& properties,
                          const std::vector<Text>& remembered = {});
    // Runs the entry as a deferred action whose CustomActionData a type-51
    // action sets from this formatted text, as packages do.
    PackageCall deferred(const Text& entry, const Text& customActionData);
    // A property of the package's Property table, taken literally.
    void property(const Text& name, const Text& value);

    // Builds the package and installs it silently with a verbose log; the
    // command line may add PROPERTY=value pairs.
    InstallOutcome install(const Text& commandLineProperties = "");

    const ScratchFolder& folder() const { return folder_; }

private:
    Text name_;
    ScratchFolder folder_;
    Text properties_;
    Text actions_;
    Text sequence_;
    int immediateSequence_ = 1001; // after CostFinalize, before InstallValidate
    int deferredSequence_ = 4001;  // between InstallInitialize and InstallFinalize
    int calls_ = 0;
    int settings_ = 0;
};

} // namespace vmsi::test
