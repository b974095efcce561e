#include "msi_package.h"

#include "unix_links.h"

#include <gtest/gtest.h>

namespace vmsi::test {

namespace {

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
        case '>':
            escaped += "&gt;";
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
        if (c == '[' || c == ']' || c == '{' || c == '}') {
            literal += Text("[\\") + c + "]";
        } else {
            literal += c;
        }
    }
    return literal;
}

std::vector<Text> lines(const Text& text) {
    std::vector<Text> result;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = std::min(text.find('\n', at), text.size());
        Text line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        result.push_back(std::move(line));
        at = end + 1;
    }
    return result;
}

bool startsWith(const Text& text, const Text& start) {
    return text.compare(0, start.size(), start) == 0;
}

bool endsWith(const Text& text, const Text& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

Text systemFolder() {
    char folder[MAX_PATH];
    return Text(folder, GetSystemDirectoryA(folder, sizeof folder));
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

Text InstallOutcome::propertyAfter(const PackageCall& call, const Text& name) const {
    return property(call.id + "_" + name);
}

std::vector<Text> InstallOutcome::linesOf(const PackageCall& call) const {
    std::vector<Text> found;
    bool inside = false;
    const Text prefix = call.entry + ": ";
    for (const Text& line : lines(log)) {
        if (startsWith(line, "Action start ") && endsWith(line, ": " + call.id + ".")) {
            inside = true;
        } else if (startsWith(line, "Action ended ") &&
                   line.find(": " + call.id + ". Return value") != Text::npos) {
            inside = false;
        } else if (inside && startsWith(line, prefix)) {
            found.push_back(line.substr(prefix.size()));
        } else if (inside && !found.empty()) {
            found.back() += "\n" + line; // a text that holds a line break
        }
    }
    return found;
}

bool InstallOutcome::started(const PackageCall& call) const {
    return !linesOf(call).empty();
}

TestPackage::TestPackage(const Text& name) : name_(name), folder_("msi-" + name) {}

void TestPackage::property(const Text& name, const Text& value) {
    properties_ += "    <Property Id=\"" + name + "\" Value=\"" + xmlEscaped(value) + "\"/>\n";
}

PackageCall TestPackage::immediate(const Text& entry, const PropertyValues& properties,
                                   const std::vector<Text>& remembered) {
    const PackageCall call{"Call" + std::to_string(++calls_), entry};
    auto setProperty = [this](const Text& name, const Text& formattedValue) {
        const Text id = "Set" + std::to_string(++settings_);
        actions_ += "    <CustomAction Id=\"" + id + "\" Property=\"" + name + "\" Value=\"" +
                    xmlEscaped(formattedValue) + "\"/>\n";
        sequence_ += "      <Custom Action=\"" + id + "\" Sequence=\"" +
                     std::to_string(immediateSequence_++) + "\"/>\n";
    };
    for (const auto& [name, value] : properties) {
        setProperty(name, formattedLiteral(value));
    }
    actions_ += "    <CustomAction Id=\"" + call.id + "\" BinaryKey=\"Actions\" DllEntry=\"" +
                entry + "\" Execute=\"immediate\" Return=\"check\"/>\n";
    sequence_ += "      <Custom Action=\"" + call.id + "\" Sequence=\"" +
                 std::to_string(immediateSequence_++) + "\"/>\n";
    for (const Text& name : remembered) {
        setProperty(call.id + "_" + name, "[" + name + "]");
    }
    return call;
}

PackageCall TestPackage::deferred(const Text& entry, const Text& customActionData) {
    const PackageCall call{"Call" + std::to_string(++calls_), entry};
    const Text setter = "Set" + std::to_string(++settings_);
    actions_ += "    <CustomAction Id=\"" + setter + "\" Property=\"" + call.id + "\" Value=\"" +
                xmlEscaped(customActionData) + "\"/>\n";
    actions_ += "    <CustomAction Id=\"" + call.id + "\" BinaryKey=\"Actions\" DllEntry=\"" +
                entry + "\" Execute=\"deferred\" Impersonate=\"no\" Return=\"check\"/>\n";
    for (const Text& id : {setter, call.id}) {
        sequence_ += "      <Custom Action=\"" + id + "\" Sequence=\"" +
                     std::to_string(deferredSequence_++) + "\"/>\n";
    }
    return call;
}

InstallOutcome TestPackage::install(const Text& commandLineProperties) {
    const Text source = folder_ / (name_ + ".wxs");
    const Text package = folder_ / (name_ + ".msi");
    const Text log = folder_ / (name_ + ".log");
    const Text buildOutput = folder_ / "wixl.txt";
    writeFile(source,
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
              "  <Product Id=\"*\" Name=\"Vmsi test " +
                  name_ +
                  "\" Language=\"1033\" "
                  "Version=\"1.0.0\" Manufacturer=\"Vardo tests\" "
                  "UpgradeCode=\"8d3f4b62-5d2e-4f0a-9a51-3c7e0e1b2a40\">\n"
                  "    <Package InstallerVersion=\"200\" Compressed=\"yes\" "
                  "InstallScope=\"perMachine\"/>\n"
                  "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\"/>\n"
                  "    <Feature Id=\"Main\" Level=\"1\"/>\n"
                  "    <Binary Id=\"Actions\" SourceFile=\"VardoMSICustomActionsMsi.dll\"/>\n" +
                  properties_ + actions_ + "    <InstallExecuteSequence>\n" + sequence_ +
                  "      <RegisterUser>0</RegisterUser>\n"
                  "      <RegisterProduct>0</RegisterProduct>\n"
                  "      <PublishFeatures>0</PublishFeatures>\n"
                  "      <PublishProduct>0</PublishProduct>\n"
                  "    </InstallExecuteSequence>\n"
                  "  </Product>\n"
                  "</Wix>\n");
    DeleteFileA(package.c_str());
    // wixl takes a relative source file name only: from the folder it runs in.
    runUnixShellCommand("cd '" + unixPathOf(thisProgramFolder()) + "' && wixl -a x64 -o '" +
                        unixPathOf(package) + "' '" + unixPathOf(source) + "' >'" +
                        unixPathOf(buildOutput) + "' 2>&1");
    InstallOutcome outcome;
    outcome.exitCode = ~DWORD(0);
    if (GetFileAttributesA(package.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ADD_FAILURE() << "wixl built no package: " << readFile(buildOutput).value_or("");
        return outcome;
    }

    DeleteFileA(log.c_str());
    Text commandLine =
        "msiexec /i \"" + package + "\" /qn /l*v \"" + log + "\" " + commandLineProperties;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created = {};
    const Text program = systemFolder() + "\\msiexec.exe";
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &created)) {
        ADD_FAILURE() << "cannot start msiexec: error " << GetLastError();
        return outcome;
    }
    WaitForSingleObject(created.hProcess, INFINITE);
    GetExitCodeProcess(created.hProcess, &outcome.exitCode);
    CloseHandle(created.hProcess);
    CloseHandle(created.hThread);
    outcome.log = readFile(log).value_or("");
    return outcome;
}

} // namespace vmsi::test
