// Fuzzes the path normaliser against the properties it promises, for any
// bytes and any code page's lead bytes (the input's first byte chooses):
//  - no two adjacent backslashes are left, except a leading pair, and a text
//    that begins with a backslash begins with exactly two;
//  - normalising twice gives what normalising once gives;
//  - every character that is not a backslash, double-byte characters whose
//    second byte is 0x5C included, comes out unchanged and in order;
//  - the result is what the rule as stated (halving pairs until none is
//    left) gives.
// Linear time is checked apart, by linear_time_check.cpp.
#include "fuzz_support.h"
#include "path_normaliser.h"

#include <cstdio>
#include <cstdlib>

using namespace vmsi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const test::LeadByteRule isLead = fuzz::leadByteRuleFor(data[0]);
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string once = normalisePath(input, isLead);

    const std::vector<std::string> characters = fuzz::charactersOf(once, isLead);
    for (std::size_t i = 1; i < characters.size(); ++i) {
        if (characters[i] == "\\" && characters[i - 1] == "\\" && i != 1) {
            fuzz::violated("two adjacent backslashes after the leading pair", input);
        }
    }
    if (!once.empty() && once[0] == '\\' &&
        (once.size() < 2 || once[1] != '\\' || (once.size() > 2 && once[2] == '\\'))) {
        fuzz::violated("a leading backslash not in the form of exactly two", input);
    }
    if (normalisePath(once, isLead) != once) {
        fuzz::violated("normalising twice differs from once", input);
    }
    if (fuzz::nonSeparators(once, isLead) != fuzz::nonSeparators(input, isLead)) {
        fuzz::violated("a character other than a backslash changed", input);
    }
    if (once != test::normaliseByRule(input, isLead)) {
        fuzz::violated("differs from the rule as stated", input);
    }
    return 0;
}
