#include "msi_package.h"

#include "paths.h"
#include "unix_links.h"

#include <gtest/gtest.h>

#include <msi.h>
#include <msiquery.h>

namespace vmsi::test {

namespace {

// A run that stopped before its uninstall leaves its product installed, and
// a product of the same upgrade code keeps their shared files installed when
// the next one goes. Whatever an earlier run left is removed first.
void removeEarlierInstallations(const Text& source);

Text xmlEscaped(const Text& text) {
    Text escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// A value for a type-51 action, whose value is formatted text.
Text formattedLiteral(const Text& text) {
    Text literal;
    for (const char c : text) {
        const bool special = c == '[' || c == ']' || c == '{' || c == '}';
        literal += special ? Text("[\\") + c + "]" : Text(1, c);
    }
    return literal;
}

Text upperCase(Text text) {
    for (char& c : text) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<Text> lines(const Text& text) {
    std::vector<Text> result;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        result.push_back(text.substr(at, end - at));
        if (!result.back().empty() && result.back().back() == '\r') {
            result.back().pop_back();
        }
        at = end + 1;
    }
    return result;
}

bool startsWith(const Text& text, const Text& start) {
    return text.compare(0, start.size(), start) == 0;
}

DWORD runMsiexec(std::wstring commandLine) {
    wchar_t system[MAX_PATH];
    const std::wstring program =
        std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\msiexec.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &created)) {
        ADD_FAILURE() << "cannot start msiexec: error " << GetLastError();
        return ~DWORD(0);
    }
    DWORD exitCode = ~DWORD(0);
    WaitForSingleObject(created.hProcess, INFINITE);
    GetExitCodeProcess(created.hProcess, &exitCode);
    CloseHandle(created.hProcess);
    CloseHandle(created.hThread);
    return exitCode;
}

} // namespace

Text InstallOutcome::property(const Text& name) const {
    Text value = "<unset>";
    const Text start = "Property(S): " + name + " = ";
    for (const Text& line : lines(log)) {
        if (startsWith(line, start)) {
            value = line.substr(start.size());
        }
    }
    return value;
}

Text InstallOutcome::resultAfter(const PackageCall& call, const Text& suffix) const {
    return property(call.id + "_" + upperCase(call.entry) + "_" + suffix);
}

std::vector<Text> InstallOutcome::linesOf(const PackageCall& call) const {
    std::vector<Text> found;
    bool inside = false;
    const Text prefix = call.entry + ": ";
    for (const Text& line : lines(log)) {
        if (startsWith(line, "Action start ") || startsWith(line, "Action ended ")) {
            inside = startsWith(line, "Action start ") && line.size() > call.id.size() + 3 &&
                     line.compare(line.size() - call.id.size() - 3, Text::npos,
                                  ": " + call.id + ".") == 0;
        } else if (inside && startsWith(line, prefix)) {
            found.push_back(line.substr(prefix.size()));
        } else if (inside && !found.empty()) {
            found.back() += "\n" + line; // a text that holds a line break
        }
    }
    return found;
}

TestPackage::TestPackage(const Text& name, std::optional<PackageTarget> target,
                         PackageActions actions)
    : name_(name), target_(target.value_or(PackageTarget{"x64", thisProgramFolder(), ""})),
      actionSource_(actions), folder_("msi-" + name) {}

void TestPackage::setProperty(const Text& name, const Text& formattedValue, int& sequence) {
    const Text id = "Set" + std::to_string(++actionCount_);
    actions_ += "<CustomAction Id=\"" + id + "\" Property=\"" + name + "\" Value=\"" +
                xmlEscaped(formattedValue) + "\"/>\n";
    schedule(id, sequence);
}

void TestPackage::schedule(const Text& id, int& sequence) {
    sequence_ +=
        "<Custom Action=\"" + id + "\" Sequence=\"" + std::to_string(sequence++) + "\"/>\n";
}

