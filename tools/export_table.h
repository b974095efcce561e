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
};

inline constexpr std::size_t exportCount = sizeof exportTable / sizeof exportTable[0];

} // namespace vmsi::tools
