#include "entry_runner.h"

#include "custom_action_data.h"
#include "diagnostics.h"
#include "result_buffer.h"
#include "session.h"

#include <algorithm>
#include <optional>

namespace vmsi::msi {

namespace {

// A fail request is any value but the empty text and "0".
bool asksToFail(const Text& value) {
    return !value.empty() && value != "0";
}

// One argument as given, and where it came from for the reports.
struct GivenArgument {
    Text text;
    Text source;
};

// The property's value, or nothing, after a warning that names it and ends
// in the consequence, when the value cannot be read exactly.
std::optional<GivenArgument> exactProperty(const Session& session, const Text& name,
                                           const char* consequence) {
    const Text source = "Property " + name;
    std::optional<Text> value = session.property(name);
    if (!value) {
        reportWarning(nullptr, inexactPropertyText(source, consequence));
        return std::nullopt;
    }
    return GivenArgument{std::move(*value), source};
}

constexpr const char* actionNotRun = "the action is not run";

class EntryRun {
public:
    EntryRun(const Session& session, const EntryDescription& entry)
        : session_(session), entry_(entry), action_(entry.action),
          propertyStem_(upperCase(entry.name) + "_"), fromScript_(session.runsFromScript()) {}

    // The arguments, or nothing (and a warning) when they cannot be read.
    std::optional<Arguments> readArguments() {
        std::optional<std::vector<GivenArgument>> given =
            fromScript_ ? fromCustomActionData() : fromProperties();
        if (!given) {
            return std::nullopt;
        }
        std::vector<Text> texts;
        std::vector<int> integers;
        for (std::size_t i = 0; i < action_.argumentCount; ++i) {
            GivenArgument& argument = (*given)[i];
            int value = 0;
            if (action_.arguments[i].kind == ArgumentKind::Integer && !argument.text.empty()) {
                const std::optional<int> parsed = parseDecimalInteger(argument.text);
                if (!parsed) {
                    reportWarning(
                        nullptr,
                        argument.source +
                            " is not a decimal integer, the action is not run: " + argument.text);
                    return std::nullopt;
                }
                value = *parsed;
            }
            texts.push_back(std::move(argument.text));
            integers.push_back(value);
        }
        if (timeoutRequest_ && !timeoutRequest_->text.empty()) {
            const std::optional<int> seconds = parseDecimalInteger(timeoutRequest_->text);
            if (!seconds || *seconds < 0) {
                reportWarning(nullptr, timeoutRequest_->source +
                                           " is not a number of seconds, the action is not run: " +
                                           timeoutRequest_->text);
                return std::nullopt;
            }
            // 0 sets no limit.
            if (*seconds > 0) {
                timeoutSeconds_ = static_cast<DWORD>(*seconds);
            }
        }
        return Arguments(std::move(texts), std::move(integers));
    }

    // Result properties are the immediate entry's alone: an entry run from
    // the script may not set any.
    void publishResult(int result, const ActionOutput& output) const {
        if (fromScript_) {
            return;
        }
        session_.setProperty(propertyStem_ + "RESULT", result == 1 ? "1" : "0");
        if (entry_.resultTextName != nullptr) {
            session_.setProperty(propertyStem_ + entry_.resultTextName,
                                 result == 1 ? Text(output.text) : Text());
        }
        if (entry_.handsOutExitCode) {
            session_.setProperty(propertyStem_ + "EXITCODE",
                                 output.exitCode ? std::to_string(*output.exitCode) : Text());
        }
    }

    // The fail request that asks for a 0, or for a non-zero exit code, to
    // fail the installation; null when there is none.
    const GivenArgument* zeroRequest() const { return asking(zeroRequest_); }
    const GivenArgument* exitCodeRequest() const { return asking(exitCodeRequest_); }
    // How long the program the action starts may run; none: as long as it
    // runs.
    std::optional<DWORD> timeoutSeconds() const { return timeoutSeconds_; }

private:
    static const GivenArgument* asking(const std::optional<GivenArgument>& request) {
        return request && asksToFail(request->text) ? &*request : nullptr;
    }

