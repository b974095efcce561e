// Fuzzes the command-line builders: whatever the texts, the started program
// finds its own path, the registration tool the component's path after
// nothing but its own switches, and the conversion tool its old catalogue
// path exactly and its new one normalised, as the C runtime splits their
// command lines (a text with a double quote is refused by the actions). The
// input's first byte chooses the code page's lead bytes; the rest is split
// at zero bytes into the texts.
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
// backslashes are themselves; a lead byte takes the byte after it, whatever
// it is, into its character.
std::vector<std::string> argumentsOf(const std::string& text, test::LeadByteRule isLead) {
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
        if (isLead(static_cast<unsigned char>(c)) && i + 1 < text.size()) {
            current += text.substr(i, 2);
            i += 2;
            continue;
        }
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

// A lead byte at the very end of a text would take the closing quote after
// it for its second byte; no path ends in one.
bool endsInALoneLeadByte(const std::string& text, test::LeadByteRule isLead) {
    const std::vector<std::string> characters = fuzz::charactersOf(text, isLead);
    return !characters.empty() && characters.back().size() == 1 &&
           isLead(static_cast<unsigned char>(characters.back()[0]));
}

// The characters of a path with every run of backslashes made one: what the
// path names, however many separators it has.
std::vector<std::string> withSingleSeparators(const std::string& text, test::LeadByteRule isLead) {
    std::vector<std::string> characters;
    for (const std::string& character : fuzz::charactersOf(text, isLead)) {
        if (character != "\\" || characters.empty() || characters.back() != "\\") {
            characters.push_back(character);
        }
    }
    return characters;
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
        const std::vector<std::string> arguments = argumentsOf(registration.substr(9), isLead);
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
    // new catalogue: the same places as the new folder and file name joined,
    // one backslash between any two, but a share's two leading ones.
    const std::string conversion = catalogueConversionParameters(first, second, third, isLead);
    if (!hasQuote(first) && !hasQuote(second) && !hasQuote(third) &&
        !endsInALoneLeadByte(first, isLead) && !endsInALoneLeadByte(third, isLead)) {
        const std::vector<std::string> arguments = argumentsOf(conversion, isLead);
        if (arguments.size() != 5 || arguments[0] != "-i" || arguments[1] != "-o" ||
            arguments[2] != first || arguments[3] != "-n") {
            fuzz::violated("the conversion tool does not get its switches and old path whole",
                           input);
        }
        const std::string& newPath = arguments.back();
        const bool share = second.compare(0, 2, "\\\\") == 0;
        if (withSingleSeparators(newPath, isLead) !=
            withSingleSeparators(second + "\\" + third, isLead)) {
            fuzz::violated("the new path names other places than the folder and name given", input);
        }
        const std::vector<std::string> characters = fuzz::charactersOf(newPath, isLead);
        for (std::size_t i = share ? 2 : 1; i < characters.size(); ++i) {
            if (characters[i] == "\\" && characters[i - 1] == "\\") {
                fuzz::violated("the new path keeps two adjacent backslashes", input);
            }
        }
        if (share != (newPath.compare(0, 2, "\\\\") == 0)) {
            fuzz::violated("the new path gains or loses a share's leading pair", input);
        }
    }
    return 0;
}
