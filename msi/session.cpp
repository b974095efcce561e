#include "session.h"

#include "msi_handles.h"

#include <algorithm>
#include <vector>

namespace vmsi::msi {

Text Session::property(const Text& name) const {
    std::vector<char> value(MAX_PATH);
    for (;;) {
        DWORD length = static_cast<DWORD>(value.size());
        const UINT status = MsiGetPropertyA(handle_, name.c_str(), value.data(), &length);
        if (status == ERROR_SUCCESS) {
            return Text(value.data());
        }
        if (status != ERROR_MORE_DATA) {
            return Text();
        }
        // Grows every time, whatever length comes back, so the loop ends.
        value.resize(std::max<std::size_t>(length + 1, value.size() * 2));
    }
}

void Session::setProperty(const Text& name, const Text& value) const {
    MsiSetPropertyA(handle_, name.c_str(), value.c_str());
}

bool Session::runsFromScript() const {
    return MsiGetMode(handle_, MSIRUNMODE_SCHEDULED) || MsiGetMode(handle_, MSIRUNMODE_ROLLBACK) ||
           MsiGetMode(handle_, MSIRUNMODE_COMMIT);
}

void Session::log(const Text& source, const Text& text, Severity severity) const {
    const Text line = source + (severity == Severity::Warning ? ": warning: " : ": info: ") + text;
    InstallerHandle record(MsiCreateRecord(0));
    if (!record) {
        return;
    }
    MsiRecordSetStringA(record.get(), 0, literalFormattedText(line).c_str());
    MsiProcessMessage(handle_, INSTALLMESSAGE_INFO, record.get());
}

Text literalFormattedText(const Text& text) {
    Text literal;
    literal.reserve(text.size());
    for (const char c : text) {
        if (c == '[' || c == ']' || c == '{' || c == '}') {
            literal += "[\\";
            literal += c;
            literal += ']';
        } else {
            literal += c;
        }
    }
    return literal;
}

} // namespace vmsi::msi
