// Every path, command line and message of the library is a Text, and every
// system call that takes text is made in its 8-bit form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vmsi {

using Text = std::string; // an ANSI string: 8-bit, in the system ANSI code page

// Text arguments arrive as C strings that may be null; a null pointer is the
// empty text. The caller's string is copied and never written.
inline Text textFromArgument(const char* argument) {
    return argument != nullptr ? Text(argument) : Text();
}

// Whether a byte leads a double-byte character. It is asked only about
// bytes from 0x80 up: in every ANSI code page the bytes below are characters
// of their own.
using LeadByteTest = bool (*)(unsigned char byte);

// Where the character that begins at byte `at` of the text ends: after the
// second byte when a lead byte is followed by one, else after the byte.
// Every walker over 8-bit text steps with this, so that a byte with the value
// of a backslash (0x5C) inside a double-byte character is never taken for
// one. No code page has a second byte below 0x40: a lead byte followed by a
// separator, dot, colon, quote, space or line break, or ending the text, is
// a broken character of its own, and the byte after it keeps its meaning.
inline std::size_t characterEnd(std::string_view text, std::size_t at, LeadByteTest isLeadByte) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const bool paired = byte >= 0x80 && at + 1 < text.size() &&
                        static_cast<unsigned char>(text[at + 1]) >= 0x40 && isLeadByte(byte);
    return at + (paired ? 2 : 1);
}

} // namespace vmsi
