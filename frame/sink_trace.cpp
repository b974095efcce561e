// The trace variant's sink: each report goes to the debugger output and, when
// the process has a standard error handle, to standard error as one line
// "info: <text>" or "warning: <text>".
#include "diagnostics.h"

namespace vmsi {

void attachSink() {}
void detachSink() {}

void report(HWND, Text text, Severity severity) {
    OutputDebugStringA(text.c_str());

    HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
    if (standardError == nullptr || standardError == INVALID_HANDLE_VALUE) {
        return;
    }
    Text line = (severity == Severity::Warning ? "warning: " : "info: ") + text + "\n";
    DWORD written = 0;
    WriteFile(standardError, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace vmsi
