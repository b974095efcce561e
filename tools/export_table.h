// The library's exports as the action runner knows them: name, and the
// arguments a person gives on the command line, in order. Every action also
// takes an owner window first, which the runner always passes as null; the
// two buffer actions take a result buffer last, which the runner supplies.
// A test holds this table against the DLL's export table and the public
// header, so the three cannot drift apart.
#pragma once

#include <cstddef>

namespace vmsi::tools {

enum class ArgumentType {
    Text,    // const char*, "--null" for a null pointer
    Integer, // int, decimal, negative allowed
};

struct ArgumentDescription {
    const char* name;
    ArgumentType type;
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
    std::size_t argumentCount;
    ArgumentDescription arguments[maximumArguments];
    const char* summary;
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
     {{"folder", ArgumentType::Text},
      {"fileName", ArgumentType::Text},
      {"parameters", ArgumentType::Text}},
     "open folder\\fileName through the shell; 1 when the file exists"},
    {"VMSI_LaunchWait",
     ExportKind::Action,
     3,
     {{"folder", ArgumentType::Text},
      {"fileName", ArgumentType::Text},
      {"parameters", ArgumentType::Text}},
     "start folder\\fileName and wait for it; 1 when it was started and has ended"},
    {"VMSI_Register",
     ExportKind::Action,
     3,
     {{"options", ArgumentType::Text},
      {"folder", ArgumentType::Text},
      {"fileName", ArgumentType::Text}},
     "start the system's regsvr32 on folder\\fileName; 1 when the file exists and it started"},
    {"VMSI_CheckIfAppInstalled",
     ExportKind::Action,
     1,
     {{"programName", ArgumentType::Text}},
     "1 when the program's App Paths entry names something that exists"},
    {"VMSI_CheckVersionOfFile",
     ExportKind::Action,
     6,
     {{"folder", ArgumentType::Text},
      {"fileName", ArgumentType::Text},
      {"first", ArgumentType::Integer},
      {"second", ArgumentType::Integer},
      {"third", ArgumentType::Integer},
      {"fourth", ArgumentType::Integer}},
     "1 when the file is found and its file version is at least first.second.third.fourth"},
    {"VMSI_CreateDesktopShortcut",
     ExportKind::Action,
     3,
     {{"allUsersMode", ArgumentType::Integer},
      {"programGroup", ArgumentType::Text},
      {"shortcutFileName", ArgumentType::Text}},
     "copy a Start-menu shortcut onto the desktop (mode 0 user, 1 all users, 2 by rights)"},
    {"VMSI_RemoveDesktopShortcut",
     ExportKind::Action,
     2,
     {{"allUsersMode", ArgumentType::Integer}, {"shortcutFileName", ArgumentType::Text}},
     "delete a shortcut from the desktop that the mode chooses"},
    {"VMSI_CheckForQLMKDB",
     ExportKind::BufferAction,
     0,
     {},
     "find an earlier product's catalogue pcdb.mdb; 1 and its path in the buffer when found"},
    {"VMSI_CheckForQLMK",
     ExportKind::BufferAction,
     1,
     {{"version", ArgumentType::Integer}},
     "1 and the marker's text in the buffer when Quillmark version <version> is installed"},
    {"VMSI_LaunchDbMigrate",
     ExportKind::Action,
     4,
     {{"toolFolder", ArgumentType::Text},
      {"oldCatalogue", ArgumentType::Text},
      {"newFolder", ArgumentType::Text},
      {"newFileName", ArgumentType::Text}},
     "run toolFolder\\DbMigrate.exe on the old catalogue and wait; 1 when it ran"},
    {"VMSI_WriteFavorites",
     ExportKind::Action,
     3,
     {{"baseFolder", ArgumentType::Text},
      {"fileFolder", ArgumentType::Text},
      {"favourite", ArgumentType::Text}},
     "write baseFolder\\fileFolder\\favorite.txt holding baseFolder\\favourite"},
    {"VMSI_RemoveQLMKCache",
     ExportKind::Action,
     2,
     {{"parentFolder", ArgumentType::Text}, {"cacheFolderName", ArgumentType::Text}},
     "delete the files of parentFolder\\cacheFolderName and the folder; always 0"},
};

inline constexpr std::size_t exportCount = sizeof exportTable / sizeof exportTable[0];

} // namespace vmsi::tools
