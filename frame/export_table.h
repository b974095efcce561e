// The library's thirteen exports, described once: each one's name, the
// kinds of its arguments, the argument bytes its function removes from the
// 32-bit stack, and whether it hands a text back through a result buffer.
// The action runner, the Windows Installer entry points, the tests and the
// 32-bit stage all read their exports from here; tests hold the table
// against the export list (frame/exports.def), the public header and the
// built DLL, so none of them can drift from it.
#pragma once

#include "handles.h"
#include "text.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

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

// In the order of the library's export list.
inline constexpr ExportDescription exportTable[] = {
    {"GetDLLNameAndVersion",
     ExportKind::IdentityFunction,
     0,
     {},
     "the library's full path and file version"},
    {"VMSI_Launch",
     ExportKind::Action,
     3,
     {{"folder", ArgumentKind::Text},
      {"fileName", ArgumentKind::Text},
      {"parameters", ArgumentKind::Text}},
     "open folder\\fileName through the shell; 1 when the file exists"},
    {"VMSI_LaunchWait",
     ExportKind::Action,
     3,
     {{"folder", ArgumentKind::Text},
      {"fileName", ArgumentKind::Text},
      {"parameters", ArgumentKind::Text}},
     "start folder\\fileName and wait for it; 1 when it was started and has ended"},
    {"VMSI_Register",
     ExportKind::Action,
     3,
     {{"options", ArgumentKind::Text},
      {"folder", ArgumentKind::Text},
      {"fileName", ArgumentKind::Text}},
     "start the system's regsvr32 on folder\\fileName; 1 when the file exists and it started"},
    {"VMSI_CheckIfAppInstalled",
     ExportKind::Action,
     1,
     {{"programName", ArgumentKind::Text}},
     "1 when the program's App Paths entry names something that exists"},
    {"VMSI_CheckVersionOfFile",
     ExportKind::Action,
     6,
     {{"folder", ArgumentKind::Text},
      {"fileName", ArgumentKind::Text},
      {"first", ArgumentKind::Integer},
      {"second", ArgumentKind::Integer},
      {"third", ArgumentKind::Integer},
      {"fourth", ArgumentKind::Integer}},
     "1 when the file is found and its file version is at least first.second.third.fourth"},
    {"VMSI_CreateDesktopShortcut",
     ExportKind::Action,
     3,
     {{"allUsersMode", ArgumentKind::Integer},
      {"programGroup", ArgumentKind::Text},
      {"shortcutFileName", ArgumentKind::Text}},
     "copy a Start-menu shortcut onto the desktop (mode 0 user, 1 all users, 2 by rights)"},
    {"VMSI_RemoveDesktopShortcut",
     ExportKind::Action,
     2,
     {{"allUsersMode", ArgumentKind::Integer}, {"shortcutFileName", ArgumentKind::Text}},
     "delete a shortcut from the desktop that the mode chooses"},
    {"VMSI_CheckForQLMKDB",
     ExportKind::BufferAction,
     0,
     {},
     "find an earlier product's catalogue pcdb.mdb; 1 and its path in the buffer when found"},
    {"VMSI_CheckForQLMK",
     ExportKind::BufferAction,
     1,
     {{"version", ArgumentKind::Integer}},
     "1 and the marker's text in the buffer when Quillmark version <version> is installed"},
    {"VMSI_LaunchDbMigrate",
     ExportKind::Action,
     4,
     {{"toolFolder", ArgumentKind::Text},
      {"oldCatalogue", ArgumentKind::Text},
      {"newFolder", ArgumentKind::Text},
      {"newFileName", ArgumentKind::Text}},
     "run toolFolder\\DbMigrate.exe on the old catalogue and wait; 1 when it ran"},
    {"VMSI_WriteFavorites",
     ExportKind::Action,
     3,
     {{"baseFolder", ArgumentKind::Text},
      {"fileFolder", ArgumentKind::Text},
      {"favourite", ArgumentKind::Text}},
     "write baseFolder\\fileFolder\\favorite.txt holding baseFolder\\favourite"},
    {"VMSI_RemoveQLMKCache",
     ExportKind::Action,
     2,
     {{"parentFolder", ArgumentKind::Text}, {"cacheFolderName", ArgumentKind::Text}},
     "delete the files of parentFolder\\cacheFolderName and the folder; always 0"},
};

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

// One argument as an installer passes it: a text, possibly null, or an int.
struct ArgumentValue {
    bool isNull = false;
    Text text;
    int integer = 0;

    static ArgumentValue nullText() { return {true, Text(), 0}; }
    static ArgumentValue ofText(Text value) { return {false, std::move(value), 0}; }
    static ArgumentValue ofInteger(int value) { return {false, Text(), value}; }
};

// Whether callExport below has a prototype for every action of the table.
constexpr bool everyActionIsCallable() {
    for (const ExportDescription& description : exportTable) {
        const std::size_t slots = description.slotCount();
        if (description.kind != ExportKind::IdentityFunction &&
            (slots < 2 || slots == 6 || slots > 7)) {
            return false;
        }
    }
    return true;
}
static_assert(everyActionIsCallable(), "callExport has no prototype for an action of the table");

// Calls an action (not the identity function) at that address as an
// installer would: a null owner window, the arguments in the table's order
// (one value per argument) and, for a buffer action, the result buffer;
// returns the action's result.
//
// Every argument of every action is a window handle, a pointer or an int,
// one slot each in both calling conventions the library is built for, of
// which an int uses the low half on x64. So an action can be called through
// a prototype whose arguments are all pointer-sized integers, with the same
// effect as through its own.
inline int callExport(FARPROC address, const ExportDescription& action,
                      const std::vector<ArgumentValue>& arguments, char* resultBuffer) {
    using Slot = std::intptr_t;
    std::vector<Slot> slots = {0};
    for (std::size_t i = 0; i < action.argumentCount; ++i) {
        const ArgumentValue& argument = arguments[i];
        slots.push_back(action.arguments[i].kind == ArgumentKind::Integer ? argument.integer
                        : argument.isNull                                 ? 0
                                          : reinterpret_cast<Slot>(argument.text.c_str()));
    }
    if (action.kind == ExportKind::BufferAction) {
        slots.push_back(reinterpret_cast<Slot>(resultBuffer));
    }
    const auto function = reinterpret_cast<void*>(address);
    switch (action.kind == ExportKind::IdentityFunction ? 0 : slots.size()) {
    case 2:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot)>(function)(slots[0], slots[1]);
    case 3:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot, Slot)>(function)(slots[0], slots[1],
                                                                             slots[2]);
    case 4:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot, Slot, Slot)>(function)(
            slots[0], slots[1], slots[2], slots[3]);
    case 5:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot, Slot, Slot, Slot)>(function)(
            slots[0], slots[1], slots[2], slots[3], slots[4]);
    case 7:
        return reinterpret_cast<int(__stdcall*)(Slot, Slot, Slot, Slot, Slot, Slot, Slot)>(
            function)(slots[0], slots[1], slots[2], slots[3], slots[4], slots[5], slots[6]);
    default:
        std::abort(); // no action of the table takes another number
    }
}

} // namespace vmsi
