#include "session.h"

#include "custom_action_data.h"
#include "msi_handles.h"
#include "paths.h"

#include <string>

namespace vmsi::msi {

namespace {

// The text in the ANSI code page, or nothing when a character has no exact
// counterpart there: WC_NO_BEST_FIT_CHARS puts the default character in its
// place instead of a look-alike, and the way back must give the same text.
std::optional<Text> exactAnsiText(const std::wstring& wide) {
    if (wide.empty()) {
        return Text();
    }
    const int wideLength = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength,
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    Text ansi(static_cast<std::size_t>(length), '\0');
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, ansi.data(),
                            length, nullptr, &usedDefault) != length ||
        usedDefault) {
        return std::nullopt;
    }
    std::wstring back(wide.size(), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), length, back.data(),
                            wideLength) != wideLength ||
        back != wide) {
        return std::nullopt;
    }
    return ansi;
}

} // namespace

std::optional<Text> Session::property(const Text& name) const {
    return exactAnsiText(wideProperty(MsiGetPropertyW, handle_, widened(name)));
}

void Session::setProperty(const Text& name, const Text& value) const {
    MsiSetPropertyA(handle_, name.c_str(), value.c_str());
}

bool Session::runsFromScript() const {
    return MsiGetMode(handle_, MSIRUNMODE_SCHEDULED) || MsiGetMode(handle_, MSIRUNMODE_ROLLBACK) ||
           MsiGetMode(handle_, MSIRUNMODE_COMMIT);
}

void Session::log(const Text& source, const Text& text, Severity severity) {
    const Text line = source + (severity == Severity::Warning ? ": warning: " : ": info: ") + text;
    InstallerHandle record(MsiCreateRecord(0));
    if (!record) {
        return;
    }
    MsiRecordSetStringA(record.get(), 0, literalLogText(line, isAnsiLeadByte).c_str());
    send(INSTALLMESSAGE_INFO, record.get());
}

void Session::askWhetherCancelled() {
    // Field 1 = 2 moves the progress bar by field 2 ticks: none here.
    InstallerHandle record(MsiCreateRecord(2));
    if (!record) {
        return;
    }
    MsiRecordSetInteger(record.get(), 1, 2);
    MsiRecordSetInteger(record.get(), 2, 0);
    send(INSTALLMESSAGE_PROGRESS, record.get());
}

void Session::send(INSTALLMESSAGE kind, MSIHANDLE record) {
    if (MsiProcessMessage(handle_, kind, record) == IDCANCEL) {
        cancelled_ = true;
    }
}

Text inexactPropertyText(const Text& source, const char* consequence) {
    return source + " holds characters that the ANSI code page cannot represent exactly, " +
           consequence;
}

} // namespace vmsi::msi
