// vmsi-run: runs one export of the library by name, as an installer would,
// and shows what it did: the trace variant's diagnostic lines on standard
// error as they come, then the result on standard output. With --msi it
// tries an entry point of the Windows Installer library instead
// (tools/entry_trial.h).
//
//   vmsi-run [--dll PATH] [--] EXPORT [ARG...]
//   vmsi-run --msi [--dll PATH] [--] ENTRY [NAME=VALUE...]
//   vmsi-run [--msi] [--dll PATH] --list | --version
//   vmsi-run --help
//
// Exit status: 0 when the action returned 1 (the entry ERROR_SUCCESS), 1 when
// it returned 0 (the entry any other code), 2 on a usage error.
#include "custom_action_data.h"
#include "entry_trial.h"
#include "export_call.h"
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

// A word of the command line as the system holds it, in UTF-16, and in the
// ANSI code page, as the plain exports take their texts.
struct Word {
    std::wstring wide;
    std::string text;
};

// One word after the export's or entry's name.
struct ArgumentWord {
    Word word;
    bool isNull; // the word --null, before any --
};

// What the library is read for instead of being run.
enum class Report { none, list, version };

// What the command line asks for, but for --help.
struct Command {
    bool tryEntry = false; // --msi
    std::string dllPath;   // empty: the library beside this program
    Report report = Report::none;
    std::string name;
    std::vector<ArgumentWord> arguments;

    // The library named by --dll, else the one beside this program that the
    // export or entry is run from.
    std::string libraryPath() const {
        return !dllPath.empty() ? dllPath
               : tryEntry       ? runner::besideThisProgram("VardoMSICustomActionsMsi.dll")
                                : runner::besideThisProgram("VardoMSICustomActionsTrace.dll");
    }
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
        "       vmsi-run [--msi] [--dll PATH] --list     the library's exports: the arguments\n"
        "                                                of each, the properties of each entry\n"
        "       vmsi-run [--msi] [--dll PATH] --version  this program's version and the\n"
        "                                                library's\n"
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
        "entry's CustomActionData cannot be tried this way. The properties are set in\n"
        "UTF-16, as the command line gives them and as a package sets them; one that\n"
        "the entry does not read is set after a warning naming those it reads.\n"
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

// Every export of the library, read from its export directory: an action's
// arguments, an entry's properties, and what it runs; other names alone.
int printList(const std::string& libraryPath) {
    const LoadedModule library = runner::mapLibraryToRead(libraryPath);
    if (!library) {
        return exitUsage;
    }
    for (const std::string& name : runner::exportedNames(library.get())) {
        std::printf("%s", name.c_str());
        if (const ExportDescription* action = findExport(name)) {
            if (action->argumentCount > 0) {
                std::printf(" %s", argumentList(*action).c_str());
            }
            std::printf("\n    %s", action->summary);
        } else if (const std::optional<runner::EntryReads> entry = runner::entryReads(name)) {
            for (const std::string& property : entry->properties) {
                std::printf(" %s", property.c_str());
            }
            std::printf("\n    entry of %s: %s", entry->action->name, entry->action->summary);
        }
        std::printf("\n");
    }
    return 0;
}

// This program's version, then the library's, each from its version
// resource.
int printVersion(const std::string& libraryPath) {
    std::printf("vmsi-run %s\n", readModuleIdentity(nullptr).version.c_str());
    std::fflush(stdout);
    const LoadedModule library = runner::mapLibraryToRead(libraryPath);
    if (!library) {
        return exitUsage;
    }
    const std::string version = readModuleIdentity(library.get()).version;
    std::printf("library %s: %s\n", version.empty() ? "(no version resource)" : version.c_str(),
                libraryPath.c_str());
    return 0;
}

int standsAlone(const std::string& word) {
    return usageError(word + " takes nothing else: vmsi-run " + word);
}

bool isHelp(const std::string& word) {
    return word == "--help" || word == "-h";
}

// The options, then either --list or --version, or the name and its
// arguments; after --, no word is an option or --null. Nothing, after a
// usage error, when the words do not fit.
std::optional<Command> readCommand(const std::vector<Word>& given) {
    std::vector<std::string> words;
    for (const Word& word : given) {
        words.push_back(word.text);
    }
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
        } else if ((word == "--list" || word == "--version") && at == words.size()) {
            command.report = word == "--list" ? Report::list : Report::version;
            return command;
        } else {
            word == "--list" || word == "--version" || isHelp(word)
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
        command.arguments.push_back({given[at], !literal && words[at] == "--null"});
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
                                             : ArgumentValue::ofText(given[i].word.text));
            continue;
        }
        // The entry points' rule, so that a number that one of them takes
        // from a property the runner takes from its command line.
        const std::optional<int> value = msi::parseDecimalInteger(given[i].word.text);
        if (!value) {
            return usageError(std::string(action.name) + ": " + argument.name +
                              " must be a decimal integer from -2147483648 to 2147483647, not \"" +
                              given[i].word.text + "\"");
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
    if (command.report == Report::list) {
        return printList(command.libraryPath());
    }
    if (command.report == Report::version) {
        return printVersion(command.libraryPath());
    }
    if (command.tryEntry) {
        std::vector<std::wstring> assignments;
        for (const ArgumentWord& argument : command.arguments) {
            assignments.push_back(argument.word.wide);
        }
        return runner::tryEntry(command.libraryPath(), command.name, assignments);
    }
    const ExportDescription* action = findExport(command.name);
    if (action == nullptr) {
        return usageError("unknown export \"" + command.name +
                          "\"; vmsi-run --list shows the exports (names are case-sensitive)");
    }
    std::vector<ArgumentValue> values;
    const int status = convertArguments(*action, command.arguments, values);
    return status != 0 ? status : runExport(command.libraryPath(), *action, values);
}

} // namespace

// The command line in UTF-16 (wmain, linked with -municode), so that an
// entry's properties get each character as given: the 8-bit command line
// would best-fit a fullwidth quote into a plain one.
int wmain(int argc, wchar_t** argv) {
    // Lines end in a line feed alone, as the trace variant writes its own.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<Word> words;
    for (int i = 1; i < argc; ++i) {
        words.push_back({argv[i], runner::ansiWord(argv[i])});
    }
    if (!words.empty() && isHelp(words[0].text)) {
        return words.size() == 1 ? (printHelp(), 0) : standsAlone(words[0].text);
    }
    const std::optional<Command> command = readCommand(words);
    return command ? runCommand(*command) : exitUsage;
}
