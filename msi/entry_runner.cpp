#include "entry_runner.h"

#include "custom_action_data.h"
#include "diagnostics.h"
#include "result_buffer.h"
#include "session.h"

#include <optional>

namespace vmsi::msi {

namespace {

using tools::ArgumentType;

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
            if (action_.arguments[i].type == ArgumentType::Integer && !argument.text.empty()) {
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
    void publishResult(int result, const Text& resultText) const {
        if (fromScript_) {
            return;
        }
        session_.setProperty(propertyStem_ + "RESULT", result == 1 ? "1" : "0");
        if (entry_.resultTextName != nullptr) {
            session_.setProperty(propertyStem_ + entry_.resultTextName,
                                 result == 1 ? resultText : Text());
        }
    }

    bool failOnZero() const { return failRequest_.has_value() && asksToFail(failRequest_->text); }
    const Text& failRequestSource() const { return failRequest_->source; }

private:
    std::optional<std::vector<GivenArgument>> fromProperties() {
        std::vector<GivenArgument> given;
        for (std::size_t i = 0; i < action_.argumentCount; ++i) {
            const Text name = propertyStem_ + upperCase(action_.arguments[i].name);
            given.push_back({session_.property(name), "Property " + name});
        }
        const Text failName = propertyStem_ + "FAILONZERO";
        failRequest_ = GivenArgument{session_.property(failName), "Property " + failName};
        return given;
    }

    std::optional<std::vector<GivenArgument>> fromCustomActionData() {
        const Text data = session_.property("CustomActionData");
        std::optional<std::vector<Text>> fields = splitCustomActionData(data);
        if (!fields) {
            reportWarning(nullptr, "CustomActionData is malformed (a quoted field must end in a "
                                   "quote followed by a semicolon or the end), the action is not "
                                   "run: " +
                                       data);
            return std::nullopt;
        }
        const std::size_t count = action_.argumentCount;
        if (fields->size() > count + 1) {
            reportWarning(nullptr,
                          "CustomActionData holds " + std::to_string(fields->size()) +
                              " fields, more than the " + std::to_string(count) +
                              " arguments and the fail request, the action is not run: " + data);
            return std::nullopt;
        }
        fields->resize(count + 1);
        std::vector<GivenArgument> given;
        for (std::size_t i = 0; i <= count; ++i) {
            given.push_back(
                {std::move((*fields)[i]), "CustomActionData field " + std::to_string(i + 1)});
        }
        failRequest_ = std::move(given.back());
        given.pop_back();
        return given;
    }

    const Session& session_;
    const EntryDescription& entry_;
    const tools::ExportDescription& action_;
    const Text propertyStem_;
    const bool fromScript_;
    std::optional<GivenArgument> failRequest_;
};

} // namespace

UINT runEntry(MSIHANDLE handle, const EntryDescription& entry, ActionCall call) noexcept {
    // Memory exhausted ends the process, as in every action of the library.
    const Session session(handle);
    const ReportingScope scope(session, entry.name);
    EntryRun run(session, entry);

    int result = 0;
    char resultBuffer[resultBufferSize] = {};
    const std::optional<Arguments> arguments = run.readArguments();
    const bool failOnZero = run.failOnZero();
    if (arguments) {
        result = call(*arguments, resultBuffer);
    }
    run.publishResult(result, resultBuffer);
    reportInformation(nullptr, "Action result: " + std::to_string(result));
    if (result == 0 && failOnZero) {
        reportWarning(nullptr,
                      "The installation fails on this 0, as " + run.failRequestSource() + " asks");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

} // namespace vmsi::msi
