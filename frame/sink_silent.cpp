// The shipped library's sink: it shows, writes and keeps nothing.
#include "diagnostics.h"

namespace vmsi {

void attachSink() {}
void detachSink() {}

void report(HWND, Text, Severity) {}

} // namespace vmsi
