// Every path, command line and message of the library is a Text, and every
// system call that takes text is made in its 8-bit form.
#pragma once

#include <string>

namespace vmsi {

using Text = std::string; // an ANSI string: 8-bit, in the system ANSI code page

// Text arguments arrive as C strings that may be null; a null pointer is the
// empty text. The caller's string is copied and never written.
inline Text textFromArgument(const char* argument) {
    return argument != nullptr ? Text(argument) : Text();
}

} // namespace vmsi