PackageCall TestPackage::immediate(const Text& entry, const PropertyValues& properties,
                                   const Text& textSuffix) {
    const bool included = actionSource_ == PackageActions::FromInclude;
    const PackageCall call{included ? entry : "Call" + std::to_string(++actionCount_), entry};
    for (const auto& [name, value] : properties) {
        setProperty(name, formattedLiteral(value), immediateSequence_);
    }
    if (!included) {
        actions_ += "<CustomAction Id=\"" + call.id + "\" BinaryKey=\"Actions\" DllEntry=\"" +
                    entry + "\" Execute=\"immediate\" Return=\"check\"/>\n";
    }
    schedule(call.id, immediateSequence_);
    for (const Text& suffix : {Text("RESULT"), textSuffix}) {
        if (!suffix.empty()) {
            const Text name = upperCase(entry) + "_" + suffix;
            setProperty(call.id + "_" + name, "[" + name + "]", immediateSequence_);
        }
    }
    return call;
}

PackageCall TestPackage::deferred(const Text& entry, const std::optional<Text>& customActionData) {
    const PackageCall call{"Call" + std::to_string(++actionCount_), entry};
    if (customActionData) {
        setProperty(call.id, *customActionData, deferredSequence_);
    }
    actions_ += "<CustomAction Id=\"" + call.id + "\" BinaryKey=\"Actions\" DllEntry=\"" + entry +
                "\" Execute=\"deferred\" Impersonate=\"no\" Return=\"check\"/>\n";
    schedule(call.id, deferredSequence_);
    return call;
}

PackageCall TestPackage::includedDeferred(const Text& entry, const PropertyValues& properties,
                                          const Text& form) {
    const PackageCall call{entry + form, entry};
    for (const auto& [name, value] : properties) {
        setProperty(name, formattedLiteral(value), deferredSequence_);
    }
    for (const char* step : {".Request", ".Data", ""}) {
        schedule(call.id + step, deferredSequence_);
    }
    return call;
}

Text TestPackage::composedSource() const {
    const Text library =
        actionSource_ == PackageActions::FromInclude
            ? "<?include VardoMSICustomActions.wxi ?>\n"
            : "<Binary Id=\"Actions\" SourceFile=\"VardoMSICustomActionsMsi.dll\"/>\n";
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
           "<Product Id=\"*\" Name=\"Vmsi test " +
           name_ +
           "\" Language=\"1033\" Version=\"1.0.0\" "
           "Manufacturer=\"Vardo tests\" UpgradeCode=\"8d3f4b62-5d2e-4f0a-9a51-3c7e0e1b2a40\">\n"
           "<Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\"/>\n"
           "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\"/>\n"
           "<Feature Id=\"Main\" Level=\"1\"/>\n" +
           library + actions_ + "<InstallExecuteSequence>\n" + sequence_ +
           "<RegisterUser>0</RegisterUser><RegisterProduct>0</RegisterProduct>\n"
           "<PublishFeatures>0</PublishFeatures><PublishProduct>0</PublishProduct>\n"
           "</InstallExecuteSequence>\n</Product>\n</Wix>\n";
}

Text TestPackage::build() {
    return build(composedSource());
}

InstallOutcome TestPackage::install(const Text& commandLineProperties) {
    return install(widened(commandLineProperties));
}

InstallOutcome TestPackage::install(const std::wstring& commandLineProperties) {
    return installSource(composedSource(), commandLineProperties);
}

InstallOutcome TestPackage::installSource(const Text& source, const Text& commandLineProperties) {
    return installSource(source, widened(commandLineProperties));
}

