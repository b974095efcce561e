// What the fuzz targets share: the lead-byte rules an input chooses from,
// and the tokens a text is made of under such a rule.
#pragma once

#include "normalising_rule.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vmsi::fuzz {

inline bool everyHighByteLeads(unsigned char byte) {
    return byte >= 0x80;
}

// The first byte of an input chooses the code page's lead bytes: none (a
// single-byte code page), Shift-JIS (932), or every byte from 0x80 (the most
// a code page could have).
inline test::LeadByteRule leadByteRuleFor(std::uint8_t selector) {
    switch (selector % 3) {
    case 0:
        return test::noLeadBytes;
    case 1:
        return test::shiftJisLeadByte;
    default:
        return everyHighByteLeads;
    }
}

// The characters of a text: a lead byte with the byte after it, or one byte.
inline std::vector<std::string> charactersOf(const std::string& text, test::LeadByteRule isLead) {
    std::vector<std::string> characters;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
            characters.push_back(text.substr(i, 2));
            ++i;
        } else {
            characters.push_back(text.substr(i, 1));
        }
    }
    return characters;
}

// The characters that are not a backslash, in order.
inline std::vector<std::string> nonSeparators(const std::string& text, test::LeadByteRule isLead) {
    std::vector<std::string> kept;
    for (const std::string& character : charactersOf(text, isLead)) {
        if (character != "\\") {
            kept.push_back(character);
        }
    }
    return kept;
}

// A property that does not hold: libFuzzer reports the input and stops.
[[noreturn]] inline void violated(const char* property, const std::string& input) {
    std::fprintf(stderr, "property violated: %s\ninput (%zu bytes):", property, input.size());
    for (unsigned char byte : input) {
        std::fprintf(stderr, " %02x", byte);
    }
    std::fprintf(stderr, "\n");
    std::abort();
}

} // namespace vmsi::fuzz
