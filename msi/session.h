// What an entry point asks of the install session it is given: properties,
// whether it runs deferred, lines in the install log, and whether the user
// has cancelled.
#pragma once

#include "diagnostics.h"
#include "grown_text.h"
#include "text.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <optional>
#include <string>

namespace vmsi::msi {

// Far beyond any value a package sets; CustomActionData carries a few paths.
constexpr std::size_t propertyTextLimit = std::size_t(1) << 24;

// The property's value in UTF-16, the empty text when it is not set, read
// through the function given: msi.dll's import, or what a program that loads
// msi.dll itself found there.
template <typename GetPropertyW>
std::wstring wideProperty(GetPropertyW getProperty, MSIHANDLE session, const std::wstring& name) {
    // The installer names the length needed, without the terminating zero.
    // A property, CustomActionData above all, may be longer than any path.
    return grownText<wchar_t>(
        [&](wchar_t* into, std::size_t size) {
            DWORD length = static_cast<DWORD>(size);
            const UINT status = getProperty(session, name.c_str(), into, &length);
            return status == ERROR_SUCCESS     ? BufferAnswer::written(length)
                   : status == ERROR_MORE_DATA ? BufferAnswer::tooSmall(length)
                                               : BufferAnswer::failed();
        },
        propertyTextLimit);
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
