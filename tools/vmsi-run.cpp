// vmsi-run: runs one export of the library by name, as an installer would,
// and shows what it did: the trace variant's diagnostic lines on standard
// error as they come, then the result on standard output.
//
//   vmsi-run [--dll PATH] EXPORT [ARG...]
//   vmsi-run --list | --help
//
// Exit status: 0 when the action returned 1, 1 when it returned 0, 2 on a
// usage error.
#include "export_table.h"
#include "handles.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace vmsi;

namespace {

constexpr int exitUsage = 2;
constexpr std::size_t resultBufferSize = 64 * 1024;
// The buffer is filled with this byte and has no zero in it, so a written
// buffer is one that holds a terminating zero afterwards.
constexpr char unwrittenByte = '\xA5';

using Identity = void(__stdcall*)(std::string& path, std::string& version);

std::string argumentList(const ExportDescription& description) {
    std::string list;
    for (std::size_t i = 0; i < description.argumentCount; ++i) {
        const ArgumentDescription& argument = description.arguments[i];
        list += std::string(i > 0 ? " " : "") + argument.name + ":" +
                (argument.kind == ArgumentKind::Text ? "text" : "integer");
    }
    return list;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "vmsi-run: %s\n", message.c_str());
    return exitUsage;
}

void printHelp() {
    std::printf(
        "usage: vmsi-run [--dll PATH] EXPORT [ARG...]\n"
        "       vmsi-run --list     every export with its arguments\n"
        "       vmsi-run --help     this text\n"
        "\n"
        "Loads the trace variant of the library beside this program (or the DLL named\n"
        "by --dll), calls EXPORT with a null owner window and the arguments given,\n"
        "prints the diagnostic lines on standard error and then \"result: 1\" or\n"
        "\"result: 0\" on standard output. Texts are taken as given (the word --null\n"
        "passes a null pointer); integers are decimal and may be negative. The two\n"
        "actions that hand back a text get a 64 KiB buffer and print \"buffer: ...\".\n"
        "\n"
        "Exit status: 0 when the action returned 1, 1 when it returned 0, 2 on a\n"
        "usage error.\n"
        "\n"
        "example:\n"
        "  vmsi-run VMSI_LaunchWait \"C:\\Program Files\\Tool\" tool.exe \"/quiet /log x.txt\"\n");
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

std::optional<int> parseInteger(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(parsed);
}

std::string folderOfThisProgram() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            std::string text(path.data(), length);
            return text.substr(0, text.find_last_of('\\'));
        }
        path.resize(path.size() * 2);
    }
}

// The export's arguments as the command line gives them, converted by kind
// into values; a usage error's exit status when they do not fit the export.
int convertArguments(const ExportDescription& action, const std::vector<std::string>& given,
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
            values.push_back(given[i] == "--null" ? ArgumentValue::nullText()
                                                  : ArgumentValue::ofText(given[i]));
            continue;
        }
        const std::optional<int> value = parseInteger(given[i]);
        if (!value) {
            return usageError(std::string(action.name) + ": " + argument.name +
                              " must be a decimal integer from -2147483648 to 2147483647, not \"" +
                              given[i] + "\"");
        }
        values.push_back(ArgumentValue::ofInteger(*value));
    }
    return 0;
}

// Loads the library, calls the export with a null owner window and prints
// what it gives back; the exit status.
int runExport(const std::string& dllPath, const ExportDescription& action,
              const std::vector<ArgumentValue>& values) {
    const LoadedModule library(LoadLibraryA(dllPath.c_str()));
    if (!library) {
        const DWORD error = GetLastError();
        return usageError("cannot load " + dllPath + " (error " + std::to_string(error) +
                          "); name the library with --dll PATH");
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

} // namespace

int main(int argc, char** argv) {
    // Lines end in a line feed alone, as the trace variant writes its own.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::string first = arguments.empty() ? std::string() : arguments[0];
    if (first == "--help" || first == "-h") {
        printHelp();
        return 0;
    }
    if (first == "--list") {
        printList();
        return 0;
    }
    std::string dllPath = folderOfThisProgram() + "\\VardoMSICustomActionsTrace.dll";
    if (first == "--dll") {
        if (arguments.size() < 2) {
            return usageError("--dll needs the path of a library: vmsi-run --dll PATH EXPORT ...");
        }
        dllPath = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    if (arguments.empty()) {
        return usageError("name an export to run: vmsi-run EXPORT [ARG...]; "
                          "vmsi-run --list shows them, vmsi-run --help shows how");
    }
    const ExportDescription* action = findExport(arguments[0]);
    if (action == nullptr) {
        return usageError("unknown export \"" + arguments[0] +
                          "\"; vmsi-run --list shows the exports (names are case-sensitive)");
    }
    std::vector<ArgumentValue> values;
    const int status = convertArguments(
        *action, std::vector<std::string>(arguments.begin() + 1, arguments.end()), values);
    return status != 0 ? status : runExport(dllPath, *action, values);
}