    std::optional<std::vector<GivenArgument>> fromProperties() {
        // The fail requests first, so that a 0 from arguments that cannot be
        // read fails the installation when the package asks.
        zeroRequest_ = exactProperty(session_, propertyStem_ + "FAILONZERO", actionNotRun);
        if (!zeroRequest_) {
            return std::nullopt;
        }
        if (entry_.handsOutExitCode) {
            exitCodeRequest_ =
                exactProperty(session_, propertyStem_ + "FAILONEXITCODE", actionNotRun);
            timeoutRequest_ = exactProperty(session_, propertyStem_ + "TIMEOUT", actionNotRun);
            if (!exitCodeRequest_ || !timeoutRequest_) {
                return std::nullopt;
            }
        }
        std::vector<GivenArgument> given;
        for (std::size_t i = 0; i < action_.argumentCount; ++i) {
            std::optional<GivenArgument> argument = exactProperty(
                session_, propertyStem_ + upperCase(action_.arguments[i].name), actionNotRun);
            if (!argument) {
                return std::nullopt;
            }
            given.push_back(std::move(*argument));
        }
        return given;
    }

    std::optional<std::vector<GivenArgument>> fromCustomActionData() {
        const std::optional<Text> read = session_.property("CustomActionData");
        if (!read) {
            reportWarning(nullptr, inexactPropertyText("CustomActionData", actionNotRun));
            return std::nullopt;
        }
        const Text& data = *read;
        std::optional<std::vector<Text>> fields = splitCustomActionData(data);
        if (!fields) {
            reportWarning(nullptr, "CustomActionData is malformed (a quoted field must end in a "
                                   "quote followed by a semicolon or the end), the action is not "
                                   "run: " +
                                       data);
            return std::nullopt;
        }
        // After the arguments: the fail request, then for the actions that
        // wait for a program the exit-code fail request and the time-out.
        const std::size_t count = action_.argumentCount;
        const std::size_t requests = entry_.handsOutExitCode ? 3 : 1;
        if (fields->size() > count + requests) {
            reportWarning(nullptr,
                          "CustomActionData holds " + std::to_string(fields->size()) +
                              " fields, more than the " + std::to_string(count) +
                              (requests == 1
                                   ? " arguments and the fail request"
                                   : " arguments, the two fail requests and the time-out") +
                              ", the action is not run: " + data);
            return std::nullopt;
        }
        fields->resize(count + requests);
        std::vector<GivenArgument> given;
        for (std::size_t i = 0; i < fields->size(); ++i) {
            given.push_back(
                {std::move((*fields)[i]), "CustomActionData field " + std::to_string(i + 1)});
        }
        zeroRequest_ = std::move(given[count]);
        if (requests == 3) {
            exitCodeRequest_ = std::move(given[count + 1]);
            timeoutRequest_ = std::move(given[count + 2]);
        }
        given.resize(count);
        return given;
    }

    const Session& session_;
    const EntryDescription& entry_;
    const ExportDescription& action_;
    const Text propertyStem_;
    const bool fromScript_;
    std::optional<GivenArgument> zeroRequest_;
    std::optional<GivenArgument> exitCodeRequest_;
    std::optional<GivenArgument> timeoutRequest_;
    std::optional<DWORD> timeoutSeconds_;
};

// While the action waits for a program it started: asks the installer
// whether the user has cancelled, with the progress message that moves
// nothing, and ends the program once the user has, or once it has run for
// the package's time-out. Remembers why it ended one.
class EntryWait final : public WaitPolicy {
public:
    enum class Ending { None, Cancelled, TimedOut };

    EntryWait(Session& session, std::optional<DWORD> timeoutSeconds)
        : session_(session), timeoutSeconds_(timeoutSeconds), started_(GetTickCount64()) {}

    bool endsTheProgram() override {
        session_.askWhetherCancelled();
        if (session_.cancelled()) {
            ending_ = Ending::Cancelled;
        } else if (timeoutSeconds_ &&
                   GetTickCount64() - started_ >= ULONGLONG{*timeoutSeconds_} * 1000) {
            ending_ = Ending::TimedOut;
        }
        return ending_ != Ending::None;
    }

