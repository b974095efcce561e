// The path normaliser: every run of backslashes becomes one, and a path that
// begins with a backslash begins with exactly two (the network form). It
// steps over double-byte characters of the ANSI code page, whose second byte
// may have the backslash's value 0x5C without being one.
//
// Its only platform dependency is the lead-byte test, passed in, so that the
// same routine builds natively for fuzzing.
#pragma once

#include "text.h"

#include <string>

namespace vmsi {

Text normalisePath(Text path, LeadByteTest isLeadByte);

} // namespace vmsi
