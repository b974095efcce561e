// System locations and registry reads shared by several actions. None of them
// reports to the diagnostic sink or fails outward: a missing key or value is
// the empty text, a refused key is a "no".
#pragma once

#include "text.h"

#include <windows.h>

#include <optional>

namespace vmsi {

constexpr REGSAM registryReadAccess = KEY_READ;                   // 0x20019
constexpr REGSAM registryWriteProbeAccess = KEY_READ | KEY_WRITE; // 0x2001F

// One value of an open key, whatever its type, as text up to its first NUL
// byte, and its type. Data without a NUL ends with the last byte actually
// read; REG_EXPAND_SZ data keeps its environment references unexpanded.
// Nothing when the value cannot be read.
struct RegistryText {
    Text text;
    DWORD type = REG_NONE;
};
std::optional<RegistryText> readRegistryText(HKEY key, const Text& valueName);
// The same read into a buffer of bufferSize bytes: longer data fails the
// read (ERROR_MORE_DATA) like a missing value.
std::optional<RegistryText> readRegistryText(HKEY key, const Text& valueName, DWORD bufferSize);

// The value of root\keyPath as text, of any length; the empty text when the
// key or the value cannot be read.
Text readRegistryString(HKEY root, const Text& keyPath, const Text& valueName);

// Whether the key opens for reading and holds a value of that name, of any
// type; neither its type nor its data is looked at.
bool registryValueExists(HKEY root, const Text& keyPath, const Text& valueName);

// The well-known folders, by the number the installer's tables use for them.
enum class ShellFolderKind : int {
    CommonDesktop = 0,
    Desktop = 1,
    CommonStartMenu = 2,
    StartMenu = 3,
    CommonPrograms = 4,
    Programs = 5,
    ProgramFiles = 6,
};

// The folder's path exactly as the registry stores it, or the empty text for
// a missing value or a kind outside 0..6 (negative kinds included).
Text shellFolderPath(int kind);

inline Text shellFolderPath(ShellFolderKind kind) {
    return shellFolderPath(static_cast<int>(kind));
}

// Whether HKLM\Software opens with write rights: the sign that the current
// user may install for every user of the machine. Opens and writes nothing
// else.
bool canWriteMachineSettings();

} // namespace vmsi