Text TestPackage::build(const Text& source) {
    const Text sourcePath = folder_ / (name_ + ".wxs");
    const Text package = folder_ / (name_ + ".msi");
    const Text buildOutput = folder_ / "wixl.txt";
    writeFile(sourcePath, source);
    DeleteFileA(package.c_str());
    // wixl finds the files a source names beside the source or in the
    // folder it runs in, the one that holds the entry points' DLL, and an
    // include file there or in the folder given with -I. A build takes a
    // fraction of a second alone, and far longer on a loaded machine.
    const Text includes =
        target_.includeFolder.empty() ? "" : "-I '" + unixPathOf(target_.includeFolder) + "' ";
    runUnixShellCommand("cd '" + unixPathOf(target_.libraryFolder) + "' && wixl -a " +
                            target_.architecture + " " + includes + "-o '" + unixPathOf(package) +
                            "' '" + unixPathOf(sourcePath) + "' >'" + unixPathOf(buildOutput) +
                            "' 2>&1",
                        120000);
    if (GetFileAttributesA(package.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ADD_FAILURE() << "wixl built no package: " << readFile(buildOutput).value_or("");
        return Text();
    }
    return package;
}

InstallOutcome TestPackage::installSource(const Text& source,
                                          const std::wstring& commandLineProperties) {
    const Text log = folder_ / (name_ + ".log");
    InstallOutcome outcome;
    const Text package = build(source);
    if (package.empty()) {
        return outcome;
    }
    removeEarlierInstallations(source);
    DeleteFileA(log.c_str());
    outcome.exitCode =
        runMsiexec(widened("msiexec /i \"" + package + "\" /qn /l*v \"" + log + "\" ") +
                   commandLineProperties);
    outcome.log = readFile(log).value_or("");
    return outcome;
}

InstallOutcome TestPackage::installAnswering(INSTALLUI_HANDLERA handler, void* context,
                                             DWORD filter) {
    const Text log = folder_ / (name_ + ".log");
    InstallOutcome outcome;
    const Text source = composedSource();
    const Text package = build(source);
    if (package.empty()) {
        return outcome;
    }
    removeEarlierInstallations(source);
    DeleteFileA(log.c_str());
    // What msiexec /qn /l*v sets up before it installs.
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiEnableLogA(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO | INSTALLLOGMODE_WARNING |
                      INSTALLLOGMODE_ERROR | INSTALLLOGMODE_USER | INSTALLLOGMODE_ACTIONSTART |
                      INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_COMMONDATA |
                      INSTALLLOGMODE_PROPERTYDUMP,
                  log.c_str(), 0);
    const INSTALLUI_HANDLERA previous = MsiSetExternalUIA(handler, filter, context);
    outcome.exitCode = MsiInstallProductA(package.c_str(), "");
    MsiSetExternalUIA(previous, 0, nullptr);
    MsiEnableLogA(0, nullptr, 0);
    outcome.log = readFile(log).value_or("");
    return outcome;
}

DWORD TestPackage::uninstall() {
    return runMsiexec(widened("msiexec /x \"" + (folder_ / (name_ + ".msi")) + "\" /qn"));
}

namespace {

void removeEarlierInstallations(const Text& source) {
    const Text marker = "UpgradeCode=\"";
    const std::size_t at = source.find(marker);
    if (at == Text::npos) {
        return;
    }
    const std::size_t start = at + marker.size();
    Text upgradeCode = "{" + source.substr(start, source.find('"', start) - start) + "}";
    CharUpperA(upgradeCode.data());
    std::vector<Text> installed;
    char productCode[39];
    for (DWORD index = 0;
         MsiEnumRelatedProductsA(upgradeCode.c_str(), 0, index, productCode) == ERROR_SUCCESS;
         ++index) {
        installed.push_back(productCode);
    }
    for (const Text& product : installed) {
        runMsiexec(widened("msiexec /x " + product + " /qn"));
    }
}

} // namespace

OpenedPackage::OpenedPackage(const Text& packagePath) {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    const UINT status = MsiOpenPackageA(packagePath.c_str(), &session_);
    if (status != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot open " << packagePath << ": error " << status;
    }
}

OpenedPackage::~OpenedPackage() {
    if (session_ != 0) {
        MsiCloseHandle(session_);
    }
}

void OpenedPackage::setProperty(const Text& name, const Text& value) const {
    MsiSetPropertyA(session_, name.c_str(), value.c_str());
}

Text OpenedPackage::property(const Text& name) const {
    char value[4096] = {};
    DWORD length = sizeof value;
    MsiGetPropertyA(session_, name.c_str(), value, &length);
    return value;
}

} // namespace vmsi::test
