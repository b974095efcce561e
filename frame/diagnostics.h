// The diagnostic sink: every action reports each step as a text with a
// severity. Which sink a module gets is decided when it is linked: the
// shipped library discards every report, the trace variant prints them, the
// tests record them.
#pragma once

#include "text.h"

#include <windows.h>

namespace vmsi {

enum class Severity : int {
    Information = 64, // MB_ICONINFORMATION
    Warning = 48,     // MB_ICONWARNING
};

// Takes its own copy of the text; never fails and never stops an action.
void report(HWND owner, Text text, Severity severity);

// The library's DllMain calls these as the library is loaded and unloaded,
// for a sink that holds something for the library's life.
void attachSink();
void detachSink();

inline void reportInformation(HWND owner, Text text) {
    report(owner, std::move(text), Severity::Information);
}

inline void reportWarning(HWND owner, Text text) {
    report(owner, std::move(text), Severity::Warning);
}

} // namespace vmsi
