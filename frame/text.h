// The library's text type: a growable 8-bit string in the system ANSI code
// page. Every path, command line and message is one, and every system call
// that takes text is made in its 8-bit form.
#pragma once

#include <string>

namespace vmsi {

using Text = std::string;

// Text arguments arrive as C strings that may be null; a null pointer is the
// empty text. The caller's string is copied and never written.
inline Text textFromArgument(const char* argument) {
    return argument != nullptr ? Text(argument) : Text();
}

} // namespace vmsi
