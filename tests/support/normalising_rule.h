// The path normaliser's rule as installers are told it, written out the slow
// way so that tests can hold the real normaliser and everything built on it
// against it: halve every pair of adjacent backslashes, left to right,
// stepping over double-byte characters, until no pair is left; then give a
// leading backslash a second one.
#pragma once

#include "text.h"

namespace vmsi::test {

using LeadByteRule = bool (*)(unsigned char byte);

inline bool noLeadBytes(unsigned char) {
    return false;
}

// Shift-JIS (code page 932): lead bytes 0x81-0x9F and 0xE0-0xFC; a trail
// byte may be 0x5C, the value of the backslash.
inline bool shiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

inline Text normaliseByRule(Text path, LeadByteRule isLeadByte) {
    for (bool replaced = true; replaced;) {
        replaced = false;
        Text next;
        for (std::size_t i = 0; i < path.size(); ++i) {
            if (isLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
                next += path.substr(i++, 2);
            } else if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '\\') {
                next += '\\';
                ++i;
                replaced = true;
            } else {
                next += path[i];
            }
        }
        path = next;
    }
    if (!path.empty() && path[0] == '\\') {
        path.insert(path.begin(), '\\');
    }
    return path;
}

// Folder, one backslash, name, by the rule.
inline Text joinByRule(const Text& folder, const Text& name, LeadByteRule isLeadByte) {
    return normaliseByRule(folder + "\\" + name, isLeadByte);
}

} // namespace vmsi::test
