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

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace vmsi::tools;

namespace {

constexpr int exitUsage = 2;
constexpr std::size_t resultBufferSize = 64 * 1024;
// The buffer is filled with this byte and has no zero in it, so a written
// buffer is one that holds a terminating zero afterwards.
constexpr unsigned char unwrittenByte = 0xA5;

using Word = std::intptr_t;

const char* typeName(ArgumentType type) {
    return type == ArgumentType::Text ? "text" : "integer";
}

std::string argumentList(const ExportDescription& description) {
    std::string list;
    for (std::size_t i = 0; i < description.argumentCount; ++i) {
        if (i > 0) {
            list += ' ';
        }
        list += description.arguments[i].name;
        list += ':';
        list += typeName(description.arguments[i].type);
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

const ExportDescription* findExport(const std::string& name) {
    for (const ExportDescription& description : exportTable) {
        if (name == description.name) {
            return &description;
        }
    }
    return nullptr;
}

bool parseInteger(const char* text, int& value) {
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
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

// Every argument is one machine word: a pointer or a sign-extended int. That
// is exactly the 32-bit standard calling convention on win32, and what the
// 64-bit convention passes in registers on win64.
int callAction(void* function, const std::vector<Word>& words) {
    switch (words.size()) {
    case 1:
        return reinterpret_cast<int(__stdcall*)(Word)>(function)(words[0]);
    case 2:
        return reinterpret_cast<int(__stdcall*)(Word, Word)>(function)(words[0], words[1]);
    case 3:
        return reinterpret_cast<int(__stdcall*)(Word, Word, Word)>(function)(words[0], words[1],
                                                                             words[2]);
    case 4:
        return reinterpret_cast<int(__stdcall*)(Word, Word, Word, Word)>(function)(
            words[0], words[1], words[2], words[3]);
    case 5:
        return reinterpret_cast<int(__stdcall*)(Word, Word, Word, Word, Word)>(function)(
            words[0], words[1], words[2], words[3], words[4]);
    case 6:
        return reinterpret_cast<int(__stdcall*)(Word, Word, Word, Word, Word, Word)>(function)(
            words[0], words[1], words[2], words[3], words[4], words[5]);
    case 7:
        return reinterpret_cast<int(__stdcall*)(Word, Word, Word, Word, Word, Word, Word)>(
            function)(words[0], words[1], words[2], words[3], words[4], words[5], words[6]);
    default:
        std::abort(); // the table allows no more
    }
}

int runIdentity(void* function) {
    std::string path;
    std::string version;
    reinterpret_cast<void(__stdcall*)(std::string&, std::string&)>(function)(path, version);
    std::printf("path: %s\nversion: %s\n", path.c_str(), version.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Lines end in a line feed alone, as the trace variant writes its own.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string dllPath = folderOfThisProgram() + "\\VardoMSICustomActionsTrace.dll";

    if (!arguments.empty() && (arguments[0] == "--help" || arguments[0] == "-h")) {
        printHelp();
        return 0;
    }
    if (!arguments.empty() && arguments[0] == "--list") {
        printList();
        return 0;
    }
    if (!arguments.empty() && arguments[0] == "--dll") {
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

    const ExportDescription* description = findExport(arguments[0]);
    if (description == nullptr) {
        return usageError("unknown export \"" + arguments[0] +
                          "\"; vmsi-run --list shows the exports (names are case-sensitive)");
    }
    const std::size_t given = arguments.size() - 1;
    if (given != description->argumentCount) {
        std::string expected = description->argumentCount == 0
                                   ? std::string("no arguments")
                                   : std::to_string(description->argumentCount) +
                                         " argument(s): " + argumentList(*description);
        return usageError(std::string(description->name) + " takes " + expected + "; " +
                          std::to_string(given) + " given (use \"\" for an empty text)");
    }

    // The owner window is always null; then the arguments, converted by type.
    std::vector<Word> words{0};
    for (std::size_t i = 0; i < description->argumentCount; ++i) {
        const ArgumentDescription& argument = description->arguments[i];
        const std::string& given = arguments[i + 1];
        if (argument.type == ArgumentType::Text) {
            words.push_back(given == "--null" ? 0 : reinterpret_cast<Word>(given.c_str()));
            continue;
        }
        int value = 0;
        if (!parseInteger(given.c_str(), value)) {
            return usageError(std::string(description->name) + ": " + argument.name +
                              " must be a decimal integer from -2147483648 to 2147483647, not \"" +
                              given + "\"");
        }
        words.push_back(static_cast<Word>(value));
    }

    HMODULE library = LoadLibraryA(dllPath.c_str());
    if (library == nullptr) {
        const DWORD error = GetLastError();
        return usageError("cannot load " + dllPath + " (error " + std::to_string(error) +
                          "); name the library with --dll PATH");
    }
    void* function = reinterpret_cast<void*>(GetProcAddress(library, description->name));
    if (function == nullptr) {
        FreeLibrary(library);
        return usageError(dllPath + " has no export " + description->name +
                          "; is it a library of this runner's version? (--dll PATH)");
    }

    std::fflush(stdout);
    int exitStatus = 0;
    if (description->kind == ExportKind::IdentityFunction) {
        exitStatus = runIdentity(function);
    } else {
        std::vector<unsigned char> buffer(resultBufferSize, unwrittenByte);
        if (description->kind == ExportKind::BufferAction) {
            words.push_back(reinterpret_cast<Word>(buffer.data()));
        }
        const int result = callAction(function, words);
        std::fflush(stderr);
        std::printf("result: %d\n", result);
        const void* end = std::memchr(buffer.data(), 0, buffer.size());
        if (description->kind == ExportKind::BufferAction && end != nullptr) {
            std::printf("buffer: %s\n", reinterpret_cast<const char*>(buffer.data()));
        }
        exitStatus = result == 1 ? 0 : 1;
    }
    std::fflush(stdout);
    FreeLibrary(library);
    return exitStatus;
}
