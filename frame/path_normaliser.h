// The path normaliser: every run of backslashes becomes one, and a path that
// begins with a backslash begins with exactly two (the network form). It
// steps over double-byte characters of the ANSI code page, whose second byte
// may have the backslash's value 0x5C without being one.
//
// Its only platform dependency is the lead-byte test, passed in, so that the
// same routine builds natively for fuzzing.
#pragma once

#include <string>

namespace vmsi {

// Whether a byte leads a double-byte character. It is asked only about
// bytes from 0x80 up: in every ANSI code page the bytes below are characters
// of their own.
using LeadByteTest = bool (*)(unsigned char byte);

std::string normalisePath(std::string path, LeadByteTest isLeadByte);

} // namespace vmsi
