#include "command_lines.h"

#include <algorithm>

namespace vmsi {

namespace {

// The length of the run of backslashes that ends the text. The second byte
// of a double-byte character is never one: the C runtime, splitting a
// command line, steps over such characters too.
std::size_t trailingBackslashes(const Text& text, LeadByteTest isLeadByte) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); i = characterEnd(text, i, isLeadByte)) {
        run = text[i] == '\\' ? run + 1 : 0;
    }
    return run;
}

// The text in double quotes, as the C runtime reads one argument back: it
// takes 2n backslashes before a quote as n backslashes and the quote as the
// end, so a run that ends the text is doubled. Every other byte goes in as
// it is.
Text quotedArgument(const Text& text, LeadByteTest isLeadByte) {
    Text quoted = '"' + text;
    quoted.append(trailingBackslashes(text, isLeadByte), '\\');
    quoted += '"';
    return quoted;
}

bool isSwitchMark(char c) {
    return c == '/' || c == '-';
}

bool isRegistrationSwitch(const Text& word, LeadByteTest isLeadByte) {
    if (word.size() < 2 || !isSwitchMark(word[0])) {
        return false;
    }
    const char letter = static_cast<char>(word[1] | 0x20); // lower case for letters
    if (word.size() == 2) {
        return letter == 's' || letter == 'u' || letter == 'n' || letter == 'i';
    }
    // /i:text, the text handed to the component's DllInstall. No quote,
    // space or control character, which could end the switch and begin
    // another argument, not even as the second byte of a double-byte
    // character (where the conversion to Unicode would set it free); nor a
    // double-byte character cut short at the end, which would take the space
    // after it for its second byte.
    if (letter != 'i' || word[2] != ':') {
        return false;
    }
    for (std::size_t i = 3; i < word.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(word[i]);
        if (byte <= ' ' || byte == '"' || byte == 0x7F) {
            return false;
        }
    }
    // A lead byte that ends the word is a character cut short.
    std::size_t last = word.size();
    for (std::size_t i = 3; i < word.size(); i = characterEnd(word, i, isLeadByte)) {
        last = i;
    }
    const unsigned char final = static_cast<unsigned char>(word.back());
    return last != word.size() - 1 || final < 0x80 || !isLeadByte(final);
}

} // namespace

Text launchCommandLine(const Text& programPath, const Text& parameters) {
    const bool needsQuotes = programPath.find_first_of(" \t") != Text::npos;
    Text commandLine;
    commandLine.reserve(programPath.size() + parameters.size() + 3);
    if (needsQuotes) {
        commandLine += '"';
    }
    commandLine += programPath;
    if (needsQuotes) {
        commandLine += '"';
    }
    commandLine += ' ';
    commandLine += parameters;
    return commandLine;
}

bool areRegistrationSwitches(const Text& options, LeadByteTest isLeadByte) {
    std::size_t at = 0;
    while (at < options.size()) {
        if (options[at] == ' ') {
            ++at;
            continue;
        }
        const std::size_t end = std::min(options.find(' ', at), options.size());
        if (!isRegistrationSwitch(options.substr(at, end - at), isLeadByte)) {
            return false;
        }
        at = end;
    }
    return true;
}

Text registrationCommandLine(const Text& options, const Text& componentPath) {
    Text commandLine = "regsvr32 ";
    commandLine.reserve(commandLine.size() + options.size() + componentPath.size() + 3);
    commandLine += options;
    commandLine += " \"";
    commandLine += componentPath;
    commandLine += '"';
    return commandLine;
}

Text catalogueConversionParameters(const Text& oldCatalogue, const Text& newFolder,
                                   const Text& newFileName, LeadByteTest isLeadByte) {
    // Normalised behind a quote, so that the normaliser's rule for a leading
    // backslash never applies: a folder on the current drive (\Photos) stays
    // one. A network folder keeps its two leading backslashes, which the
    // collapsing has made one.
    Text newPath = normalisePath('"' + newFolder + '\\' + newFileName, isLeadByte);
    newPath.erase(0, 1);
    if (newFolder.compare(0, 2, "\\\\") == 0) {
        newPath.insert(newPath.begin(), '\\');
    }
    return " -i -o " + quotedArgument(oldCatalogue, isLeadByte) + " -n " +
           quotedArgument(newPath, isLeadByte);
}

} // namespace vmsi