    Ending ending() const { return ending_; }
    std::optional<DWORD> timeoutSeconds() const { return timeoutSeconds_; }

private:
    Session& session_;
    const std::optional<DWORD> timeoutSeconds_;
    const ULONGLONG started_;
    Ending ending_ = Ending::None;
};

} // namespace

UINT runEntry(MSIHANDLE handle, const EntryDescription& entry, ActionCall call) noexcept {
    // Memory exhausted ends the process, as in every action of the library.
    Session session(handle);
    const ReportingScope scope(session, entry.name);
    EntryRun run(session, entry);

    int result = 0;
    bool ran = false;
    ActionOutput output;
    const std::optional<Arguments> arguments = run.readArguments();
    EntryWait wait(session, run.timeoutSeconds());
    if (arguments) {
        session.askWhetherCancelled();
        if (session.cancelled()) {
            reportWarning(nullptr, "The installation is cancelled, the action is not run");
        } else {
            result = call(*arguments, output, wait);
            ran = true;
        }
    }
    if (wait.ending() == EntryWait::Ending::Cancelled) {
        reportWarning(nullptr, "The installation is cancelled, the program was ended");
    } else if (wait.ending() == EntryWait::Ending::TimedOut) {
        reportWarning(nullptr, "The program did not end within the time-out of " +
                                   std::to_string(*wait.timeoutSeconds()) +
                                   " s and was ended; the installation fails");
    }
    if (output.exitCode) {
        reportInformation(nullptr, "Exit code: " + std::to_string(*output.exitCode));
    }
    run.publishResult(result, output);
    reportInformation(nullptr, "Action result: " + std::to_string(result));
    // The actions are short and have nothing to roll back: one under way
    // when the user cancels finishes, and the installation stops after it;
    // a program it waits for, which may never end, is ended.
    if (session.cancelled()) {
        if (ran && wait.ending() != EntryWait::Ending::Cancelled) {
            reportWarning(nullptr, "The installation is cancelled, the action finished first");
        }
        return ERROR_INSTALL_USEREXIT;
    }
    if (wait.ending() == EntryWait::Ending::TimedOut) {
        return ERROR_INSTALL_FAILURE;
    }
    const GivenArgument* request = nullptr;
    const char* failure = nullptr;
    if (result == 0 && (request = run.zeroRequest()) != nullptr) {
        failure = "this 0";
    } else if (output.exitCode.value_or(0) != 0 && (request = run.exitCodeRequest()) != nullptr) {
        failure = "this exit code";
    }
    if (request != nullptr) {
        reportWarning(nullptr, Text("The installation fails on ") + failure + ", as " +
                                   request->source + " asks");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

namespace {

constexpr const char* builderName = "VmsiSetCustomActionData";
constexpr const char* builderRequest = "VmsiSetCustomActionData_Request";
constexpr const char* dataNotSet = "no CustomActionData is set";

std::vector<Text> namesIn(const Text& list) {
    std::vector<Text> names;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(';', at), list.size());
        names.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// Whether the package keeps one of the names out of the log. A list that
// cannot be read exactly keeps everything out.
bool anyHidden(const Session& session, const std::vector<Text>& names) {
    const std::optional<Text> hidden = session.property("MsiHiddenProperties");
    if (!hidden) {
        return true;
    }
    const std::vector<Text> listed = namesIn(*hidden);
    for (const Text& name : names) {
        if (std::find(listed.begin(), listed.end(), name) != listed.end()) {
            return true;
        }
    }
    return false;
}

// The builder's work; setCustomActionData adds the answer to a cancel.
UINT buildCustomActionData(Session& session) {
    const ReportingScope scope(session, builderName);

    const std::optional<GivenArgument> request = exactProperty(session, builderRequest, dataNotSet);
    if (!request) {
        return ERROR_INSTALL_FAILURE;
    }
    const std::vector<Text> names = namesIn(request->text);
    const Text& target = names.front();
    if (target.empty()) {
        reportWarning(nullptr, request->source + " names no deferred action, " + dataNotSet + ": " +
                                   request->text);
        return ERROR_INSTALL_FAILURE;
    }
    std::vector<Text> fields;
    for (std::size_t i = 1; i < names.size(); ++i) {
        std::optional<GivenArgument> field = exactProperty(session, names[i], dataNotSet);
        if (!field) {
            // Data that an earlier step or the command line put there is
            // never left for the deferred action.
            session.setProperty(target, Text());
            return ERROR_INSTALL_FAILURE;
        }
        fields.push_back(std::move(field->text));
    }
    const Text data = joinCustomActionData(fields);
    session.setProperty(target, data);
    if (anyHidden(session, names)) {
        reportInformation(nullptr, "CustomActionData of " + target +
                                       " is set; MsiHiddenProperties keeps it out of the log");
    } else {
        reportInformation(nullptr, "CustomActionData of " + target + ": " + data);
    }
    return ERROR_SUCCESS;
}

} // namespace

UINT setCustomActionData(MSIHANDLE handle) noexcept {
    Session session(handle);
    const UINT status = buildCustomActionData(session);
    return session.cancelled() ? ERROR_INSTALL_USEREXIT : status;
}

} // namespace vmsi::msi
