/*
 * VardoMSICustomActions: installer custom actions.
 *
 * Every export uses the standard calling convention (__stdcall: the called
 * function removes its arguments), every argument is 32 bits wide on the
 * 32-bit build, and every export is exported under its undecorated name.
 * Each action takes an owner window (may be null) first and returns 1 or 0;
 * text arguments are zero-terminated 8-bit strings in the ANSI code page and
 * a null pointer counts as the empty text.
 */
#ifndef VARDO_MSI_CUSTOM_ACTIONS_H
#define VARDO_MSI_CUSTOM_ACTIONS_H

#include <windows.h>

#ifdef VMSI_BUILDING_LIBRARY
#define VMSI_API
#else
#define VMSI_API __declspec(dllimport)
#endif

#ifdef __cplusplus
#include <string>
extern "C" {
#endif

/* Each export's contract (its arguments, result, reports and where it
 * differs from its predecessor) is docs/actions.md, one section each. */

/* Opens folder\fileName through the shell; 1 when the file exists. */
VMSI_API int __stdcall VMSI_Launch(HWND owner, const char* folder, const char* fileName,
                                   const char* parameters);
/* Starts folder\fileName and waits for its end; 1 when it was started and has ended. */
VMSI_API int __stdcall VMSI_LaunchWait(HWND owner, const char* folder, const char* fileName,
                                       const char* parameters);
/* Starts the system's regsvr32 on "folder\fileName" and waits up to 30 s for
 * it to be idle for input; 1 when the file exists and the tool was started. */
VMSI_API int __stdcall VMSI_Register(HWND owner, const char* options, const char* folder,
                                     const char* fileName);
/* 1 when the program's App Paths entry names something that exists. */
VMSI_API int __stdcall VMSI_CheckIfAppInstalled(HWND owner, const char* programName);
/* 1 when the file's file version is at least first.second.third.fourth. */
VMSI_API int __stdcall VMSI_CheckVersionOfFile(HWND owner, const char* folder, const char* fileName,
                                               int first, int second, int third, int fourth);
/* Copies a Start-menu shortcut onto the desktop; 1 when it was copied. */
VMSI_API int __stdcall VMSI_CreateDesktopShortcut(HWND owner, int allUsersMode,
                                                  const char* programGroup,
                                                  const char* shortcutFileName);
/* Deletes a shortcut from the desktop the mode chooses; 1 when it was deleted. */
VMSI_API int __stdcall VMSI_RemoveDesktopShortcut(HWND owner, int allUsersMode,
                                                  const char* shortcutFileName);
/* Finds an earlier catalogue pcdb.mdb; 1 and its path in the MAX_PATH-byte buffer (or null). */
VMSI_API int __stdcall VMSI_CheckForQLMKDB(HWND owner, char* databasePath);
/* 1 and the marker's text in the MAX_PATH-byte buffer (or null) when that version is installed. */
VMSI_API int __stdcall VMSI_CheckForQLMK(HWND owner, int version, char* versionText);
/* Runs toolFolder\DbMigrate.exe on the old catalogue and waits; 1 when it ran. */
VMSI_API int __stdcall VMSI_LaunchDbMigrate(HWND owner, const char* toolFolder,
                                            const char* oldCatalogue, const char* newFolder,
                                            const char* newFileName);
/* Writes baseFolder\fileFolder\favorite.txt; 1 when the line was written. */
VMSI_API int __stdcall VMSI_WriteFavorites(HWND owner, const char* baseFolder,
                                           const char* fileFolder, const char* favourite);
/* Empties and deletes parentFolder\cacheFolderName, a name below the parent (a
 * leading separator joins below it too); always 0. */
VMSI_API int __stdcall VMSI_RemoveQLMKCache(HWND owner, const char* parentFolder,
                                            const char* cacheFolderName);

#ifdef __cplusplus
} /* extern "C" */

/* The library's path and file version, in the std::string of mingw-w64 g++:
 * for C++ callers built with that toolchain only. */
extern "C" VMSI_API void __stdcall GetDLLNameAndVersion(std::string& modulePath,
                                                        std::string& moduleVersion);
#endif

#endif /* VARDO_MSI_CUSTOM_ACTIONS_H */
