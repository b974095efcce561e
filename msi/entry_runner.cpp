#include "entry_runner.h"

#include "custom_action_data.h"
#include "diagnostics.h"
#include "result_buffer.h"
#include "session.h"

#include <algorithm>
#include <optional>

namespace vmsi::msi {

namespace {

Text upperCase(Text text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

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
            if (!exitCodeRequest_) {
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
        const std::size_t count = action_.argumentCount;
        const std::size_t requests = entry_.handsOutExitCode ? 2 : 1;
        if (fields->size() > count + requests) {
            reportWarning(nullptr, "CustomActionData holds " + std::to_string(fields->size()) +
                                       " fields, more than the " + std::to_string(count) +
                                       (requests == 1 ? " arguments and the fail request"
                                                      : " arguments and the two fail requests") +
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
        if (requests == 2) {
            exitCodeRequest_ = std::move(given[count + 1]);
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
    if (arguments) {
        session.askWhetherCancelled();
        if (session.cancelled()) {
            reportWarning(nullptr, "The installation is cancelled, the action is not run");
        } else {
            result = call(*arguments, output);
            ran = true;
        }
    }
    if (output.exitCode) {
        reportInformation(nullptr, "Exit code: " + std::to_string(*output.exitCode));
    }
    run.publishResult(result, output);
    reportInformation(nullptr, "Action result: " + std::to_string(result));
    // The actions are short and have nothing to roll back: one under way
    // when the user cancels finishes, and the installation stops after it.
    if (session.cancelled()) {
        if (ran) {
            reportWarning(nullptr, "The installation is cancelled, the action finished first");
        }
        return ERROR_INSTALL_USEREXIT;
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
