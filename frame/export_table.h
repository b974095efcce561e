// The library's thirteen exports, described once: each one's name, the
// kinds of its arguments, the argument bytes its function removes from the
// 32-bit stack, and whether it hands a text back through a result buffer.
// Kinds and bytes are read from the public header's prototypes, so the table
// cannot disagree with it; the argument names and one-line summaries (which
// vmsi-run --list shows) are written here. The action runner, the Windows
// Installer entry points, the tests and the 32-bit stage all read their
// exports from here.
#pragma once

#include "VardoMSICustomActions.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace vmsi {

enum class ArgumentKind {
    Text,    // const char*, possibly null
    Integer, // int
};

struct ArgumentDescription {
    const char* name;
    ArgumentKind kind;
};

enum class ExportKind {
    Action,           // int __stdcall (HWND owner, arguments...)
    BufferAction,     // int __stdcall (HWND owner, arguments..., char* resultBuffer)
    IdentityFunction, // void __stdcall (std::string& path, std::string& version)
};

constexpr std::size_t maximumArguments = 6;

struct ExportDescription {
    const char* name;
    ExportKind kind;
    std::size_t argumentCount; // besides the owner window and the result buffer
    ArgumentDescription arguments[maximumArguments];
    const char* summary;

    // Every argument is one slot: a 4-byte word on the 32-bit stack, a
    // register or an 8-byte word on x64. The identity function takes two
    // references; an action its owner window, its arguments and, for a
    // buffer action, the buffer.
    constexpr std::size_t slotCount() const {
        if (kind == ExportKind::IdentityFunction) {
            return 2;
        }
        return 1 + argumentCount + (kind == ExportKind::BufferAction ? 1 : 0);
    }
    // What the __stdcall function removes from the 32-bit stack: the N of
    // its decorated name Name@N in the export list.
    constexpr std::size_t argumentBytes() const { return 4 * slotCount(); }
};

namespace exports {

template <typename Argument>
constexpr bool isArgument = std::is_same_v<Argument, const char*> || std::is_same_v<Argument, int>;

template <typename Argument>
constexpr ArgumentKind kindOf() {
    return std::is_same_v<Argument, int> ? ArgumentKind::Integer : ArgumentKind::Text;
}

// What a prototype of the header is: an action (the owner window, then texts
// and ints, and a result buffer last for a buffer action) or the identity
// function. Any other prototype has no shape and does not compile here.
template <typename Function>
struct Shape;

template <typename... Arguments>
struct Shape<int(__stdcall*)(HWND, Arguments...)> {
    static constexpr std::size_t given = sizeof...(Arguments);
    static constexpr bool buffers[] = {std::is_same_v<Arguments, char*>..., false};
    static constexpr bool valid[] = {isArgument<Arguments>..., true};
    static constexpr ExportKind kind =
        given > 0 && buffers[given - 1] ? ExportKind::BufferAction : ExportKind::Action;
    static constexpr std::size_t count = given - (kind == ExportKind::BufferAction ? 1 : 0);
    static constexpr ArgumentKind kinds[] = {kindOf<Arguments>()..., ArgumentKind::Text};

    static constexpr bool takesTextsAndIntsOnly() {
        for (std::size_t i = 0; i < count; ++i) {
            if (!valid[i]) {
                return false;
            }
        }
        return true;
    }
    static_assert(takesTextsAndIntsOnly(), "an action takes texts and ints, and a buffer last");
};

template <>
struct Shape<void(__stdcall*)(std::string&, std::string&)> {
    static constexpr ExportKind kind = ExportKind::IdentityFunction;
    static constexpr std::size_t count = 0;
    static constexpr ArgumentKind kinds[1] = {};
};

// The description of the export of that prototype: its kinds from the type,
// one name per argument as given.
template <typename Function, std::size_t NameCount>
constexpr ExportDescription
describe(const char* name, const char* const (&argumentNames)[NameCount], const char* summary) {
    using S = Shape<Function>;
    static_assert(NameCount == S::count, "one name for each argument of the prototype");
    static_assert(NameCount <= maximumArguments);
    ExportDescription description{name, S::kind, S::count, {}, summary};
    for (std::size_t i = 0; i < NameCount; ++i) {
        description.arguments[i] = {argumentNames[i], S::kinds[i]};
    }
    return description;
}

template <typename Function>
constexpr ExportDescription describe(const char* name, const char* summary) {
    static_assert(Shape<Function>::count == 0, "one name for each argument of the prototype");
    return {name, Shape<Function>::kind, 0, {}, summary};
}

} // namespace exports

