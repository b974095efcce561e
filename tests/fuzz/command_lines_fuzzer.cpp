// Fuzzes the command-line builders: whatever the texts, the started program
// finds its own path, the registration tool the component's path after
// nothing but its own switches, and the conversion tool its two catalogue
// paths, exactly, where the platform's rules for splitting a command line
// allow it (a text with a double quote is refused by the actions). The input's first byte
// chooses the code page's lead bytes; the rest is split at zero bytes into
// the texts.
#include "command_lines.h"
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

using namespace vmsi;

namespace {

// The program name as CreateProcess takes it from a command line: up to the
// closing quote when it begins with one, else up to the first space or tab.
std::string programNameOf(const std::string& commandLine, std::size_t* end) {
    if (!commandLine.empty() && commandLine[0] == '"') {
        const std::size_t close = commandLine.find('"', 1);
        *end = close == std::string::npos ? commandLine.size() : close + 1;
        return commandLine.substr(1, (close == std::string::npos ? commandLine.size() : close) - 1);
    }
    *end = commandLine.find_first_of(" \t");
    if (*end == std::string::npos) {
        *end = commandLine.size();
    }
    return commandLine.substr(0, *end);
}

// The arguments after the program name as the C runtime splits them: spaces
// and tabs separate outside quotes; 2n backslashes before a quote are n
// backslashes and the quote opens or closes; 2n+1 are n and a quote; other
// backslashes are themselves.
std::vector<std::string> argumentsOf(const std::string& text) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument) {
                arguments.push_back(current);
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            std::size_t count = 0;
            while (i < text.size() && text[i] == '\\') {
                ++count;
                ++i;
            }
            if (i < text.size() && text[i] == '"') {
                current.append(count / 2, '\\');
                if (count % 2 == 1) {
                    current += '"';
                    ++i;
                }
            } else {
                current.append(count, '\\');
            }
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArgument) {
        arguments.push_back(current);
    }
    return arguments;
}

bool endsWithBackslash(const std::string& text) {
    return !text.empty() && text.back() == '\\';
}

bool hasQuote(const std::string& text) {
    return text.find('"') != std::string::npos;
}

// The text in quotes as the C runtime reads it back: a run of backslash
// characters that ends it doubled.
std::string quotedByRule(const std::string& text, test::LeadByteRule isLead) {
    const std::vector<std::string> characters = fuzz::charactersOf(text, isLead);
    std::size_t run = 0;
    while (run < characters.size() && characters[characters.size() - 1 - run] == "\\") {
        ++run;
    }
    return "\"" + text + std::string(run, '\\') + "\"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const test::LeadByteRule isLead = fuzz::leadByteRuleFor(data[0]);
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> texts(1);
    for (char c : input) {
        if (c == '\0') {
            texts.emplace_back();
        } else {
            texts.back() += c;
        }
    }
    texts.resize(std::max<std::size_t>(texts.size(), 3));
    const std::string& first = texts[0];
    const std::string& second = texts[1];
    const std::string& third = texts[2];

    // The program started: its path whole, then one space, then the
    // parameters exactly. (A path holds no quote on the platform.)
    const std::string launch = launchCommandLine(first, second);
    if (!hasQuote(first)) {
        std::size_t end = 0;
        if (programNameOf(launch, &end) != first) {
            fuzz::violated("the started program does not find its own path", input);
        }
        if (launch.compare(end, std::string::npos, " " + second) != 0) {
            fuzz::violated("the parameters do not follow the path after one space", input);
        }
    }

    // The registration tool: its name, then the options, then the component
    // path as the last argument, whole. Accepted options are switches only:
    // every argument before the path is one, and none names a file.
    const std::string registration = registrationCommandLine(second, first);
    if (registration.compare(0, 9, "regsvr32 ") != 0) {
        fuzz::violated("the registration tool is not named first", input);
    }
    if (areRegistrationSwitches(second, isLead) &&
        (hasQuote(second) || second.find_first_of("\t\r\n") != std::string::npos)) {
        fuzz::violated("options with a quote or a control character are accepted", input);
    }
    if (isLead == test::noLeadBytes && areRegistrationSwitches(second, isLead) &&
        !hasQuote(first) && !endsWithBackslash(first) && !first.empty()) {
        const std::vector<std::string> arguments = argumentsOf(registration.substr(9));
        if (arguments.empty() || arguments.back() != first) {
            fuzz::violated("the registration tool does not get the component path whole", input);
        }
        for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
            if (arguments[i].size() < 2 || (arguments[i][0] != '/' && arguments[i][0] != '-')) {
                fuzz::violated("accepted options give the tool more than its switches", input);
            }
        }
    }

    // The conversion tool: -i, -o and the old catalogue as given, -n and the
    // new catalogue normalised (a share keeping its two leading backslashes);
    // nothing else.
    const std::string conversion = catalogueConversionParameters(first, second, third, isLead);
    std::string newPath = test::normaliseByRule("\"" + second + "\\" + third, isLead).substr(1);
    if (second.compare(0, 2, "\\\\") == 0) {
        newPath.insert(0, 1, '\\');
    }
    if (conversion !=
        " -i -o " + quotedByRule(first, isLead) + " -n " + quotedByRule(newPath, isLead)) {
        fuzz::violated("the conversion parameters are not the switches and the two paths", input);
    }
    if (isLead == test::noLeadBytes && !hasQuote(first) && !hasQuote(second) && !hasQuote(third)) {
        const std::vector<std::string> arguments = argumentsOf(conversion);
        const std::vector<std::string> expected = {"-i", "-o", first, "-n", newPath};
        if (arguments != expected) {
            fuzz::violated("the conversion tool does not get its two paths whole", input);
        }
    }
    return 0;
}
