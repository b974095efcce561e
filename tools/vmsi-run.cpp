// vmsi-run: runs one export of the library by name, as an installer would,
// and shows what it did: the trace variant's diagnostic lines on standard
// error as they come, then the result on standard output. With --msi it
// tries an entry point of the Windows Installer library instead
// (tools/entry_trial.h).
//
//   vmsi-run [--dll PATH] [--] EXPORT [ARG...]
//   vmsi-run --msi [--dll PATH] [--] ENTRY [NAME=VALUE...]
//   vmsi-run --list | --help | --version
//
// Exit status: 0 when the action returned 1 (the entry ERROR_SUCCESS), 1 when
// it returned 0 (the entry any other code), 2 on a usage error.
#include "custom_action_data.h"
#include "entry_trial.h"
#include "export_table.h"
#include "handles.h"
#include "module_identity.h"
#include "runner.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace vmsi;
using runner::exitUsage;
using runner::usageError;

namespace {

constexpr std::size_t resultBufferSize = 64 * 1024;
// The buffer is filled with this byte and has no zero in it, so a written
// buffer is one that holds a terminating zero afterwards.
constexpr char unwrittenByte = '\xA5';

using Identity = void(__stdcall*)(std::string& path, std::string& version);

// One word after the export's or entry's name.
struct ArgumentWord {
    std::string text;
    bool isNull; // the word --null, before any --
};

// What the command line asks for, but for the options that stand alone.
struct Command {
    bool tryEntry = false; // --msi
    std::string dllPath;   // empty: the library beside this program
    std::string name;
    std::vector<ArgumentWord> arguments;
};

std::string argumentList(const ExportDescription& description) {
    std::string list;
    for (std::size_t i = 0; i < description.argumentCount; ++i) {
        const ArgumentDescription& argument = description.arguments[i];
        list += std::string(i > 0 ? " " : "") + argument.name + ":" +
                (argument.kind == ArgumentKind::Text ? "text" : "integer");
    }
    return list;
}

void printHelp() {
    std::printf(
        "usage: vmsi-run [--dll PATH] [--] EXPORT [ARG...]\n"
        "       vmsi-run --msi [--dll PATH] [--] ENTRY [NAME=VALUE...]\n"
        "       vmsi-run --list      every export with its arguments\n"
        "       vmsi-run --version   this program's version\n"
        "       vmsi-run --help      this text\n"
        "\n"
        "Loads the trace variant of the library beside this program (or the DLL named\n"
        "by --dll), calls EXPORT with a null owner window and the arguments given,\n"
        "prints the diagnostic lines on standard error and then \"result: 1\" or\n"
        "\"result: 0\" on standard output. Texts are taken as given (the word --null\n"
        "passes a null pointer); integers are decimal, may be negative and may have\n"
        "spaces or tabs around them. The two actions that hand back a text get a\n"
        "64 KiB buffer and print \"buffer: ...\". -- ends the options: every word after\n"
        "it is taken as it stands, --null too.\n"
        "\n"
        "Exit status: 0 when the action returned 1, 1 when it returned 0, 2 on a\n"
        "usage error.\n"
        "\n"
        "--msi tries an entry point of VardoMSICustomActionsMsi.dll (beside this\n"
        "program, or --dll) without a package of your own: it makes a throwaway\n"
        "package in the temporary folder, opens a session on it, sets the properties\n"
        "given, and calls ENTRY with that session. It prints the entry's log lines on\n"
        "standard error, then on standard output the result properties that are set\n"
        "(<ENTRY>_RESULT, the texts handed back, <ENTRY>_EXITCODE) and \"return: \"\n"
        "with the code the entry returned. The entry runs immediate: a deferred\n"
        "entry's CustomActionData cannot be tried this way.\n"
        "\n"
        "Exit status with --msi: 0 when the entry returned ERROR_SUCCESS (0), 1 when\n"
        "it returned any other code (ERROR_INSTALL_FAILURE, 1603, when it fails the\n"
        "installation), 2 on a usage error or when no session could be made.\n"
        "\n"
        "examples:\n"
        "  vmsi-run VMSI_LaunchWait \"C:\\Program Files\\Tool\" tool.exe \"/quiet /log x.txt\"\n"
        "  vmsi-run --msi VmsiCheckForQLMK VMSICHECKFORQLMK_VERSION=4 "
        "VMSICHECKFORQLMK_FAILONZERO=1\n");
}

void printList() {
    for (const ExportDescription& description : exportTable) {
        std::printf("%s", description.name);
        if (description.argumentCount > 0) {
            std::printf(" %s", argumentList(description).c_str());
        }
        std::printf("\n    %s\n", description.summary);
    }
}

void printVersion() {
    std::printf("vmsi-run %s\n", readModuleIdentity(nullptr).version.c_str());
}

// --help, --list and --version stand alone.
const struct StandAloneOption {
    const char* word;
    void (*print)();
} standAloneOptions[] = {
    {"--help", printHelp}, {"-h", printHelp}, {"--list", printList}, {"--version", printVersion}};

const StandAloneOption* findStandAloneOption(const std::string& word) {
    for (const StandAloneOption& option : standAloneOptions) {
        if (word == option.word) {
            return &option;
        }
    }
    return nullptr;
}

int standsAlone(const std::string& word) {
    return usageError(word + " takes nothing else: vmsi-run " + word);
}

// The exit status when the first word is an option that stands alone,
// nothing when it is none.
std::optional<int> runStandAloneOption(const std::vector<std::string>& words) {
    const StandAloneOption* option = words.empty() ? nullptr : findStandAloneOption(words[0]);
    if (option == nullptr) {
        return std::nullopt;
    }
    if (words.size() > 1) {
        return standsAlone(words[0]);
    }
    option->print();
    return 0;
}

// The options, then the name, then its arguments; after --, no word is an
// option or --null. Nothing, after a usage error, when the words do not fit.
std::optional<Command> readCommand(const std::vector<std::string>& words) {
    Command command;
    bool literal = false;
    std::size_t at = 0;
    while (at < words.size() && !literal && words[at].rfind("--", 0) == 0) {
        const std::string& word = words[at++];
        if (word == "--") {
            literal = true;
        } else if (word == "--msi") {
            command.tryEntry = true;
        } else if (word == "--dll" && at < words.size()) {
            command.dllPath = words[at++];
        } else if (word == "--dll") {
            usageError("--dll needs the path of a library: vmsi-run --dll PATH EXPORT ...");
            return std::nullopt;
        } else {
            findStandAloneOption(word) != nullptr
                ? standsAlone(word)
                : usageError("unknown option \"" + word + "\"; vmsi-run --help shows the options");
            return std::nullopt;
        }
    }
    if (at == words.size()) {
        usageError(command.tryEntry ? "name an entry to try: vmsi-run --msi ENTRY [NAME=VALUE...]"
                                    : "name an export to run: vmsi-run EXPORT [ARG...]; "
                                      "vmsi-run --list shows them, vmsi-run --help shows how");
        return std::nullopt;
    }
    command.name = words[at++];
    for (; at < words.size(); ++at) {
        if (!literal && words[at] == "--") {
            literal = true;
            continue;
        }
        command.arguments.push_back({words[at], !literal && words[at] == "--null"});
    }
    return command;
}

// The export's arguments as the command line gives them, converted by kind
// into values; a usage error's exit status when they do not fit the export.
int convertArguments(const ExportDescription& action, const std::vector<ArgumentWord>& given,
                     std::vector<ArgumentValue>& values) {
    if (given.size() != action.argumentCount) {
        const std::string expected =
            action.argumentCount == 0
                ? std::string("no arguments")
                : std::to_string(action.argumentCount) + " argument(s): " + argumentList(action);
        return usageError(std::string(action.name) + " takes " + expected + "; " +
                          std::to_string(given.size()) + " given (use \"\" for an empty text)");
    }
    for (std::size_t i = 0; i < given.size(); ++i) {
        const ArgumentDescription& argument = action.arguments[i];
        if (argument.kind == ArgumentKind::Text) {
            values.push_back(given[i].isNull ? ArgumentValue::nullText()
                                             : ArgumentValue::ofText(given[i].text));
            continue;
        }
        // The entry points' rule, so that a number that one of them takes
        // from a property the runner takes from its command line.
        const std::optional<int> value = msi::parseDecimalInteger(given[i].text);
        if (!value) {
            return usageError(std::string(action.name) + ": " + argument.name +
                              " must be a decimal integer from -2147483648 to 2147483647, not \"" +
                              given[i].text + "\"");
        }
        values.push_back(ArgumentValue::ofInteger(*value));
    }
    return 0;
}

// Loads the library, calls the export with a null owner window and prints
// what it gives back; the exit status.
int runExport(const std::string& dllPath, const ExportDescription& action,
              const std::vector<ArgumentValue>& values) {
    const LoadedModule library = runner::loadLibraryToRun(dllPath);
    if (!library) {
        return exitUsage;
    }
    const FARPROC function = exportOf(library.get(), action.name);
    if (function == nullptr) {
        return usageError(dllPath + " has no export " + action.name +
                          "; is it a library of this runner's version? (--dll PATH)");
    }
    std::fflush(stdout);
    if (action.kind == ExportKind::IdentityFunction) {
        std::string path;
        std::string version;
        exportOf<Identity>(library.get(), action.name)(path, version);
        std::printf("path: %s\nversion: %s\n", path.c_str(), version.c_str());
        std::fflush(stdout);
        return 0;
    }
    std::vector<char> buffer(resultBufferSize, unwrittenByte);
    const int result = callExport(function, action, values, buffer.data());
    std::fflush(stderr);
    std::printf("result: %d\n", result);
    if (action.kind == ExportKind::BufferAction &&
        std::memchr(buffer.data(), 0, buffer.size()) != nullptr) {
        std::printf("buffer: %s\n", buffer.data());
    }
    std::fflush(stdout);
    return result == 1 ? 0 : 1;
}

int runCommand(const Command& command) {
    if (command.tryEntry) {
        std::vector<std::string> assignments;
        for (const ArgumentWord& word : command.arguments) {
            assignments.push_back(word.text);
        }
        return runner::tryEntry(command.dllPath.empty()
                                    ? runner::besideThisProgram("VardoMSICustomActionsMsi.dll")
                                    : command.dllPath,
                                command.name, assignments);
    }
    const ExportDescription* action = findExport(command.name);
    if (action == nullptr) {
        return usageError("unknown export \"" + command.name +
                          "\"; vmsi-run --list shows the exports (names are case-sensitive)");
    }
    std::vector<ArgumentValue> values;
    const int status = convertArguments(*action, command.arguments, values);
    return status != 0 ? status
                       : runExport(command.dllPath.empty()
                                       ? runner::besideThisProgram("VardoMSICustomActionsTrace.dll")
                                       : command.dllPath,
                                   *action, values);
}

} // namespace

int main(int argc, char** argv) {
    // Lines end in a line feed alone, as the trace variant writes its own.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (const std::optional<int> status = runStandAloneOption(words)) {
        return *status;
    }
    const std::optional<Command> command = readCommand(words);
    return command ? runCommand(*command) : exitUsage;
}