#define VMSI_DESCRIBE(function, ...) exports::describe<decltype(&function)>(#function, __VA_ARGS__)

// In the order of the library's export list.
inline constexpr ExportDescription exportTable[] = {
    VMSI_DESCRIBE(GetDLLNameAndVersion, "the library's full path and file version"),
    VMSI_DESCRIBE(VMSI_Launch, {"folder", "fileName", "parameters"},
                  "open folder\\fileName through the shell; 1 when the file exists"),
    VMSI_DESCRIBE(VMSI_LaunchWait, {"folder", "fileName", "parameters"},
                  "start folder\\fileName and wait for it; 1 when it was started and has ended"),
    VMSI_DESCRIBE(
        VMSI_Register, {"options", "folder", "fileName"},
        "start the system's regsvr32 on folder\\fileName; 1 when the file exists and it started"),
    VMSI_DESCRIBE(VMSI_CheckIfAppInstalled, {"programName"},
                  "1 when the program's App Paths entry names something that exists"),
    VMSI_DESCRIBE(
        VMSI_CheckVersionOfFile, {"folder", "fileName", "first", "second", "third", "fourth"},
        "1 when the file is found and its file version is at least first.second.third.fourth"),
    VMSI_DESCRIBE(
        VMSI_CreateDesktopShortcut, {"allUsersMode", "programGroup", "shortcutFileName"},
        "copy a Start-menu shortcut onto the desktop (mode 0 user, 1 all users, 2 by rights)"),
    VMSI_DESCRIBE(VMSI_RemoveDesktopShortcut, {"allUsersMode", "shortcutFileName"},
                  "delete a shortcut from the desktop that the mode chooses"),
    VMSI_DESCRIBE(
        VMSI_CheckForQLMKDB,
        "find an earlier product's catalogue pcdb.mdb; 1 and its path in the buffer when found"),
    VMSI_DESCRIBE(VMSI_CheckForQLMK, {"version"},
                  "1 and the marker's text in the buffer when Quillmark version <version> is "
                  "installed"),
    VMSI_DESCRIBE(VMSI_LaunchDbMigrate, {"toolFolder", "oldCatalogue", "newFolder", "newFileName"},
                  "run toolFolder\\DbMigrate.exe on the old catalogue and wait; 1 when it ran"),
    VMSI_DESCRIBE(VMSI_WriteFavorites, {"baseFolder", "fileFolder", "favourite"},
                  "write baseFolder\\fileFolder\\favorite.txt holding baseFolder\\favourite"),
    VMSI_DESCRIBE(VMSI_RemoveQLMKCache, {"parentFolder", "cacheFolderName"},
                  "delete the files of parentFolder\\cacheFolderName and the folder; always 0"),
};

#undef VMSI_DESCRIBE

inline constexpr std::size_t exportCount = sizeof exportTable / sizeof exportTable[0];

// The description of the export of that name, or null. Where it is
// evaluated as a constant, *findExport("...") of a name the table lacks does
// not compile.
constexpr const ExportDescription* findExport(std::string_view name) {
    for (const ExportDescription& description : exportTable) {
        if (name == description.name) {
            return &description;
        }
    }
    return nullptr;
}

} // namespace vmsi
