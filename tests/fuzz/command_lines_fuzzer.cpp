// Fuzzes the command-line builders: whatever the texts, the started program
// finds its own path, the registration tool the component's path, and the
// conversion tool its two catalogue paths, exactly, where the platform's
// rules for splitting a command line allow it. The input's first byte
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
    // path as the last argument, whole.
    const std::string registration = registrationCommandLine(second, first);
    if (registration.compare(0, 9, "regsvr32 ") != 0) {
        fuzz::violated("the registration tool is not named first", input);
    }
    if (!hasQuote(first) && !hasQuote(second) && !endsWithBackslash(first) && !first.empty()) {
        const std::vector<std::string> arguments = argumentsOf(registration.substr(9));
        if (arguments.empty() || arguments.back() != first) {
            fuzz::violated("the registration tool does not get the component path whole", input);
        }
    }

    // The conversion tool: -i, -o and the old catalogue as given, -n and the
    // new catalogue normalised; nothing else.
    const std::string conversion = catalogueConversionParameters(first, second, third, isLead);
    const std::string newPath = test::normaliseByRule("\"" + second + "\\" + third + "\"", isLead);
    if (conversion != " -i -o \"" + first + "\" -n " + newPath) {
        fuzz::violated("the conversion parameters are not the switches and the two paths", input);
    }
    if (isLead == test::noLeadBytes && !hasQuote(first) && !hasQuote(second) && !hasQuote(third) &&
        !endsWithBackslash(first) && !endsWithBackslash(newPath.substr(0, newPath.size() - 1))) {
        const std::vector<std::string> arguments = argumentsOf(conversion);
        const std::vector<std::string> expected = {"-i", "-o", first, "-n",
                                                   newPath.substr(1, newPath.size() - 2)};
        if (arguments != expected) {
            fuzz::violated("the conversion tool does not get its two paths whole", input);
        }
    }
    return 0;
}
