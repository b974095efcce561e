// The shipped library's sink: it shows, writes and keeps nothing.
#include "diagnostics.h"

namespace vmsi {

void report(HWND, Text, Severity) {}

} // namespace vmsi
