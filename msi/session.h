// What an entry point asks of the install session it is given: properties,
// whether it runs deferred, lines in the install log, and whether the user
// has cancelled.
#pragma once

#include "diagnostics.h"
#include "text.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace vmsi::msi {

// The property's value in UTF-16, the empty text when it is not set, read
// through the function given: msi.dll's import, or what a program that loads
// msi.dll itself found there.
template <typename GetPropertyW>
std::wstring wideProperty(GetPropertyW getProperty, MSIHANDLE session, const std::wstring& name) {
    std::vector<wchar_t> value(MAX_PATH);
    for (;;) {
        DWORD length = static_cast<DWORD>(value.size());
        const UINT status = getProperty(session, name.c_str(), value.data(), &length);
        if (status == ERROR_SUCCESS) {
            return std::wstring(value.data(), std::min<std::size_t>(length, value.size()));
        }
        if (status != ERROR_MORE_DATA) {
            return std::wstring();
        }
        // Grows every time, whatever length comes back, so the loop ends.
        value.resize(std::max<std::size_t>(length + 1, value.size() * 2));
    }
}

class Session {
public:
    explicit Session(MSIHANDLE handle) : handle_(handle) {}

    // The property's value in the ANSI code page, the empty text when it is
    // not set, or nothing when the value holds a character that the code
    // page cannot represent exactly. Read through the wide function: the
    // 8-bit one would give best-fit substitutes, such as " for U+FF02, and a
    // value harmless in Unicode would reach the action as a quote, a
    // separator or a drive.
    std::optional<Text> property(const Text& name) const;
    // Setting the empty text removes the property.
    void setProperty(const Text& name, const Text& value) const;

    // Deferred, rollback and commit actions run from the install script:
    // they read CustomActionData and may not set properties.
    bool runsFromScript() const;

    // One INSTALLMESSAGE_INFO line "<source>: info: <text>" or
    // "<source>: warning: <text>", the text as literalLogText writes it.
    void log(const Text& source, const Text& text, Severity severity);

    // The installer answers a message with IDCANCEL once the user has
    // cancelled; the session remembers any such answer. This sends a
    // progress message that moves nothing, so that an entry learns of a
    // cancel before its action starts, when it has sent nothing else.
    void askWhetherCancelled();
    bool cancelled() const { return cancelled_; }

private:
    void send(INSTALLMESSAGE kind, MSIHANDLE record);

    MSIHANDLE handle_;
    bool cancelled_ = false;
};

// The warning for a property that holds such a character, ending in what
// the entry therefore does not do.
Text inexactPropertyText(const Text& source, const char* consequence);

// For the life of the object, every report of an action goes to this
// session's log under the entry's name. Entries run one at a time on the
// installer's thread; the scope belongs to that thread.
class ReportingScope {
public:
    ReportingScope(Session& session, const char* entryName);
    ~ReportingScope();
    ReportingScope(const ReportingScope&) = delete;
    ReportingScope& operator=(const ReportingScope&) = delete;

    Session& session;
    const char* const entryName;
};

} // namespace vmsi::msi
